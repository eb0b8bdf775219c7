# railmon as assistive technology sees it: on a session bus of its own with
# the AT-SPI bus and registry (as a desktop with a screen reader runs
# them), accessible_tree.py walks the real railmon's accessible tree, finds
# every control named with its channel and every readout's value as shown
# (against the log of the same readings), hears the changes announced, and
# works the panel through the controls' own actions, Exit included.
NEEDS_SESSION_BUS=1
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}"

start_railmon_seen_by_at
/usr/bin/python3 "$(dirname "$0")/accessible_tree.py" "$railmon" "$work/cwd/railmon.log" ||
    fail "accessible tree (railmon said: $(tail -n 5 "$work/err"))"
wait_exit "$railmon" 20
[ "$exit_status" = 0 ] || fail "railmon exited with $exit_status: $(cat "$work/err")"
