# The two commands a newcomer needs:
#   make run    install what is missing, build, start railmon on the simulated supply
#   make test   install what is missing, build, run the whole test suite: the
#               tests, the same tests under AddressSanitizer and
#               UndefinedBehaviorSanitizer, the fuzzers of the panel loader and
#               the remote parser, and the Windows binding tests (MinGW-w64
#               build, run under Wine)
# And for developers: make bench (benchmarks), make fuzz FUZZ_SECONDS=600 (each fuzzer),
# make format (apply the house style), make package (the Debian package).

# CI builds with warnings as errors. Each preset builds into its own folder
# (CMakePresets.json); run and bench use the one of the preset in use.
PRESET ?= $(if $(CI),ci,default)
BUILD_DIR := $(if $(filter ci,$(PRESET)),build-ci,build)

# The one clang the fuzzer is built with, and its runtime.
CLANG_VERSION := 14

DEBIAN_PACKAGES := cmake ninja-build g++ make clang-$(CLANG_VERSION) libclang-rt-$(CLANG_VERSION)-dev clang-format \
	qt6-base-dev qt6-tools-dev qt6-svg-dev libqt6opengl6-dev libxkbcommon-dev libxcb1-dev qt6-qpa-plugins \
	libqcustomplot-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core dpkg-dev \
	librsvg2-bin file lintian desktop-file-utils xvfb xdotool x11vnc iproute2 \
	g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine64 \
	prometheus prometheus-node-exporter curl \
	python3 valgrind locales \
	python3-pyvisa python3-pyvisa-py python3-pymeasure python3-matplotlib \
	at-spi2-core dbus-daemon dbus-bin python3-pyatspi

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: run test build deps clean bench sanitize fuzz format package windows

# Seconds each of the two fuzzers runs within make test.
FUZZ_SECONDS ?= 20

run: build
	cd $(BUILD_DIR)/bin && ./railmon

# The main suite runs last, so its summary closes the output.
test: build
	$(MAKE) --no-print-directory fuzz sanitize windows
	ctest --preset $(PRESET)

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

format: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) --target format

sanitize: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# The shipped panel file is the panel fuzzer's seed, tests/fuzz/scpi_seed.txt
# the parser's; new inputs each finds go to build-fuzz/corpus and
# build-fuzz/corpus-scpi.
fuzz: deps
	cmake --preset fuzz -DCMAKE_CXX_COMPILER=clang++-$(CLANG_VERSION)
	cmake --build --preset fuzz
	mkdir -p build-fuzz/corpus
	# Qt keeps fonts and caches for the life of the process: not leaks to hunt here.
	ASAN_OPTIONS=detect_leaks=0 build-fuzz/panel_fuzzer -max_total_time=$(FUZZ_SECONDS) \
		-close_fd_mask=2 -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
		-artifact_prefix=build-fuzz/ -seed_inputs=railmon-ctrl.uir build-fuzz/corpus
	mkdir -p build-fuzz/corpus-scpi
	build-fuzz/scpi_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
		-artifact_prefix=build-fuzz/scpi- -seed_inputs=tests/fuzz/scpi_seed.txt build-fuzz/corpus-scpi

# The driver layer, the loader, the simulated supply and the recording fake
# cross-built for Windows and run under Wine, in a prefix inside
# build-windows/ with a wineserver kept for the run (a CTest fixture).
windows: deps
	cmake --preset windows
	cmake --build --preset windows
	ctest --preset windows

# One table of every figure (bench/README.md); the whole run takes about
# half an hour, most of it the million-tick run (BENCH_ARGS="--only ticks,pace"
# for a part, --length-ticks N for a shorter one).
BENCH_ARGS ?=
bench: build
	python3 bench/run_bench.py $(BUILD_DIR) $(BENCH_ARGS)

# The .deb lands here, for `apt install ./railmon_*.deb`.
package: build
	cd $(BUILD_DIR) && cpack -G DEB
	cp $(BUILD_DIR)/railmon_*.deb .

# Installs only what is missing, so a ready machine goes straight to the build.
deps:
	@missing=$$(for p in $(DEBIAN_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update && \
		DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

clean:
	rm -rf build build-ci build-asan build-fuzz build-windows
