#!/usr/bin/env bash
# Hostile network: the emulated application forwarding 1000 metering reports a second over UDP to a real client
# on 127.0.0.1 while 10,000 forged senders on distinct 127.77.x.y addresses keep sending keep-alives to its
# listen port (tools/hostile_udp.py: checks and figures). Takes about 40 s; exits non-zero on a failed check.
#
#   HOSTILE_SENDERS=N        forged addresses (default 10000)
#   HOSTILE_FLOOD_SECONDS=S  length of the flood (default 20)
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

export KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=1000 KORVEL_BENCH_STATE_PERIOD_MS=10
bench_start_app "$work"
app_pid=$BENCH_APP_PID

# The client table's bound, as the bridge declares it.
bound=$(sed -n 's/.*max_clients = \([0-9]*\);.*/\1/p' "$bench_root/udp/cudpinterface.h")

status=0
timeout 120 python3 "$bench_root/tools/hostile_udp.py" --pid "$app_pid" --listen "$BENCH_UDP_LISTEN" \
    --ports "$BENCH_UDP_PORTS" --senders "${HOSTILE_SENDERS:-10000}" \
    --flood-seconds "${HOSTILE_FLOOD_SECONDS:-20}" --app-log "$work/app.log" --bound "$bound" || status=1

if ! bench_stop_app "$app_pid"; then
    echo "hostile network failure: the application was no longer running at the end"
    status=1
fi
app_pid=
exit $status
