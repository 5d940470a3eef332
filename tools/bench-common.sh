#!/usr/bin/env bash
# Shared by tools/bench.sh and tools/soak.sh (sourced, not run): builds the bench tree and starts
# korvel-control-emulated offscreen with a settings store of its own, on free ports, with auto-connect on.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# BENCH_BUILD_DIR: an existing tree configured with -DKORVEL_BUILD_BENCHMARKS=ON, used as it is configured.
bench_build=${BENCH_BUILD_DIR:-$bench_root/build-bench}

# Configures and builds the application and the load tools (RelWithDebInfo, as shipped).
bench_build_targets() {
    if [ -z "${BENCH_BUILD_DIR:-}" ]; then
        cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_BUILD_BENCHMARKS=ON \
            -DKORVEL_BUILD_TESTS=OFF -DKORVEL_BUILD_HARDWARE=OFF >/dev/null
    fi
    cmake --build "$bench_build" -j 2 --target "$@" >/dev/null
}

# Sets BENCH_WS_PORT, BENCH_UDP_LISTEN and BENCH_UDP_PORTS (three, comma separated) to ports nobody uses.
bench_pick_ports() {
    local base used
    used=$(ss -Htanu 2>/dev/null | awk '{print $5}' | sed 's/.*://' | sort -u)
    for _ in $(seq 50); do
        base=$((20000 + RANDOM % 40000))
        local clash=0
        for p in $(seq "$base" $((base + 4))); do
            if grep -qx "$p" <<<"$used"; then clash=1; fi
        done
        if [ "$clash" = 0 ]; then
            BENCH_WS_PORT=$base
            BENCH_UDP_LISTEN=$((base + 1))
            BENCH_UDP_PORTS="$((base + 2)),$((base + 3)),$((base + 4))"
            return 0
        fi
    done
    echo "no free ports" >&2
    return 1
}

# bench_start_app WORKDIR: starts the application in the background (environment: the caller's KORVEL_*),
# its settings in WORKDIR/config and its log in WORKDIR/app.log; sets BENCH_APP_PID; waits until it listens.
bench_start_app() {
    local work=$1 auto_connect=${BENCH_AUTO_CONNECT:-true}
    mkdir -p "$work/config/Velmora" "$work/runtime"
    chmod 700 "$work/runtime"
    local udp=(${BENCH_UDP_PORTS//,/ })
    cat >"$work/config/Velmora/Korvel Control Emulated.conf" <<EOF
[General]
auto_connect=$auto_connect
udp_default_ports=false
udp_metering_port=${udp[0]}
udp_config_port=${udp[1]}
udp_custom_port=${udp[2]}
udp_listen_port=$BENCH_UDP_LISTEN
ws_default_port=false
ws_port=$BENCH_WS_PORT
${BENCH_EXTRA_SETTINGS:-}
EOF
    # BENCH_NOFILE: the application's descriptor limit, soft and hard (it raises its soft limit to the hard one).
    (
        if [ -n "${BENCH_NOFILE:-}" ]; then ulimit -n "$BENCH_NOFILE"; fi
        XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
            exec "$bench_build/app/emulated/korvel-control-emulated"
    ) >"$work/app.log" 2>&1 &
    BENCH_APP_PID=$!
    for _ in $(seq 100); do
        if grep -q "WebSocket Server is listening on port: $BENCH_WS_PORT" "$work/app.log" 2>/dev/null; then
            return 0
        fi
        if ! kill -0 "$BENCH_APP_PID" 2>/dev/null; then
            echo "the application ended at start:" >&2
            cat "$work/app.log" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "the application does not listen on $BENCH_WS_PORT" >&2
    return 1
}

# bench_free_port: prints a TCP port nobody listens on.
bench_free_port() {
    local used port
    used=$(ss -Htan 2>/dev/null | awk '{print $4}' | sed 's/.*://' | sort -u)
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        if ! grep -qx "$port" <<<"$used"; then
            echo "$port"
            return 0
        fi
    done
    echo "no free port" >&2
    return 1
}

# bench_start_broker WORKDIR PORT: starts Debian's mosquitto on 127.0.0.1:PORT without persistence (a restart
# loses every retained message, so the application must publish them again); sets BENCH_BROKER_PID.
bench_start_broker() {
    local work=$1 port=$2
    printf 'persistence false\nlog_dest stderr\nlistener %s 127.0.0.1\nallow_anonymous true\n' "$port" \
        >"$work/mosquitto.conf"
    /usr/sbin/mosquitto -c "$work/mosquitto.conf" >>"$work/broker.log" 2>&1 &
    BENCH_BROKER_PID=$!
    for _ in $(seq 50); do
        if ss -Htln "sport = :$port" | grep -q .; then return 0; fi
        sleep 0.1
    done
    echo "the broker does not listen on $port" >&2
    return 1
}

# Stops the application; returns non-zero when it had already ended (a crash).
bench_stop_app() {
    local pid=$1
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid" 2>/dev/null
        return 1
    fi
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    return 0
}

# CPU time (user + system, clock ticks) of a process.
bench_cpu_ticks() {
    awk '{print $14 + $15}' "/proc/$1/stat"
}

# User and system CPU time (clock ticks) of a process, separated by a blank.
bench_cpu_split() {
    awk '{print $14, $15}' "/proc/$1/stat"
}

# Resident memory of a process in kB.
bench_rss_kb() {
    awk '/^VmRSS:/ {print $2}' "/proc/$1/status"
}
