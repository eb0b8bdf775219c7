# With no display railmon says how to run headless and how to watch the
# panel remotely, in exactly the words the README shows; Qt's vnc platform,
# which serves the panel to the network without a password, is refused.
# Either way it ends before it loads the library.
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}"

cd "$work"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$RAILMON" >out 2>err || status=$?
[ "$status" = 255 ] || fail "exit status $status"
[ ! -s out ] || fail "it went on: $(cat out)"
# The README's block: from its first line to the fence that closes it.
sed -n '/^railmon: no display to open/,/^```/p' "$SOURCE_DIR/README.md" | sed '$d' >expected
[ -s expected ] || fail "the README shows no no-display message"
diff -u expected err || fail "the message differs from the README's"

for how in "-platform vnc" "--platform vnc:size=800x600" "QT_QPA_PLATFORM=vnc"; do
    status=0
    if [[ "$how" == QT_QPA_PLATFORM=* ]]; then
        env "$how" "$RAILMON" >out 2>err || status=$?
    else
        env -u QT_QPA_PLATFORM "$RAILMON" $how >out 2>err || status=$?
    fi
    [ "$status" = 255 ] || fail "$how: exit status $status"
    [ ! -s out ] || fail "$how: it went on: $(cat out)"
    grep -q "^railmon: refusing Qt's vnc platform: it asks no password" err || fail "$how: $(cat err)"
done
echo "no display: the README's message; the vnc platform refused"
