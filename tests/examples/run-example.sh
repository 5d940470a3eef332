#!/usr/bin/env bash
# Runs one client example against the emulated application (offscreen, free ports, a settings store and XDG
# directories of its own) and checks what it printed: the complete state, the notification of its module
# switch, the error matched to its request by "id", and meters no faster than the interval it asked for; and
# its messages when nothing listens and, with a password, when the password is missing or wrong.
#
#   run-example.sh APP [--needs DIR] [--password TEXT] -- COMMAND...
#
# APP is korvel-control-emulated; the example runs as COMMAND URL --seconds 2 [--password TEXT]. Without DIR
# (the example's installed dependencies) the test is skipped (exit 77).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tools/bench-common.sh" # bench_pick_ports

app=$1
shift
password=
while [ "$1" != -- ]; do
    case $1 in
    --needs) [ -d "$2" ] || { echo "skipped: $2 is not installed"; exit 77; } ;;
    --password) password=$2 ;;
    esac
    shift 2
done
shift
seconds=2
work=$(mktemp -d)
app_pid=
cleanup() {
    if [ -n "$app_pid" ]; then kill -TERM "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- the example printed:"
    cat "$work/out"
    exit 1
}

bench_pick_ports
url="ws://127.0.0.1:$BENCH_WS_PORT/"

# Nothing listens on the port yet.
if "$@" "$url" --seconds 1 >"$work/out" 2>&1; then fail "succeeded with nothing listening"; fi
grep -q "^cannot connect to $url" "$work/out" || fail "no clear message when nothing listens"

mkdir -p "$work/config/Velmora" "$work/runtime"
chmod 700 "$work/runtime"
udp=(${BENCH_UDP_PORTS//,/ })
settings="$work/config/Velmora/Korvel Control Emulated.conf"
printf '%s\n' "[General]" auto_connect=true udp_default_ports=false "udp_metering_port=${udp[0]}" \
    "udp_config_port=${udp[1]}" "udp_custom_port=${udp[2]}" "udp_listen_port=$BENCH_UDP_LISTEN" \
    ws_default_port=false "ws_port=$BENCH_WS_PORT" >"$settings"
password_option=()
if [ -n "$password" ]; then
    # The stored form the "Network access" dialog writes: a salt and base64(SHA-256(password + salt)).
    salt=ZXhhbXBsZXNhbHQ
    secret=$(printf '%s' "$password$salt" | openssl dgst -sha256 -binary | base64)
    printf '%s\n' "ws_password_salt=$salt" "ws_password_secret=$secret" >>"$settings"
    password_option=(--password "$password")
fi

# 100 metering reports a second: five times what an interval of 50 ms lets through.
XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_STATE_HOME="$work/state" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen KORVEL_EMULATOR_PANEL=0 KORVEL_EMULATOR_METERING_HZ=100 \
    "$app" >"$work/app.log" 2>&1 &
app_pid=$!
# The examples end at once when the console is not connected, as they should; so wait for it, not only for the
# server.
ready() { grep -q "WebSocket Server is listening on port: $BENCH_WS_PORT" "$work/app.log" &&
    grep -qx "USB Connected!" "$work/app.log"; }
for _ in $(seq 100); do
    if ready || ! kill -0 "$app_pid" 2>/dev/null; then break; fi
    sleep 0.1
done
ready || { echo "FAIL: the application is not ready:"; cat "$work/app.log"; exit 1; }

if [ -n "$password" ]; then
    if "$@" "$url" --seconds 1 >"$work/out" 2>&1; then fail "succeeded without the password"; fi
    grep -qx "Korvel Control asks for a password: give it with --password" "$work/out" || fail "no clear message"
    if "$@" "$url" --seconds 1 --password "not $password" >"$work/out" 2>&1; then fail "a wrong password passed"; fi
    grep -qx "password refused: authentication failed" "$work/out" || fail "no clear message for a wrong password"
fi

"$@" "$url" --seconds "$seconds" "${password_option[@]}" >"$work/out" 2>&1 || fail "exit status $?"
if [ -n "$password" ]; then grep -qx authenticated "$work/out" || fail "not authenticated"; fi

keys=$(awk '/^<- all/ {inside = 1; next} inside && /^}/ {exit} inside && /^  "/ {n++} END {print n + 0}' "$work/out")
[ "$keys" = 38 ] || fail "the state printed has $keys keys, not 38"

grep -qx 'notification: {"data":{"mod1":true},"msg":"on_on"}' "$work/out" || fail "no notification of the switch"

id=$(sed -n 's/^-> {"msg":"set_on","data":{"mod9":"on"},"id":\(.*\)}$/\1/p' "$work/out")
[ -n "$id" ] || fail "the bad request was not sent with an id"
grep -qxF "<- {\"data\":\"invalid key: 'data.mod9'\",\"id\":$id,\"msg\":\"error\"}" "$work/out" ||
    fail "no error with the id $id of the bad request"

meters=$(grep -c '^meters ' "$work/out" || true)
[ "$meters" -gt 0 ] || fail "no meters"
# An application without the interval command ignores it, and the example says so.
if grep -rq set_metering_interval "$root/websocket"; then
    grep -qE '^<- \{"data":50,"id":[0-9]+,"msg":"metering_interval"\}$' "$work/out" || fail "no interval reply"
    # At most one message per interval, the first one at once.
    [ "$meters" -le $((seconds * 20 + 1)) ] || fail "$meters meter messages in $seconds s"
else
    grep -q "^no answer to set_metering_interval" "$work/out" || fail "the unanswered interval was not reported"
fi
kill -0 "$app_pid" 2>/dev/null || fail "the application ended"
echo "passed: $keys keys, the switch announced, error $id matched, $meters meter messages in $seconds s"
