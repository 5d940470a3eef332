#!/usr/bin/env python3
"""Hostile-network load on the UDP bridge of a running Korvel Control (started by tools/hostile-network.sh).

A real client on 127.0.0.1 registers by keep-alive and receives on the three destination ports; then a flood of
keep-alives from thousands of forged senders, each a distinct loopback address 127.77.b.c (Linux loopback takes
all of 127/8), repeats for a while. Checks:
  - the real client receives every stamped metering report, in order, before, during and after the flood
    (bytes 2-3 of a bench-mode metering report are its sequence number, little-endian);
  - the forged senders that received anything number fewer than the client table's bound (the real client holds
    one entry), seen as the distinct destination addresses of the datagrams reaching the metering port;
  - the application logs the full table, at most about once a second.
Prints the CPU the application used in each phase (from /proc/PID/stat); exits 1 on a failed check.
"""
import argparse
import multiprocessing
import os
import select
import socket
import struct
import sys
import time

MARKER = b"\xa0\xa0"
KEEP_ALIVE = MARKER + b"KA"
METERING_TYPE = 0xF0
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15; after the command's closing bracket they are the 12th and 13th.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def forged_address(i):
    return f"127.77.{i // 250}.{1 + i % 250}"


def real_client(listen, ports, stop, result):
    """Keeps 127.0.0.1 registered and checks the metering sequence numbers it receives."""
    receivers = []
    for port in ports:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # The forged addresses' copies go to the sink bound to every address; this socket is more specific and
        # gets 127.0.0.1's alone.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        s.bind(("127.0.0.1", port))
        receivers.append(s)
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    tx.bind(("127.0.0.1", 0))
    metering = receivers[0]
    expected = None
    received = 0
    gaps = []
    other = 0
    next_keep_alive = 0.0
    while not stop.is_set():
        now = time.monotonic()
        if now >= next_keep_alive:
            tx.sendto(KEEP_ALIVE, ("127.0.0.1", listen))
            next_keep_alive = now + 1.0
        ready, _, _ = select.select(receivers, [], [], 0.2)
        for s in ready:
            while True:
                try:
                    data = s.recv(2048, socket.MSG_DONTWAIT)
                except BlockingIOError:
                    break
                if s is not metering or len(data) < 6 or data[3] != METERING_TYPE:
                    other += 1
                    continue
                sequence = data[4] | (data[5] << 8)
                if expected is not None and sequence != expected:
                    gaps.append((expected, sequence))
                expected = (sequence + 1) & 0xFFFF
                received += 1
        # Shared with the parent process, which reads it for the rates: once per batch, not per datagram.
        result["metering"] = received
    result["gaps"] = gaps[:20]
    result["gap_count"] = len(gaps)
    result["other"] = other


def sink(ports, stop, result):
    """Receives what the bridge sends to the forged addresses and notes their distinct destinations."""
    sockets = []
    for port in ports:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        s.bind(("0.0.0.0", port))
        sockets.append(s)
    destinations = set()
    datagrams = 0
    while not stop.is_set():
        ready, _, _ = select.select(sockets, [], [], 0.2)
        for s in ready:
            for _ in range(256):
                try:
                    _, ancillary, _, _ = s.recvmsg(2048, socket.CMSG_SPACE(12), socket.MSG_DONTWAIT)
                except BlockingIOError:
                    break
                datagrams += 1
                for level, kind, value in ancillary:
                    if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= 12:
                        destinations.add(socket.inet_ntoa(value[8:12]))
    result["destinations"] = sorted(destinations)
    result["datagrams"] = datagrams


def flood(listen, senders, stop, result):
    """Sends keep-alives from every forged address in turn, round after round, until stopped."""
    sent = 0
    rounds = 0
    while not stop.is_set():
        for i in range(senders):
            if stop.is_set():
                break
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                s.bind((forged_address(i), 0))
                s.sendto(KEEP_ALIVE, ("127.0.0.1", listen))
                sent += 1
            finally:
                s.close()
        rounds += 1
    result["sent"] = sent
    result["rounds"] = rounds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--ports", required=True, help="metering,configuration,custom")
    parser.add_argument("--senders", type=int, default=10000)
    parser.add_argument("--quiet-seconds", type=float, default=5)
    parser.add_argument("--flood-seconds", type=float, default=20)
    parser.add_argument("--app-log", required=True)
    parser.add_argument("--bound", type=int, required=True, help="the client table's bound")
    args = parser.parse_args()
    ports = [int(p) for p in args.ports.split(",")]

    manager = multiprocessing.Manager()
    client_result, sink_result, flood_result = manager.dict(), manager.dict(), manager.dict()
    stop_client, stop_sink, stop_flood = (multiprocessing.Event() for _ in range(3))
    client = multiprocessing.Process(target=real_client, args=(args.listen, ports, stop_client, client_result))
    sink_process = multiprocessing.Process(target=sink, args=(ports, stop_sink, sink_result))
    client.start()
    sink_process.start()
    failures = []

    deadline = time.monotonic() + 10
    while client_result.get("metering", 0) == 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    if client_result.get("metering", 0) == 0:
        failures.append("the real client received no metering report within 10 s")

    phases = []

    def measure(name, seconds):
        cpu0, t0, m0 = cpu_seconds(args.pid), time.monotonic(), client_result.get("metering", 0)
        time.sleep(seconds)
        cpu1, t1, m1 = cpu_seconds(args.pid), time.monotonic(), client_result.get("metering", 0)
        phases.append((name, 100 * (cpu1 - cpu0) / (t1 - t0), (m1 - m0) / (t1 - t0)))

    measure("one client", args.quiet_seconds)
    flooder = multiprocessing.Process(target=flood, args=(args.listen, args.senders, stop_flood, flood_result))
    flooder.start()
    measure("flood", args.flood_seconds)
    stop_flood.set()
    flooder.join()
    measure("after the flood", args.quiet_seconds)
    stop_sink.set()
    sink_process.join()
    # The sink sees only the forged side; the real client's copies reach its own sockets.
    forged_served = [d for d in sink_result.get("destinations", []) if d.startswith("127.77.")]
    stop_client.set()
    client.join()

    with open(args.app_log, errors="replace") as f:
        full_lines = [line for line in f if "UDP client table full" in line]
    flood_seconds = args.flood_seconds + args.quiet_seconds

    for name, cpu, rate in phases:
        print(f"hostile network: {name}: application CPU {cpu:.0f} % of one core, real client {rate:.0f} metering reports/s")
    print(
        f"hostile network: {flood_result.get('sent', 0)} forged keep-alives from {args.senders} addresses in "
        f"{flood_result.get('rounds', 0)} rounds; {len(forged_served)} forged addresses served "
        f"({sink_result.get('datagrams', 0)} datagrams seen); {len(full_lines)} 'table full' log lines; "
        f"real client: {client_result.get('metering', 0)} metering reports, {client_result.get('gap_count', 0)} gaps, "
        f"{client_result.get('other', 0)} other datagrams"
    )

    if client_result.get("gap_count", 0):
        failures.append(f"the real client missed metering reports: (expected, got) {list(client_result['gaps'])}")
    if len(forged_served) > args.bound - 1:
        failures.append(f"{len(forged_served)} forged addresses were served, more than the table's bound allows")
    if not forged_served:
        failures.append("no forged address was served: the flood did not reach the bridge")
    if not full_lines:
        failures.append("the application did not log its full client table")
    if len(full_lines) > flood_seconds + 2:
        failures.append(f"{len(full_lines)} 'table full' lines in about {flood_seconds:.0f} s: more than one a second")
    for name, _, rate in phases:
        # The console sends 1000 a second; half of that means reports are held up, not just timing noise.
        if rate < 500:
            failures.append(f"{name}: the real client received only {rate:.0f} metering reports/s")
    for failure in failures:
        print(f"hostile network failure: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
