#!/usr/bin/env bash
# Soak test: the application on the emulated console at the full metering rate (1000 reports a second) plus a
# counting GPO report every 10 ms, unplugged for a second every 30 s, while bench/soakdriver.cpp runs steady,
# churning and never-reading WebSocket clients and coming-and-going UDP clients against it (see there for
# every check). The application also publishes to an MQTT broker of the soak's own, which is stopped and
# restarted once a minute (losing its retained messages): at the end the broker must hold the status
# "connected" and the 38 state topics again, events and meters must still flow, and after the application
# stops the status must read "offline". Prints the driver's one-line summary; exits non-zero on any failure.
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
restarter_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -TERM "$app_pid"; fi
    if [ -n "$restarter_pid" ]; then kill "$restarter_pid" 2>/dev/null || true; fi
    if [ -s "$work/broker.pid" ]; then kill "$(cat "$work/broker.pid")" 2>/dev/null || true; fi
    if [ -n "${SOAK_KEEP:-}" ]; then echo "soak files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

export KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=1000 KORVEL_BENCH_STATE_PERIOD_MS=10
export KORVEL_BENCH_REPLUG_PERIOD_MS=30000 KORVEL_BENCH_UNPLUGGED_MS=1000
export KORVEL_BENCH_STATS="$work/stats"

mqtt_port=$(bench_free_port)
mqtt_prefix=soak/korvel
bench_start_broker "$work" "$mqtt_port"
BENCH_EXTRA_SETTINGS=$(printf 'mqtt_enabled=true\nmqtt_host=127.0.0.1\nmqtt_port=%s\nmqtt_prefix=%s' \
    "$mqtt_port" "$mqtt_prefix")
bench_start_app "$work"
app_pid=$BENCH_APP_PID

# The broker goes away for a second once a minute, restarted by a subshell that keeps its process id in
# broker.pid; stopping the subshell leaves the current broker running.
echo "$BENCH_BROKER_PID" >"$work/broker.pid"
(
    trap 'exit 0' TERM
    while true; do
        sleep 60 &
        wait $!
        broker=$(cat "$work/broker.pid")
        kill "$broker" 2>/dev/null
        while kill -0 "$broker" 2>/dev/null; do sleep 0.1; done
        sleep 1
        bench_start_broker "$work" "$mqtt_port" || exit 1
        echo "$BENCH_BROKER_PID" >"$work/broker.pid"
    done
) &
restarter_pid=$!
BENCH_BROKER_PID=

# mqtt_read TOPIC COUNT: COUNT messages of TOPIC (a filter) with their topics, within 3 s.
mqtt_read() {
    mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t "$mqtt_prefix/$1" -v -C "$2" -W 3 2>/dev/null || true
}

status=0
"$bench_build/bench/korvel-soak-driver" --pid "$app_pid" --port "$BENCH_WS_PORT" --udp-listen "$BENCH_UDP_LISTEN" \
    --udp-ports "$BENCH_UDP_PORTS" --duration "$duration" --rss-reference 60 --seed "${SOAK_SEED:-1}" \
    --app-log "$work/app.log" --stats "$work/stats" || status=1
kill "$restarter_pid"
wait "$restarter_pid" 2>/dev/null || true
restarter_pid=

# The console is unplugged for a second every 30 s, which empties the state topics: look up to three times.
mqtt_ok=
for _ in 1 2 3; do
    retained=$(mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t "$mqtt_prefix/state/#" --retained-only -v -W 2 \
        2>/dev/null | grep -c . || true)
    if [ "$(mqtt_read status 1)" = "$mqtt_prefix/status \"connected\"" ] && [ "$retained" = 38 ]; then
        mqtt_ok=1
        break
    fi
    sleep 1.5
done
if [ -z "$mqtt_ok" ]; then
    echo "soak failure: after the broker restarts the broker holds $retained state topics, not 38, or no \"connected\""
    status=1
fi
for topic in event metering; do
    if [ "$(mqtt_read "$topic" 5 | grep -c "^$mqtt_prefix/$topic ")" != 5 ]; then
        echo "soak failure: no more messages on $mqtt_prefix/$topic after the broker restarts"
        status=1
    fi
done

if ! bench_stop_app "$app_pid"; then
    echo "soak failure: the application was no longer running at the end"
    status=1
fi
app_pid=
if [ "$(mqtt_read status 1)" != "$mqtt_prefix/status \"offline\"" ]; then
    echo "soak failure: the status topic does not read \"offline\" after the application stopped"
    status=1
fi
if grep -E "AddressSanitizer|runtime error|terminate called|Segmentation" "$work/app.log" >/dev/null; then
    echo "soak failure: the application's log reports a fault:"
    grep -E -m 5 "AddressSanitizer|runtime error|terminate called|Segmentation" "$work/app.log"
    status=1
fi
exit $status
