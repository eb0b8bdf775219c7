# Watching a bench from another computer, as the README says: railmon on
# Xvfb (no TCP), the display served by x11vnc with a password, bound to
# loopback, for an ssh -L tunnel. Only 127.0.0.1 may listen, and the server
# must ask for the password (VNC authentication, never "None").
. "$(dirname "$0")/install_common.sh"
: "${RAILMON:?}"

start_xvfb
unset QT_QPA_PLATFORM LD_LIBRARY_PATH
mkdir "$work/cwd"
(cd "$work/cwd" && exec "$RAILMON" >"$work/railmon.out" 2>&1) &
railmon=$!
started+=("$railmon")
x11vnc -storepasswd "bench-$RANDOM$RANDOM" "$work/passwd" >/dev/null 2>&1 || fail "x11vnc -storepasswd"
# It takes the first free port from 5900 on and says which.
x11vnc -display "$DISPLAY" -localhost -noipv6 -rfbauth "$work/passwd" -forever -quiet \
    >"$work/x11vnc.out" 2>"$work/x11vnc.err" &
vnc=$!
started+=("$vnc")
port=""
for i in $(seq 100); do
    port=$(sed -n 's/^PORT=\([0-9]*\)$/\1/p' "$work/x11vnc.out")
    [ -n "$port" ] && break
    kill -0 "$vnc" 2>/dev/null || fail "x11vnc ended: $(cat "$work/x11vnc.err")"
    sleep 0.1
done
[ -n "$port" ] || fail "x11vnc named no port: $(cat "$work/x11vnc.err")"
timeout 20 xdotool search --sync --onlyvisible --pid "$railmon" --name '^railmon( - .*)?$' >/dev/null ||
    fail "no railmon window: $(cat "$work/railmon.out")"

# Every socket listening for our three processes, TCP and UDP, v4 and v6.
ss -Htulnp >"$work/listening"
ours=$(grep -E "pid=(${started[0]}|$railmon|$vnc)," "$work/listening" || true)
[ -n "$ours" ] || fail "x11vnc listens nowhere: $(cat "$work/listening")"
if grep -vE "^tcp +LISTEN +[0-9]+ +[0-9]+ +127\.0\.0\.1:$port " <<<"$ours"; then
    fail "something listens beyond 127.0.0.1:$port (above)"
fi
grep -qE "pid=$vnc," <<<"$ours" || fail "the listener is not x11vnc's: $ours"

# The RFB handshake: the server's version, ours, then its security types.
exec 3<>"/dev/tcp/127.0.0.1/$port"
version=$(timeout 5 dd bs=1 count=12 <&3 2>/dev/null)
[[ "$version" == "RFB 003."* ]] || fail "no RFB greeting: '$version'"
printf 'RFB 003.008\n' >&3
read -r count <<<"$(timeout 5 dd bs=1 count=1 <&3 2>/dev/null | od -An -tu1)"
[ "${count:-0}" -gt 0 ] || fail "the server offers no security type"
types=$(timeout 5 dd bs=1 count="$count" <&3 2>/dev/null | od -An -tu1 | xargs)
exec 3>&-
[ "$types" = 2 ] || fail "security types offered: '$types' (2 = VNC authentication only; 1 would be none)"
# x11vnc's SIGTERM handler calls Xlib and can deadlock on the request it
# interrupted; it holds nothing that needs a clean exit.
kill -KILL "$vnc"
echo "remote viewing: only 127.0.0.1:$port listens (x11vnc), VNC authentication required"
