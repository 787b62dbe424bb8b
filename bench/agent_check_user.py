#!/usr/bin/python3
"""Benchmark of the agent under Wine: CHECK_USER round trip (median, 99th percentile, requests per
second) over 1, 10 and 100 concurrent connections, beside the same figures of a bare Beast
WebSocket echo server (bench/echo_server.cpp: two I/O threads, the same reply text) measured
with the same client in the same run; then the idle CPU time and memory of the agent beside an
empty Win32 dialog program started at the same moment.

    /usr/bin/python3 bench/agent_check_user.py [--idle-minutes 10] [--requests 2000] [--no-echo]
                                               [--port 23232] [--json FILE]

Writes the agent's configuration into the Wine registry (through uidriver.exe), starts and stops
the agent itself. Binaries: EDMS_WINDOWS_BIN (default build/windows/bin; echo_server.exe is built
by `make bench`). Traffic goes to 127.0.0.1 only; every loop is bounded.
"""
import argparse
import asyncio
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

import websockets

ROOT = Path(__file__).resolve().parents[1]
WINE = ROOT / "scripts" / "wine"
BIN = Path(os.environ.get("EDMS_WINDOWS_BIN", ROOT / "build" / "windows" / "bin"))
AGENT = BIN / "Pellarin.exe"
UIDRIVER = Path(os.environ.get("EDMS_UIDRIVER", BIN / "uidriver.exe"))
EMPTY = BIN / "empty_dialog.exe"
CONFIG_KEY = r"Software\kelvora\Zelto\Config"
VERSION = "0.0.0.1"
TITLE = f"Pellarin[{VERSION}]"
ECHO = BIN / "echo_server.exe"
CLK_TCK = os.sysconf("SC_CLK_TCK")


def uidriver(*args, check=True):
    done = subprocess.run([str(WINE), str(UIDRIVER), *map(str, args)], capture_output=True, timeout=60)
    if check and done.returncode != 0:
        sys.exit(f"uidriver {args[0]} failed: {done.stderr.decode('utf-8', 'replace')}")
    return done.stdout.decode("utf-8")


def percentile(sorted_values, p):
    """Nearest-rank percentile of an already sorted list."""
    k = max(0, min(len(sorted_values) - 1, int(round(p / 100 * len(sorted_values) + 0.5)) - 1))
    return sorted_values[k]


async def client(url, n, requests, latencies):
    async with websockets.connect(url, open_timeout=30, max_queue=None) as ws:
        await ws.send(json.dumps({"arg1": f"bench{n}", "arg2": ""}))
        await asyncio.wait_for(ws.recv(), 30)
        for _ in range(requests):
            t0 = time.perf_counter()
            await ws.send('{"arg1":"CHECK_USER","arg2":""}')
            reply = json.loads(await asyncio.wait_for(ws.recv(), 30))
            latencies.append(time.perf_counter() - t0)
            if reply.get("arg1") != "CHECK_USER":
                raise RuntimeError(f"unexpected reply {reply}")


async def round_trips(url, connections, total):
    latencies = []
    per = max(1, total // connections)
    t0 = time.perf_counter()
    await asyncio.wait_for(asyncio.gather(*(client(url, i, per, latencies) for i in range(connections))), 600)
    elapsed = time.perf_counter() - t0
    latencies.sort()
    return latencies, elapsed


def unix_pid(popen, name):
    """The Unix process that runs `name`: scripts/wine execs into it, so normally the same pid."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for pid in [popen.pid] + [int(p) for p in os.listdir("/proc") if p.isdigit()]:
            try:
                cmd = Path(f"/proc/{pid}/cmdline").read_bytes()
            except OSError:
                continue
            if name.encode() in cmd:
                return pid
        time.sleep(0.5)
    return None


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime + stime


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def port_open(port):
    import socket
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_for_port(port, proc, what):
    deadline = time.monotonic() + 60
    while not port_open(port):
        if proc.poll() is not None or time.monotonic() > deadline:
            sys.exit(f"{what} did not start serving")
        time.sleep(0.2)


def measure(url, requests):
    """{connections: (median ms, p99 ms, requests/s)} over 1, 10 and 100 connections."""
    out = {}
    for connections in (1, 10, 100):
        latencies, elapsed = asyncio.run(round_trips(url, connections, requests))
        out[connections] = (statistics.median(latencies) * 1000, percentile(latencies, 99) * 1000,
                            len(latencies) / elapsed)
    return out


def stop(proc):
    if proc is None:
        return
    try:
        proc.wait(timeout=15)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 15)
        proc.wait(timeout=15)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--idle-minutes", type=float, default=10.0, help="idle measurement length (default 10)")
    ap.add_argument("--requests", type=int, default=2000, help="CHECK_USER requests per concurrency level")
    ap.add_argument("--port", type=int, default=23232, help="the agent's port (the echo server takes the next)")
    ap.add_argument("--no-echo", action="store_true", help="do not measure the echo server")
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args()

    needed = [AGENT, UIDRIVER, EMPTY] + ([] if args.no_echo else [ECHO])
    for p in needed:
        if not p.exists():
            sys.exit(f"not built: {p}")
    for port in (args.port, args.port + 1):
        if port_open(port):
            sys.exit(f"port {port} is in use: stop what runs there first")

    uidriver("reg-delete", CONFIG_KEY)
    for name, value in (("AdaptorURL", "http://127.0.0.1:9/adaptor"), ("EdmsURL", "http://127.0.0.1:9/"),
                        ("AppType", "EDMS_AGENT"), ("AppVersion", VERSION), ("WorkFolder", "C:\\"),
                        ("DownloadFolder", "C:\\")):
        uidriver("reg-set", CONFIG_KEY, name, "sz", value)
    if args.port != 23232:
        uidriver("reg-set", CONFIG_KEY, "ServicePort", "dword", args.port)

    env = dict(os.environ, WINEDEBUG="-all")
    results = {"agent": {}, "echo": {}, "idle": {}}
    agent = subprocess.Popen([str(WINE), str(AGENT)], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    empty = echo = None
    try:
        wait_for_port(args.port, agent, "the agent")
        if not args.no_echo:
            echo = subprocess.Popen([str(WINE), str(ECHO), str(args.port + 1)], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
            wait_for_port(args.port + 1, echo, "the echo server")
            results["echo"] = measure(f"ws://127.0.0.1:{args.port + 1}", args.requests)
            os.killpg(echo.pid, 15)
            stop(echo)
            echo = None
        results["agent"] = measure(f"ws://127.0.0.1:{args.port}", args.requests)

        print(f"CHECK_USER round trip, {args.requests} requests per level")
        print(f"{'connections':>11} {'median ms':>10} {'p99 ms':>8} {'requests/s':>11}"
              + ("" if args.no_echo else f" {'echo req/s':>11} {'echo p99':>9} {'ratio':>6}"))
        for connections, (median, p99, rate) in results["agent"].items():
            line = f"{connections:>11} {median:>10.3f} {p99:>8.3f} {rate:>11.0f}"
            if not args.no_echo:
                _, echo_p99, echo_rate = results["echo"][connections]
                line += f" {echo_rate:>11.0f} {echo_p99:>9.3f} {rate / echo_rate:>6.2f}"
            print(line, flush=True)

        if args.idle_minutes > 0:
            empty = subprocess.Popen([str(WINE), str(EMPTY), "Idle baseline"], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
            agent_pid, empty_pid = unix_pid(agent, "Pellarin.exe"), unix_pid(empty, "empty_dialog.exe")
            if agent_pid is None or empty_pid is None:
                sys.exit("cannot find the Unix processes of the two programs")
            time.sleep(5)  # let both settle after start-up and the load above
            before = {pid: cpu_seconds(pid) for pid in (agent_pid, empty_pid)}
            seconds = args.idle_minutes * 60
            print(f"\nidle for {args.idle_minutes:g} min ...", flush=True)
            time.sleep(seconds)
            print(f"{'program':>14} {'CPU s':>8} {'CPU %':>7} {'RSS MiB':>8}")
            for label, pid in (("Pellarin.exe", agent_pid), ("empty dialog", empty_pid)):
                used = cpu_seconds(pid) - before[pid]
                results["idle"][label] = (100 * used / seconds, rss_kib(pid) / 1024)
                print(f"{label:>14} {used:>8.2f} {100 * used / seconds:>7.3f} {rss_kib(pid) / 1024:>8.1f}")
        if args.json:
            Path(args.json).write_text(json.dumps(results))
    finally:
        uidriver("command", TITLE, 32772, check=False)
        if empty is not None:
            uidriver("close", "Idle baseline", check=False)
        if echo is not None:
            os.killpg(echo.pid, 15)
        for proc in (agent, empty, echo):
            stop(proc)


if __name__ == "__main__":
    main()
