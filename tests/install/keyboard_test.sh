# railmon with the keyboard alone, on an Xvfb of its own: keyboard_only.py
# presses real keys (xdotool) to reach and use every function, the charts'
# keys, legend and exports included, and reads where the focus is and what
# the panel shows through AT-SPI, as assistive technology would.
NEEDS_SESSION_BUS=1
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}"

start_railmon_seen_by_at
wait_panel "$railmon" 30
/usr/bin/python3 "$(dirname "$0")/keyboard_only.py" "$railmon" "$window" "$work/cwd" ||
    fail "keyboard only (railmon said: $(tail -n 5 "$work/err"))"
wait_exit "$railmon" 20
[ "$exit_status" = 0 ] || fail "railmon exited with $exit_status: $(cat "$work/err")"
