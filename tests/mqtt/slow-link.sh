#!/usr/bin/env bash
# The MQTT bridge on a slow link: the emulated application in one network namespace, a Mosquitto broker in
# another, joined by a veth pair shaped to 1 Mbit/s each way (tbf). The console sends 1000 metering reports a
# second and the bridge forwards every one, more than the link carries. A subscriber beside the broker changes
# the state three times through PREFIX/command and must see each new retained value within 1 s, while
# PREFIX/status stays "connected" and the meters keep coming.
# Usage: slow-link.sh APP [SECONDS_BEFORE_THE_FIRST_CHANGE]. Needs root (namespaces, links); exits 77 otherwise.
set -euo pipefail
app=$1
fill_seconds=${2:-8}
limit=1.0
if [ "$(id -u)" != 0 ] || ! command -v tc >/dev/null; then
    echo "SKIP: needs root and tc for its network namespaces"
    exit 77
fi

# Names unique to this run, so two runs never meet; all removed on exit.
tag=$$
near=kvslow-a-$tag
far=kvslow-b-$tag
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    ip netns del "$near" 2>/dev/null || true
    ip netns del "$far" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- application log"
    tail -20 "$work/app.log" || true
    exit 1
}

ip netns add "$near"
ip netns add "$far"
ip link add "ksa$tag" type veth peer name "ksb$tag"
ip link set "ksa$tag" netns "$near"
ip link set "ksb$tag" netns "$far"
ip -n "$near" addr add 10.77.0.1/30 dev "ksa$tag"
ip -n "$far" addr add 10.77.0.2/30 dev "ksb$tag"
for ns in "$near" "$far"; do
    ip -n "$ns" link set lo up
done
ip -n "$near" link set "ksa$tag" up
ip -n "$far" link set "ksb$tag" up
tc -n "$near" qdisc add dev "ksa$tag" root tbf rate 1mbit burst 10kb latency 100ms
tc -n "$far" qdisc add dev "ksb$tag" root tbf rate 1mbit burst 10kb latency 100ms

broker=10.77.0.2
printf '%s\n' "listener 1883 $broker" "allow_anonymous true" "persistence false" >"$work/mosquitto.conf"
ip netns exec "$far" mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=($!)

prefix=korvel/slow
mkdir -p "$work/config/Velmora" "$work/runtime"
chmod 700 "$work/runtime"
printf '%s\n' "[General]" auto_connect=true mqtt_enabled=true "mqtt_host=$broker" "mqtt_prefix=$prefix" \
    mqtt_metering_rate=0 >"$work/config/Velmora/Korvel Control Emulated.conf"
ip netns exec "$near" env XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
    XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen KORVEL_EMULATOR_PANEL=0 \
    KORVEL_EMULATOR_METERING_HZ=1000 "$app" >"$work/app.log" 2>&1 &
pids+=($!)

far_sub() { ip netns exec "$far" mosquitto_sub -h "$broker" "$@"; }
far_pub() { ip netns exec "$far" mosquitto_pub -h "$broker" "$@"; }

# The console's link comes up shortly after the broker connection.
status=none
for _ in $(seq 100); do
    status=$(far_sub -t "$prefix/status" -C 1 -W 2 2>/dev/null) || status=none
    [ "$status" = '"connected"' ] && break
    sleep 0.2
done
[ "$status" = '"connected"' ] || fail "status $status before the test"
# The complete state is on the broker, and meters flood the link for a while.
far_sub -t "$prefix/state/non_stop" -C 1 -W 20 >/dev/null 2>&1 || fail "no state on the broker"
sleep "$fill_seconds"

worst=0
for value in on off on; do
    expected=$([ "$value" = on ] && echo true || echo false)
    # A live subscriber that sees only the new value, not the retained one it finds; it is in place before the
    # command goes out.
    far_sub -d -v -R -t "$prefix/state/non_stop" -C 1 -W 20 >"$work/seen" 2>&1 &
    sub=$!
    for _ in $(seq 100); do
        grep -q SUBACK "$work/seen" && break
        sleep 0.05
    done
    start=$(date +%s.%N)
    far_pub -t "$prefix/command" -m "{\"msg\": \"set_non_stop\", \"data\": \"$value\"}"
    wait "$sub" || fail "no new state within 20 s after set_non_stop $value"
    end=$(date +%s.%N)
    grep -qx "$prefix/state/non_stop $expected" "$work/seen" || fail "state after $value: $(cat "$work/seen")"
    took=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    printf 'set_non_stop %s: the far subscriber saw the new state after %.3f s\n' "$value" "$took"
    worst=$(awk -v a="$took" -v b="$worst" 'BEGIN { print (a > b ? a : b) }')
done

status=$(far_sub -t "$prefix/status" -C 1 -W 5 2>/dev/null) || fail "no status after the changes"
[ "$status" = '"connected"' ] || fail "status $status after the changes"
late=$(far_sub -t "$prefix/state/non_stop" -C 1 -W 5 2>/dev/null) || fail "no retained state for a late subscriber"
[ "$late" = true ] || fail "a late subscriber reads non_stop $late"
far_sub -t "$prefix/metering" -C 20 -W 5 >/dev/null 2>&1 || fail "the meters stopped"
printf 'slowest: %.3f s (limit %s s)\n' "$worst" "$limit"
awk -v a="$worst" -v b="$limit" 'BEGIN { exit !(a < b) }' || fail "the state took longer than $limit s behind the meters"
echo "PASS"
