# The two commands a newcomer needs:
#   make run    install what is missing, build, start railmon on the simulated supply
#   make test   install what is missing, build, run the whole test suite

# CI builds with warnings as errors.
PRESET ?= $(if $(CI),ci,default)

DEBIAN_PACKAGES := cmake ninja-build g++ make \
	qt6-base-dev qt6-tools-dev libqt6opengl6-dev libxkbcommon-dev qt6-qpa-plugins \
	libqcustomplot-dev libgtest-dev libbenchmark-dev fonts-dejavu-core

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: run test build deps clean

run: build
	cd build/bin && ./railmon

test: build
	ctest --preset $(PRESET)

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

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
	rm -rf build build-ci
