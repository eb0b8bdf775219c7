# railmon as assistive technology sees it: on a session bus of its own with
# the AT-SPI bus and registry (as a desktop with a screen reader runs
# them), accessible_tree.py walks the real railmon's accessible tree, finds
# every control named with its channel and every readout's value as shown
# (against the log of the same readings), hears the changes announced, and
# works the panel through the controls' own actions, Exit included.
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}"

if [ -z "${RAILMON_OWN_SESSION_BUS:-}" ]; then
    RAILMON_OWN_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi

start_xvfb
unset QT_QPA_PLATFORM LD_LIBRARY_PATH
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi.log" 2>&1 &
started+=($!)
mkdir "$work/cwd"
cd "$work/cwd"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 TMI_SIM_NOISE=0 RAILMON_LOCK_DIR="$work" TMI_SIM_STATE="$work/sim.state" \
    "$RAILMON" >"$work/out" 2>"$work/err" &
railmon=$!
started+=("$railmon")
/usr/bin/python3 "$(dirname "$0")/accessible_tree.py" "$railmon" "$work/cwd/railmon.log" ||
    fail "accessible tree (railmon said: $(tail -n 5 "$work/err"))"
wait_exit "$railmon" 20
[ "$exit_status" = 0 ] || fail "railmon exited with $exit_status: $(cat "$work/err")"
