# The staged install: an ordinary Linux layout, a valid desktop entry, and
# the installed railmon started from an unrelated folder under an X server,
# driven with real clicks: Read, the log, the timer, Exit. It must run on
# its own files (panel file, simulated supply) and log where it was started.
. "$(dirname "$0")/install_common.sh"
: "${WIDGET_LOCATOR:?}"

stage="$work/stage"
stage_install "$stage"
root="$stage/usr"
for file in bin/railmon share/railmon/railmon-ctrl.uir "$PRIVATE_LIBDIR/libTMI_API.so" \
    share/applications/railmon.desktop share/icons/hicolor/scalable/apps/railmon.svg \
    share/doc/railmon/README.md share/doc/railmon/docs/operator-guide.md share/doc/railmon/copyright share/man/man1/railmon.1.gz; do
    [ -f "$root/$file" ] || fail "$file is not installed"
done
for size in 48 128; do
    file "$root/share/icons/hicolor/${size}x$size/apps/railmon.png" | grep -q "PNG image data, $size x $size" ||
        fail "no ${size}x$size PNG icon"
done
desktop-file-validate "$root/share/applications/railmon.desktop" || fail "desktop-file-validate"

start_xvfb
unset QT_QPA_PLATFORM LD_LIBRARY_PATH
export TMI_SIM_NOISE=0
elsewhere="$work/elsewhere"
mkdir "$elsewhere"
cd "$elsewhere"

"$WIDGET_LOCATOR" "$root/share/railmon/railmon-ctrl.uir" PANEL_READ PANEL_CVCC1 PANEL_LOGTOFILE \
    PANEL_TIMERONOFF PANEL_EXIT PANEL_PRESET PANEL_VSET1 >"$work/places" 2>"$work/locator.log" || fail "locator: $(cat "$work/locator.log")"

"$root/bin/railmon" >"$work/out" 2>"$work/err" &
railmon=$!
started+=("$railmon")
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$railmon" --name '^railmon( - .*)?$' | head -n 1) ||
    fail "no railmon window: $(cat "$work/err")"
eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y: the window on the screen
sleep 0.5

place() { grep "^$1 " "$work/places" | cut -d' ' -f2-; }
click() {
    local x y w h
    read -r x y w h <<<"$(place "$1")"
    xdotool mousemove --window "$window" $((x + w / 2)) $((y + h / 2)) click 1
    sleep 0.3
}
shot() {
    local x y w h
    read -r x y w h <<<"$(place "$1")"
    "$WIDGET_LOCATOR" --grab $((X + x)) $((Y + y)) "$w" "$h"
}

before=$(shot PANEL_CVCC1)
click PANEL_READ
[ "$(shot PANEL_CVCC1)" != "$before" ] || fail "Read did not change the CV/CC indicator"
# A real wheel turned over the Preset box or a setpoint the operator is not
# working in changes neither: it once recalled the next preset.
for id in PANEL_PRESET PANEL_VSET1; do
    read -r x y w h <<<"$(place "$id")"
    xdotool mousemove --window "$window" $((x + w / 2)) $((y + h / 2))
    sleep 0.3
    before=$(shot "$id")
    xdotool click 5 click 5
    sleep 0.3
    [ "$(shot "$id")" = "$before" ] || fail "a passing wheel changed $id"
done
click PANEL_LOGTOFILE
click PANEL_TIMERONOFF
sleep 2.5 # two ticks at the default interval of 1 s
click PANEL_EXIT
wait_exit "$railmon" 15
[ "$exit_status" = 0 ] || fail "railmon exited with $exit_status: $(cat "$work/err")"

grep -qxF "No TMI_API.dll installed: using the simulated supply $root/$PRIVATE_LIBDIR/libTMI_API.so" "$work/out" ||
    fail "not the staged simulator: $(cat "$work/out")"
[ -f railmon.log ] || fail "no railmon.log in the working directory"
[ "$(head -n 1 railmon.log)" = "$(printf '#time\tch\tU\tI\tCV_CC')" ] || fail "log header: $(head -n 1 railmon.log)"
records=$(tail -n +2 railmon.log | grep -cE $'^[0-9]+\t[1-4]\t[-0-9.e]+\t[-0-9.e]+\t-?[0-9]+$' || true)
[ "$records" -ge 4 ] && [ $((records % 4)) = 0 ] && [ "$records" = $(($(wc -l <railmon.log) - 1)) ] ||
    fail "log records: $(cat railmon.log)"
[ -z "$(find "$stage" -newer "$work/places" -type f)" ] || fail "railmon wrote into its install"
echo "staged install: layout, desktop entry, Read, log ($records records) and Exit from $elsewhere"
