#!/usr/bin/env bash
# Soak test: the application on the emulated console at the full metering rate (1000 reports a second) plus a
# counting GPO report every 10 ms, unplugged for a second every 30 s, while bench/soakdriver.cpp runs steady,
# churning and never-reading WebSocket clients and coming-and-going UDP clients against it (see there for
# every check). Prints the driver's one-line summary; exits non-zero on any failure.
#
#   tools/soak.sh            10 minutes, memory reference after the first minute
#   tools/soak.sh --short    150 seconds, same reference (the CI version)
#   SOAK_SEED=N              another random schedule for the churning and UDP clients (default 1)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

duration=600
case "${1:-}" in
--short) duration=150 ;;
'') ;;
*)
    echo "usage: $0 [--short]" >&2
    exit 2
    ;;
esac

bench_build_targets korvel-control-emulated korvel-soak-driver
bench_pick_ports
work=$(mktemp -d)
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -TERM "$app_pid"; fi
    if [ -n "${SOAK_KEEP:-}" ]; then echo "soak files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

export KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=1000 KORVEL_BENCH_STATE_PERIOD_MS=10
export KORVEL_BENCH_REPLUG_PERIOD_MS=30000 KORVEL_BENCH_UNPLUGGED_MS=1000
export KORVEL_BENCH_STATS="$work/stats"
bench_start_app "$work"
app_pid=$BENCH_APP_PID

status=0
"$bench_build/bench/korvel-soak-driver" --pid "$app_pid" --port "$BENCH_WS_PORT" --udp-listen "$BENCH_UDP_LISTEN" \
    --udp-ports "$BENCH_UDP_PORTS" --duration "$duration" --rss-reference 60 --seed "${SOAK_SEED:-1}" \
    --app-log "$work/app.log" --stats "$work/stats" || status=1

if ! bench_stop_app "$app_pid"; then
    echo "soak failure: the application was no longer running at the end"
    status=1
fi
app_pid=
if grep -E "AddressSanitizer|runtime error|terminate called|Segmentation" "$work/app.log" >/dev/null; then
    echo "soak failure: the application's log reports a fault:"
    grep -E -m 5 "AddressSanitizer|runtime error|terminate called|Segmentation" "$work/app.log"
    status=1
fi
exit $status
