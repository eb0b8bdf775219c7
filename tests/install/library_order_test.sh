# Which vendor library railmon uses, in the build tree and installed:
# LD_LIBRARY_PATH's absolute folders, the system's library folders, and only
# then the simulator that comes with railmon (the install's private folder,
# else beside the executable). A library that is found but cannot be used is
# reported and never replaced by the simulator.
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}" "${FAKES_DIR:?}" "${MULTIARCH:?}"

stage="$work/stage"
stage_install "$stage"
installed="$stage/usr/bin/railmon"
simulator="No TMI_API.dll installed: using the simulated supply"

# Copies without the simulator: a build tree, and an install.
mkdir -p "$work/tree/bin"
cp "$RAILMON" "$SOURCE_DIR/railmon-ctrl.uir" "$work/tree/bin/"
cp -a "$stage" "$work/bare"
rm "$work/bare/usr/$PRIVATE_LIBDIR/libTMI_API.so"
mkdir "$work/broken"
printf "not a library %.0s\n" $(seq 100) >"$work/broken/libTMI_API.so"
# A vendor's library copied beside railmon, where the simulator would lie.
mkdir -p "$work/vendor/bin"
cp "$RAILMON" "$SOURCE_DIR/railmon-ctrl.uir" "$FAKES_DIR/complete/libTMI_API.so" "$work/vendor/bin/"
mkdir "$work/cwd"
cp "$FAKES_DIR/complete/libTMI_API.so" "$work/cwd/" # never loaded from here

# run NAME PROGRAM [LD_LIBRARY_PATH]: the run's stdout and stderr in
# $work/NAME.out and .err. All runs go at once; each is stopped with
# SIGTERM once its start-up is over (a failed load leaves a pop-up open).
run() {
    (
        cd "$work/cwd"
        if [ -n "${3:-}" ]; then export LD_LIBRARY_PATH="$3"; else unset LD_LIBRARY_PATH; fi
        export XDG_RUNTIME_DIR="$work/runtime-$1" RAILMON_LOCK_DIR="$work/runtime-$1"
        mkdir -m 700 "$XDG_RUNTIME_DIR"
        exec timeout --preserve-status -s TERM 4 "$2" -platform offscreen >"$work/$1.out" 2>"$work/$1.err"
    ) &
    started+=($!)
}
run tree-sim "$RAILMON"
run install-sim "$installed"
run tree-ld "$RAILMON" "$FAKES_DIR/complete"
run install-ld "$installed" "$FAKES_DIR/complete"
run install-broken "$installed" "$work/broken:$FAKES_DIR/complete"
run install-no-export "$installed" "$FAKES_DIR/no-MoniDataQ"
run tree-vendor "$work/vendor/bin/railmon"
run tree-order "$work/tree/bin/railmon" "/ld/a:relative::/ld/b"
run install-order "$work/bare/usr/bin/railmon" "/ld/a:relative::/ld/b"
for pid in "${started[@]}"; do wait "$pid" || true; done

has() { grep -qxF "$2" "$work/$1.$3" || fail "$1: no line '$2' in: $(cat "$work/$1.$3")"; }
lacks() { ! grep -qF "$2" "$work/$1.$3" || fail "$1: '$2' in: $(cat "$work/$1.$3")"; }

has tree-sim "$simulator $(dirname "$RAILMON")/libTMI_API.so" out
has tree-sim "TMI_In loaded." out
# The start-up lines as the program has them, the simulator's after them.
order=$(grep -E '^(FALSE =|TMI_In loaded|TMI_ModelNameQ |TMI device ID |No TMI_API.dll)' "$work/tree-sim.out" | cut -c1-9)
[ "$order" = "$(printf 'FALSE =0 \nTMI_In lo\nTMI_Model\nTMI devic\nNo TMI_AP')" ] ||
    fail "tree-sim: the simulator's line is not after the start-up lines: $(cat "$work/tree-sim.out")"
has tree-vendor "TMI_ModelNameQ FAKE PW-A" out
lacks tree-vendor "$simulator" out
has install-sim "$simulator $stage/usr/$PRIVATE_LIBDIR/libTMI_API.so" out
for name in tree-ld install-ld; do
    has $name "TMI_ModelNameQ FAKE PW-A" out
    lacks $name "$simulator" out
done
has install-broken "Cannot load TMI_API.dll: $work/broken/libTMI_API.so: invalid ELF header" err
lacks install-broken "$simulator" out
has install-no-export "$FAKES_DIR/no-MoniDataQ/libTMI_API.so cannot be used: it exports no TMI_MoniDataQ" err
lacks install-no-export "$simulator" out

system="/usr/local/lib/$MULTIARCH, /usr/local/lib, /usr/lib/$MULTIARCH, /usr/lib, /lib/$MULTIARCH, /lib"
has tree-order "Cannot load TMI_API.dll: libTMI_API.so not found in /ld/a, /ld/b, $system, \
$work/tree/lib/$MULTIARCH/railmon, $work/tree/bin" err
has install-order "Cannot load TMI_API.dll: libTMI_API.so not found in /ld/a, /ld/b, $system, \
$work/bare/usr/$PRIVATE_LIBDIR, $work/bare/usr/bin" err
echo "library order: LD_LIBRARY_PATH, $system, then railmon's own simulator; broken libraries reported"
