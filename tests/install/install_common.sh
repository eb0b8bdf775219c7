# Shared by the install tests (sourced): a folder of the test's own that goes
# away with everything started in it, an install staged with DESTDIR, an X
# server of the test's own.
set -euo pipefail
# A test that sets NEEDS_SESSION_BUS=1 before sourcing this runs on a D-Bus
# session bus of its own (for the accessibility bus), never the user's.
if [ -n "${NEEDS_SESSION_BUS:-}" ] && [ -z "${RAILMON_ON_OWN_SESSION_BUS:-}" ]; then
    RAILMON_ON_OWN_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
: "${BUILD_DIR:?}" "${SOURCE_DIR:?}" "${CMAKE_COMMAND:?}" "${PRIVATE_LIBDIR:?}"

work=$(mktemp -d)
started=()
# Stopped newest first, so X clients go while their server is still there.
# A process that outlives SIGTERM by 10 s is killed and named.
cleanup() {
    local i n pid
    for ((n = ${#started[@]} - 1; n >= 0; n--)); do
        pid=${started[n]}
        kill "$pid" 2>/dev/null || true
        for i in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "note: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) ignored SIGTERM for 10 s; killed" >&2
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# stage_install DIR: the install rules' files under DIR/usr, as the package
# lays them out.
stage_install() {
    DESTDIR="$1" "$CMAKE_COMMAND" --install "$BUILD_DIR" --prefix /usr >"$work/install.log" ||
        fail "cmake --install failed: $(cat "$work/install.log")"
}

# start_xvfb: an X server on a free display, without TCP, that answers a
# client; sets DISPLAY. Under load a client started at once was refused
# now and then; -noreset keeps a server whose last client left from
# resetting under the next one.
start_xvfb() {
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    started+=($!)
    local i
    for i in $(seq 100); do
        if grep -q . "$work/display" 2>/dev/null; then
            export DISPLAY=":$(head -n 1 "$work/display")"
            xdotool getdisplaygeometry >/dev/null 2>&1 && return
        fi
        sleep 0.1
    done
    fail "Xvfb did not start: $(cat "$work/xvfb.log")"
}

# start_at_spi: the accessibility bus and its registry on the test's session
# bus, as a desktop with a screen reader has them; Qt programs started
# afterwards with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 publish their tree.
start_at_spi() {
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi.log" 2>&1 &
    started+=($!)
}

# start_railmon_seen_by_at: railmon (the build's, on the simulated supply
# without noise) on an Xvfb of the test's own with the accessibility bus,
# started in "$work/cwd" and publishing its accessible tree; sets railmon to
# its process. The test must have set NEEDS_SESSION_BUS=1.
start_railmon_seen_by_at() {
    start_xvfb
    unset QT_QPA_PLATFORM LD_LIBRARY_PATH
    start_at_spi
    mkdir "$work/cwd"
    cd "$work/cwd"
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 TMI_SIM_NOISE=0 "$RAILMON" >"$work/out" 2>"$work/err" &
    railmon=$!
    started+=("$railmon")
}

# wait_panel PID SECONDS: sets window to the panel's X window once it is
# shown. Its title names the model; start-up's own window is only "railmon",
# and xdotool's --name takes that one for '^railmon - ' too, so the titles
# are compared here.
wait_panel() {
    local i w
    for i in $(seq $(($2 * 20))); do
        for w in $(xdotool search --onlyvisible --pid "$1" --name railmon 2>/dev/null); do
            case "$(xdotool getwindowname "$w")" in
            "railmon - "*)
                window=$w
                return
                ;;
            esac
        done
        sleep 0.05
    done
    fail "no panel after $2 s: $(cat "$work/err" 2>/dev/null)"
}

# wait_exit PID SECONDS: sets exit_status to the process's, or fails when it
# is still running after SECONDS.
wait_exit() {
    local i
    for i in $(seq $(($2 * 10))); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$1" 2>/dev/null && fail "process $1 still running after $2 s"
    exit_status=0
    wait "$1" || exit_status=$?
}

# A bench of the test's own: railmon's per-supply lock and the simulator's
# state, never the user's.
export XDG_RUNTIME_DIR="$work/runtime" RAILMON_LOCK_DIR="$work/runtime" TMI_SIM_STATE="$work/sim.state"
mkdir -m 700 "$XDG_RUNTIME_DIR"
