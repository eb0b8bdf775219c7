# A slow supply (400 ms per call, so a sweep of 4.8 s keeps the 1 s timer
# overdue), driven with real X input: a click on Set during a sweep is
# handled before the next sweep starts, and Ctrl+Q stops railmon after the
# call under way, the supply handed back. Told apart by the order of the
# calls the recording fake saw.
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}" "${FAKES_DIR:?}" "${WIDGET_LOCATOR:?}"

start_xvfb
unset QT_QPA_PLATFORM
calls="$work/calls"
"$WIDGET_LOCATOR" "$SOURCE_DIR/railmon-ctrl.uir" PANEL_TIMERONOFF PANEL_SET >"$work/places" 2>"$work/locator.log" ||
    fail "locator: $(cat "$work/locator.log")"
mkdir "$work/cwd"
(cd "$work/cwd" && LD_LIBRARY_PATH="$FAKES_DIR/complete" TMI_FAKE_LATENCY_MS=400 TMI_FAKE_LOG="$calls" \
    RAILMON_LOCK_DIR="$work" exec "$RAILMON" >"$work/out" 2>"$work/err") &
railmon=$!
started+=("$railmon")
wait_panel "$railmon" 60
sleep 0.5

click() {
    local x y w h
    read -r x y w h <<<"$(grep "^$1 " "$work/places" | cut -d' ' -f2-)"
    xdotool mousemove --window "$window" $((x + w / 2)) $((y + h / 2)) click 1
}

click PANEL_TIMERONOFF
sleep 3 # the first sweep starts after the 1 s interval and takes 4.8 s
seen=$(wc -l <"$calls")
# Start-up reads no monitor data: a sweep says the timer's click was taken.
grep -q '^TMI_MoniDataQ 7 ' "$calls" || fail "the timer's click was not taken: $(cat "$calls")"
click PANEL_SET
sleep 8 # the sweep under way, Set's calls, part of the next sweep
# What came after the click, up to Set's first write: the sweep under way
# only, no new sweep (each starts with channel 1's reading).
tail -n +"$((seen + 1))" "$calls" | sed '/^TMI_Voltage /q' >"$work/until_set"
grep -q '^TMI_Voltage ' "$work/until_set" || fail "Set not handled: $(tail -n +"$((seen + 1))" "$calls")"
! grep -q '^TMI_MoniDataQ 7 1$' "$work/until_set" || fail "a new sweep started before Set: $(cat "$work/until_set")"

xdotool windowfocus --sync "$window" key ctrl+q
seen=$(wc -l <"$calls")
wait_exit "$railmon" 30
[ "$exit_status" = 0 ] || fail "railmon exited with $exit_status: $(cat "$work/err")"
after=$(tail -n +"$((seen + 1))" "$calls")
# At most the call under way when the key came, then the hand-back.
[ "$(printf '%s\n' "$after" | grep -vc -e '^TMI_RemoteLocal 7$' -e '^TMI_HandleClose 7$')" -le 1 ] ||
    fail "calls after Ctrl+Q: $after"
[ "$(printf '%s\n' "$after" | tail -n 2 | tr '\n' ' ')" = "TMI_RemoteLocal 7 TMI_HandleClose 7 " ] ||
    fail "supply not handed back: $after"
