#!/usr/bin/env bash
# Hostile network, in two parts (about 2 minutes in all); exits non-zero on a failed check.
#
# The UDP bridge: the emulated application forwarding 1000 metering reports a second over UDP to a real client
# on 127.0.0.1 while 10,000 forged senders on distinct 127.77.x.y addresses keep sending keep-alives to its
# listen port (tools/hostile_udp.py: checks and figures).
#
# The WebSocket server: one case after another, each against an application of its own (its own settings
# store, under the descriptor limit of a desktop session, `ulimit -n 1024`), next to one real client that must
# keep being answered and receive every notification (tools/hostile_ws.py: the cases, checks and figures).
#
#   HOSTILE_SENDERS=N        forged UDP addresses (default 10000)
#   HOSTILE_FLOOD_SECONDS=S  length of the UDP flood (default 20)
#   HOSTILE_WS_CASES="..."   the WebSocket cases to run (default all: quiet idle-one idle-many exhaust silent
#                            guesses big); "none" for the UDP part alone
#   HOSTILE_P99_MS=MS        the real client's 99th percentile round trip allowed (default 50)
#   HOSTILE_CPU_PERCENT=P    the application's CPU allowed over a case, % of one core (default 50: the cases
#                            measure 26-29 % on a 2-core Xeon guest, most of it the kernel's per-connection work,
#                            and a slower machine must not fail the stage for that)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

bench_build_targets korvel-control-emulated
bench_pick_ports
work=$(mktemp -d)
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -TERM "$app_pid"; fi
    rm -rf "$work"
}
trap cleanup EXIT

status=0

udp_part() {
    KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=1000 KORVEL_BENCH_STATE_PERIOD_MS=10 bench_start_app "$work/udp" || return 1
    app_pid=$BENCH_APP_PID
    # The client table's bound, as the bridge declares it.
    local bound result=0
    bound=$(sed -n 's/.*max_clients = \([0-9]*\);.*/\1/p' "$bench_root/udp/cudpinterface.h")
    timeout 120 python3 "$bench_root/tools/hostile_udp.py" --pid "$app_pid" --listen "$BENCH_UDP_LISTEN" \
        --ports "$BENCH_UDP_PORTS" --senders "${HOSTILE_SENDERS:-10000}" \
        --flood-seconds "${HOSTILE_FLOOD_SECONDS:-20}" --app-log "$work/udp/app.log" --bound "$bound" || result=1
    if ! bench_stop_app "$app_pid"; then
        echo "hostile network failure: the application was no longer running at the end"
        result=1
    fi
    app_pid=
    return $result
}

# The WebSocket password of the cases that set one, stored as the dialog stores it: the salted secret.
ws_password="hostile studio"
ws_salt=$(python3 -c 'import base64, os; print(base64.b64encode(os.urandom(32)).decode())')
ws_secret=$(python3 -c 'import base64, hashlib, sys
print(base64.b64encode(hashlib.sha256((sys.argv[1] + sys.argv[2]).encode()).digest()).decode())' \
    "$ws_password" "$ws_salt")

# ws_case NAME: one case against an application of its own.
ws_case() {
    local name=$1 settings="" args=() nofile=1024
    case $name in
    # Fewer descriptors than the bound on connections takes, so they run out first.
    exhaust) nofile=512 ;;
    guesses | big)
        settings="ws_password_secret=@ByteArray($ws_secret)
ws_password_salt=@ByteArray($ws_salt)"
        args=(--password "$ws_password")
        ;;
    esac
    # No front panel to paint: the figures are the server's.
    KORVEL_EMULATOR_PANEL=0 BENCH_NOFILE=$nofile BENCH_EXTRA_SETTINGS="$settings" bench_start_app "$work/ws-$name" ||
        return 1
    app_pid=$BENCH_APP_PID
    local result=0
    timeout 60 python3 "$bench_root/tools/hostile_ws.py" --pid "$app_pid" --port "$BENCH_WS_PORT" --case "$name" \
        --p99-ms "${HOSTILE_P99_MS:-50}" --cpu-percent "${HOSTILE_CPU_PERCENT:-50}" "${args[@]}" || result=1
    if ! bench_stop_app "$app_pid"; then
        echo "hostile network failure: ws $name: the application was no longer running at the end"
        result=1
    fi
    app_pid=
    return $result
}

udp_part || status=1
cases=${HOSTILE_WS_CASES:-quiet idle-one idle-many exhaust silent guesses big}
if [ "$cases" != none ]; then
    for name in $cases; do
        ws_case "$name" || status=1
    done
fi
exit $status
