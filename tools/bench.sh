#!/usr/bin/env bash
# Reproduces every figure of docs/performance.md. Builds the bench tree (build-bench, RelWithDebInfo) first.
#
#   tools/bench.sh machine      the machine, the load, the Qt version
#   tools/bench.sh reports      reports per second through on_data_ready (Google Benchmark)
#   tools/bench.sh callgrind    instructions per report (valgrind callgrind), stable on shared machines
#   tools/bench.sh e2e [SECS]   the application at 1000 metering reports/s plus a state change every 10 ms,
#                               1, 10 and 100 subscribed clients: delivery, latency, CPU, memory (default 30 s)
#   tools/bench.sh interval [SECS] [MS] [RUNS]
#                               every client at a metering interval of MS (default 50) against every report: callgrind
#                               per report, then e2e alternately at 0 and MS, RUNS times (default 3)
#   tools/bench.sh idle         CPU with the link open and no traffic; with auto-connect and no console
#   tools/bench.sh window [SECS] [RUNS]
#                               the e2e load with one client, the settings window hidden and shown, alternately
#   tools/bench.sh commands     WebSocket command to hid_write, idle and under the 100-client load
#   tools/bench.sh mqtt         instructions per report of the MQTT bridge (callgrind): 1000 metering reports/s
#                               and a state change every 10 ms, meters at 20/s and at every report; the
#                               instructions the bridge adds per state change
#   tools/bench.sh mqtt-rate [SECS]
#                               the meters a subscriber receives per second at several mqtt_metering_rate settings,
#                               the emulated application at 1000 metering reports/s (default 10 s each)
#   tools/bench.sh panels [SECS] [COUNTS]
#                               the application's CPU with 0, 1 and 10 panel pages open in headless Chromium (each
#                               at its 50 ms meters), the console at 1000 metering reports/s (default 30 s each)
#   tools/bench.sh all          all of the above
#   BENCH_CLIENTS="1 10 100"    the client counts of e2e and callgrind
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

clients_list=${BENCH_CLIENTS:-"1 10 100"}
hz=$(getconf CLK_TCK)
# The ON command of module 1 with "toggle", as the console receives it.
on_toggle_report=04050002000000000000

machine() {
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -m | awk '/^Mem:/ {print $2}') MB"
    echo "kernel: $(uname -r); Qt $(dpkg-query -W -f '${Version}' qt6-base-dev 2>/dev/null || echo '?'); $(g++ --version | head -n 1)"
    echo "load: $(uptime | sed 's/.*load average/load average/')"
}

reports() {
    bench_build_targets korvel-bench-reports
    QT_LOGGING_RULES="*.debug=false" QT_QPA_PLATFORM=offscreen "$bench_build/bench/korvel-bench-reports" --benchmark_repetitions=3 \
        --benchmark_report_aggregates_only=true --benchmark_min_time=2
}

# callgrind_case KIND CLIENTS COUNT [INTERVAL_MS]: instructions per report, whole pass and on_data_ready alone.
# With INTERVAL_MS the reports are paced at one a millisecond and the clients ask for that metering interval.
callgrind_case() {
    local kind=$1 clients=$2 count=$3 interval=${4:-} out
    out=$(mktemp -d)
    QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --separate-threads=yes --collect-atstart=no \
        --toggle-collect='*run_reports*' --callgrind-out-file="$out/cg.out" \
        "$bench_build/bench/korvel-report-cost" "$kind" "$clients" "$count" $interval >"$out/stdout" 2>"$out/stderr" || {
        cat "$out/stderr" >&2
        return 1
    }
    # The main thread's file is the first one.
    local main
    main=$(ls "$out"/cg.out-* | sort | head -n 1)
    local total decode
    total=$(awk '/^totals:/ {print $2}' "$main")
    decode=$(callgrind_annotate --inclusive=yes "$main" 2>/dev/null |
        awk '/CKorvel::on_data_ready/ && !found {gsub(",", "", $1); print $1; found = 1}')
    printf "%-9s clients=%-3s reports=%-5s Ir/report=%-8s on_data_ready Ir/report=%s" "$kind" "$clients" "$count" \
        $((total / count)) $((${decode:-0} / count))
    if [ -n "$interval" ] && [ "$interval" -gt 0 ]; then
        # Under valgrind a report takes longer than the millisecond it is paced to, so more intervals end per
        # report than in operation: the messages sent are printed, so that two runs of different lengths give
        # the cost per report and per message apart (docs/performance.md, section 5).
        printf " interval_ms=%s messages=%s" "$interval" "$(grep -o 'frames=[0-9]*' "$out/stdout" | cut -d= -f2)"
    fi
    printf "\n"
    rm -rf "$out"
}

callgrind() {
    bench_build_targets korvel-report-cost
    callgrind_case equal 0 5000
    callgrind_case change 1 2000
    for n in $clients_list; do
        callgrind_case metering "$n" $((n >= 100 ? 500 : 2000))
    done
}

# e2e_case CLIENTS SECONDS [METERING_INTERVAL_MS]
e2e_case() {
    local clients=$1 seconds=$2 interval=${3:-0} work delay=5000
    local count=$((seconds * 1000))
    work=$(mktemp -d)
    bench_pick_ports
    KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=1000 KORVEL_BENCH_STATE_PERIOD_MS=10 KORVEL_BENCH_START_DELAY_MS=$delay \
        KORVEL_BENCH_METERING_COUNT=$count KORVEL_BENCH_STATS="$work/stats" bench_start_app "$work"
    local pid=$BENCH_APP_PID started
    started=$(date +%s.%N)
    "$bench_build/bench/korvel-wsload" --port "$BENCH_WS_PORT" --clients "$clients" --expect "$count" \
        --timeout $((seconds + 60)) --metering-interval "$interval" >"$work/load" 2>"$work/load.err" &
    local load=$!
    # CPU over the middle of the run: from 2 s after the meters start to 2 s before they stop.
    sleep "$(echo "$started + $delay / 1000 + 2 - $(date +%s.%N)" | bc)"
    local t0 u0 s0 t1 u1 s1 rss peak=0
    t0=$(date +%s.%N)
    read -r u0 s0 < <(bench_cpu_split "$pid")
    for _ in $(seq $((seconds - 4))); do
        sleep 1
        rss=$(bench_rss_kb "$pid")
        peak=$((rss > peak ? rss : peak))
    done
    t1=$(date +%s.%N)
    read -r u1 s1 < <(bench_cpu_split "$pid")
    local status=0
    wait "$load" || status=1
    echo "e2e clients=$clients $(cat "$work/load") cpu_percent=$(echo "scale=1; 100 * ($u1 + $s1 - $u0 - $s0) / $hz / ($t1 - $t0)" | bc) user_percent=$(echo "scale=1; 100 * ($u1 - $u0) / $hz / ($t1 - $t0)" | bc) system_percent=$(echo "scale=1; 100 * ($s1 - $s0) / $hz / ($t1 - $t0)" | bc) rss_kb_end=$rss rss_kb_peak=$peak console_sent=$(awk '/metering_read/ {print $2}' "$work/stats")"
    bench_stop_app "$pid" || {
        echo "the application died" >&2
        status=1
    }
    rm -rf "$work"
    return $status
}

e2e() {
    local seconds=${1:-30}
    bench_build_targets korvel-control-emulated korvel-wsload
    machine
    local status=0
    for n in $clients_list; do
        e2e_case "$n" "$seconds" || status=1
    done
    return $status
}

# Every client at a metering interval against every report, on the same host: instructions per report (reports
# paced at one a millisecond in both cases, so the intervals end as in operation), then end to end, alternately.
interval() {
    local seconds=${1:-20} ms=${2:-50} runs=${3:-3}
    bench_build_targets korvel-report-cost korvel-control-emulated korvel-wsload
    machine
    for n in $clients_list; do
        callgrind_case metering "$n" 1000 0
        # Two lengths: their totals give the cost per report and per message apart (docs/performance.md, 5.).
        callgrind_case metering "$n" 1000 "$ms"
        callgrind_case metering "$n" 2000 "$ms"
    done
    local status=0
    for _ in $(seq "$runs"); do
        for n in $clients_list; do
            e2e_case "$n" "$seconds" 0 || status=1
            e2e_case "$n" "$seconds" "$ms" || status=1
        done
    done
    machine
    return $status
}

# The same load with the window hidden (in the tray) and shown (a desktop without a tray), alternately.
window() {
    local seconds=${1:-20} runs=${2:-3}
    bench_build_targets korvel-control-emulated korvel-wsload
    machine
    local status=0
    for _ in $(seq "$runs"); do
        printf "window=hidden "
        KORVEL_BENCH_WINDOW=0 e2e_case 1 "$seconds" || status=1
        printf "window=shown "
        KORVEL_BENCH_WINDOW=1 e2e_case 1 "$seconds" || status=1
    done
    machine
    return $status
}

# idle_case LABEL SECONDS: CPU of an application started with the caller's environment, after 3 s.
idle_case() {
    local label=$1 seconds=$2 work
    work=$(mktemp -d)
    bench_pick_ports
    bench_start_app "$work"
    local pid=$BENCH_APP_PID
    sleep 3
    local t0 c0 t1 c1
    t0=$(date +%s.%N)
    c0=$(bench_cpu_ticks "$pid")
    sleep "$seconds"
    t1=$(date +%s.%N)
    c1=$(bench_cpu_ticks "$pid")
    local connected
    connected=$(grep -c "USB Connected" "$work/app.log" || true)
    echo "idle $label: cpu_percent=$(echo "scale=2; 100 * ($c1 - $c0) / $hz / ($t1 - $t0)" | bc) over ${seconds}s rss_kb=$(bench_rss_kb "$pid") usb_connected_lines=$connected"
    bench_stop_app "$pid"
    rm -rf "$work"
}

idle() {
    local seconds=${1:-30}
    bench_build_targets korvel-control-emulated
    KORVEL_EMULATOR_PANEL=0 KORVEL_EMULATOR_METERING_HZ=0 idle_case "link open, no traffic" "$seconds"
    KORVEL_EMULATOR_PANEL=0 KORVEL_EMULATOR_ABSENT=1 idle_case "auto-connect, no console" "$seconds"
    # What the emulated console cannot show: an open attempt on the system hidapi finding no console.
    bench_build_targets korvel-hid-open-cost korvel-timer-floor
    "$bench_build/bench/korvel-hid-open-cost"
    # The floor: a 1 ms timer and nothing else.
    "$bench_build/bench/korvel-timer-floor" "$seconds"
}

# commands_case CLIENTS METERING_HZ
commands_case() {
    local clients=$1 rate=$2 work
    work=$(mktemp -d)
    bench_pick_ports
    KORVEL_BENCH=1 KORVEL_BENCH_METERING_HZ=$rate KORVEL_BENCH_STATE_PERIOD_MS=$((rate > 0 ? 10 : 0)) \
        KORVEL_BENCH_WRITE_LOG="$work/writes" bench_start_app "$work"
    local pid=$BENCH_APP_PID
    sleep 1
    echo "commands clients=$clients metering_hz=$rate $("$bench_build/bench/korvel-wsload" --port "$BENCH_WS_PORT" \
        --clients "$clients" --timeout 60 --commands 1000 --command-interval-ms 7 --command-delay-ms 1000 \
        --write-log "$work/writes" --command-report "$on_toggle_report" 2>/dev/null)"
    bench_stop_app "$pid"
    rm -rf "$work"
}

commands() {
    bench_build_targets korvel-control-emulated korvel-wsload
    commands_case 1 0
    commands_case 100 1000
}

# mqtt_case RATE COUNT: instructions per report and per published message, the bridge's whole pass.
mqtt_case() {
    local rate=$1 count=$2 out
    out=$(mktemp -d)
    QT_LOGGING_RULES="*.debug=false;*.info=false" valgrind --tool=callgrind --separate-threads=yes --collect-atstart=no \
        --toggle-collect='*run_reports*' --callgrind-out-file="$out/cg.out" \
        "$bench_build/bench/korvel-mqtt-cost" "$rate" "$count" >"$out/stdout" 2>"$out/stderr" || {
        cat "$out/stderr" >&2
        return 1
    }
    local main total published
    main=$(ls "$out"/cg.out-* | sort | head -n 1)
    total=$(awk '/^totals:/ {print $2}' "$main")
    published=$(sed -n 's/.*published=\([0-9]*\).*/\1/p' "$out/stdout")
    printf "mqtt metering_rate=%-4s reports=%-5s published=%-5s Ir/report=%-8s Ir/published=%s\n" "$rate" "$count" \
        "$published" $((total / count)) $((total / (published > 0 ? published : 1)))
    mqtt_total=$total
    rm -rf "$out"
}

mqtt() {
    bench_build_targets korvel-mqtt-cost
    local reports=3000 without
    mqtt_case none $reports
    without=$mqtt_total
    mqtt_case 20 $reports
    # A state change every tenth report (bench/mqtt_cost.cpp); the few meters at 20 a second are counted in.
    echo "mqtt state change: Ir added by the bridge per change=$(((mqtt_total - without) / ((reports + 9) / 10)))"
    mqtt_case 0 $reports
}

# mqtt_rate_case RATE SECONDS: the meters a subscriber receives in SECONDS from the emulated application at 1000
# metering reports a second with mqtt_metering_rate RATE, against a Mosquitto of its own on loopback.
mqtt_rate_case() {
    local rate=$1 seconds=$2 work port
    work=$(mktemp -d)
    port=$(bench_free_port)
    bench_start_broker "$work" "$port"
    local broker=$BENCH_BROKER_PID
    bench_pick_ports
    BENCH_EXTRA_SETTINGS=$(printf 'mqtt_enabled=true\nmqtt_host=127.0.0.1\nmqtt_port=%s\nmqtt_prefix=bench/rate\nmqtt_metering_rate=%s' \
        "$port" "$rate") KORVEL_EMULATOR_PANEL=0 KORVEL_EMULATOR_METERING_HZ=1000 bench_start_app "$work"
    local pid=$BENCH_APP_PID status=0 received
    # From the first meter on, for SECONDS.
    if mosquitto_sub -p "$port" -t bench/rate/metering -C 1 -W 20 >/dev/null; then
        received=$(timeout "$seconds" mosquitto_sub -p "$port" -t bench/rate/metering | wc -l || true)
        echo "mqtt rate: mqtt_metering_rate=$rate console=1000/s received=$received in ${seconds}s per_second=$(echo "scale=1; $received / $seconds" | bc)"
    else
        echo "mqtt rate: no meters at mqtt_metering_rate=$rate" >&2
        status=1
    fi
    bench_stop_app "$pid" || status=1
    kill "$broker"
    wait "$broker" 2>/dev/null || true
    rm -rf "$work"
    return $status
}

mqtt_rate() {
    local seconds=${1:-10}
    bench_build_targets korvel-control-emulated
    machine
    local status=0
    for rate in 0 1000 700 500 300 100 20; do
        mqtt_rate_case "$rate" "$seconds" || status=1
    done
    return $status
}

# The panel page as a browser loads it from the application on port $1.
panel_url() {
    echo "http://127.0.0.1:$1/"
}

# panels_case COUNT SECONDS: the application's CPU while COUNT panel pages (tabs of one headless Chromium) follow
# the console, measured after every page has connected and settled.
panels_case() {
    local count=$1 seconds=$2 work browser=
    work=$(mktemp -d)
    bench_pick_ports
    KORVEL_EMULATOR_PANEL=0 KORVEL_EMULATOR_METERING_HZ=1000 bench_start_app "$work"
    local pid=$BENCH_APP_PID
    if [ "$count" -gt 0 ]; then
        local devtools
        devtools=$(bench_free_port)
        chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
            --disable-renderer-backgrounding --disable-background-timer-throttling --no-first-run \
            --remote-debugging-port="$devtools" --user-data-dir="$work/browser" about:blank >"$work/browser.log" 2>&1 &
        browser=$!
        python3 - "$devtools" "$(panel_url "$BENCH_WS_PORT")" "$count" <<'PY'
import sys, time, urllib.parse, urllib.request
port, url, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
base = f"http://127.0.0.1:{port}"
for _ in range(300):
    try:
        urllib.request.urlopen(base + "/json/version", timeout=1).read()
        break
    except OSError:
        time.sleep(0.1)
for _ in range(count):
    request = urllib.request.Request(base + "/json/new?" + urllib.parse.quote(url, safe=":/?=&"), method="PUT")
    urllib.request.urlopen(request, timeout=10).read()
PY
        for _ in $(seq 300); do
            if [ "$(grep -c "New websocket connection" "$work/app.log" || true)" -ge "$count" ]; then break; fi
            sleep 0.1
        done
    fi
    sleep 3
    local t0 c0 t1 c1 u0 s0 u1 s1
    t0=$(date +%s.%N)
    read -r u0 s0 < <(bench_cpu_split "$pid")
    sleep "$seconds"
    t1=$(date +%s.%N)
    read -r u1 s1 < <(bench_cpu_split "$pid")
    local connections
    connections=$(grep -c "New websocket connection" "$work/app.log" || true)
    echo "panels $count: cpu_percent=$(echo "scale=2; 100 * ($u1 + $s1 - $u0 - $s0) / $hz / ($t1 - $t0)" | bc)" \
        "(user $(echo "scale=2; 100 * ($u1 - $u0) / $hz / ($t1 - $t0)" | bc), system" \
        "$(echo "scale=2; 100 * ($s1 - $s0) / $hz / ($t1 - $t0)" | bc)) over ${seconds}s" \
        "rss_kb=$(bench_rss_kb "$pid") websocket_connections=$connections"
    if [ -n "$browser" ]; then
        kill "$browser"
        wait "$browser" 2>/dev/null || true
    fi
    bench_stop_app "$pid"
    rm -rf "$work"
}

panels() {
    local seconds=${1:-30} counts=${2:-"0 1 10"}
    bench_build_targets korvel-control-emulated
    for count in $counts; do
        panels_case "$count" "$seconds"
    done
    machine
}

case "${1:-all}" in
machine) machine ;;
reports) reports ;;
callgrind) callgrind ;;
e2e) e2e "${2:-30}" ;;
idle) idle "${2:-30}" ;;
interval) interval "${2:-20}" "${3:-50}" "${4:-3}" ;;
window) window "${2:-20}" "${3:-3}" ;;
commands) commands ;;
mqtt) mqtt ;;
mqtt-rate) mqtt_rate "${2:-10}" ;;
panels) panels "${2:-30}" "${3:-"0 1 10"}" ;;
all)
    machine
    reports
    callgrind
    e2e 30
    idle 30
    commands
    mqtt
    machine
    ;;
*)
    sed -n '2,26p' "$0"
    exit 2
    ;;
esac
