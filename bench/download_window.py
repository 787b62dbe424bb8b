#!/usr/bin/python3
"""Download-window benchmark: the agent's multi-file window (under Wine) and curl fetch the same
document from one devserver in the same run. Prints each throughput, their ratio, the fixed cost
of one window run (measured on a one-byte document) and the peak resident memory (VmHWM) of the
agent.

    /usr/bin/python3 bench/download_window.py [SIZE_BYTES]      (default 1073741824)

Binaries: DEVSERVER (default: an optimised, non-sanitized build in build/bench-release, built
when missing) and EDMS_WINDOWS_BIN (default build/windows/bin). The agent listens on
EDMS_E2E_AGENT_PORT (default 23232); its configuration is written into the Wine registry.
Work files go to a fresh folder under /tmp, removed at the end. Every wait is bounded.
"""
import asyncio
import filecmp
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

import websockets

ROOT = Path(__file__).resolve().parents[1]
WINE = ROOT / "scripts" / "wine"
BIN = Path(os.environ.get("EDMS_WINDOWS_BIN", ROOT / "build" / "windows" / "bin"))
AGENT, UIDRIVER = BIN / "Pellarin.exe", BIN / "uidriver.exe"
PORT = int(os.environ.get("EDMS_E2E_AGENT_PORT", "23232"))
CONFIG_KEY = r"Software\kelvora\Zelto\Config"
VERSION = "0.0.0.2"
TITLE = "Download"
START_BUTTON = 1003
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))


def uidriver(*args, timeout_ms=30000):
    done = subprocess.run([str(WINE), str(UIDRIVER), "--timeout", str(timeout_ms), *map(str, args)],
                          capture_output=True, timeout=timeout_ms / 1000 + 60)
    if done.returncode != 0:
        sys.exit(f"uidriver {args[0]} failed: {done.stderr.decode('utf-8', 'replace')}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            sys.exit(f"timed out waiting for {what}")
        time.sleep(0.05)


def devserver_binary():
    if os.environ.get("DEVSERVER"):
        return os.environ["DEVSERVER"]
    build = ROOT / "build" / "bench-release"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_C_COMPILER=clang",
                    "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_BUILD_TYPE=Release", "-DEDMS_SANITIZE=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "-j2", "--target", "devserver"], check=True,
                   stdout=subprocess.DEVNULL)
    return str(build / "bin" / "devserver")


def admin(base, path, body):
    req = urllib.request.Request(base + path, data=json.dumps(body).encode(), method="POST",
                                 headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(req, timeout=600) as r:
        return json.loads(r.read() or b"null")


def form(text):
    return "".join(f"%{b:02x}" for b in text.encode().hex().encode())


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def peak_kib(pid):
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


async def queue_and_open(oid, name):
    async with websockets.connect(f"ws://127.0.0.1:{PORT}", open_timeout=30) as ws:
        await ws.send(json.dumps({"arg1": "bench", "arg2": ""}))
        await asyncio.wait_for(ws.recv(), 30)
        await ws.send(json.dumps({"arg1": "ADD_TO_DOWNLOAD", "arg2": f"{oid}*P1*{name}"}))
        await ws.send(json.dumps({"arg1": "DO_DOWNLOAD", "arg2": ""}))


def window_run(oid, name, target, agent_pid):
    """Seconds from the click on Start until the file has its name, and the agent's peak memory."""
    asyncio.run(asyncio.wait_for(queue_and_open(oid, name), 60))
    uidriver("wait-window", TITLE)
    t0 = time.perf_counter()
    uidriver("click", TITLE, START_BUTTON)
    peak = 0
    deadline = time.monotonic() + 3600
    while not target.exists():
        if time.monotonic() > deadline:
            sys.exit("the download window did not finish within an hour")
        peak = max(peak, peak_kib(agent_pid))
        time.sleep(0.05)
    elapsed = time.perf_counter() - t0
    uidriver("wait-gone", TITLE)  # it closes itself after a run without a failed row
    return elapsed, peak


def main():
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 1 << 30
    for p in (AGENT, UIDRIVER):
        if not p.exists():
            sys.exit(f"not built: {p}")
    if port_open(PORT):
        sys.exit(f"port {PORT} is in use: stop the running agent first")
    devserver = devserver_binary()
    work = Path(tempfile.mkdtemp(prefix="download-bench.", dir="/tmp"))
    server = agent = None
    try:
        port = free_port()
        server = subprocess.Popen([devserver, "--port", str(port), "--data", str(work / "data"), "--quiet"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: port_open(port), 30, "devserver")
        base = f"http://127.0.0.1:{port}"
        print(f"creating a document of {size} bytes ...", flush=True)
        admin(base, "/_admin/documents", {"object": "BENCH", "page": "P1", "name": "bench.bin",
                                          "versions": [{"version": "1.0", "size": size}]})
        admin(base, "/_admin/documents", {"object": "TINY", "page": "P1", "name": "tiny.bin",
                                          "versions": [{"version": "1.0", "size": 1}]})

        (work / "curl").mkdir()
        body = (f"XRQ_COMMAND=DOWNLOAD&XRQ_OBJECT={form('BENCH')}&XRQ_PAGE={form('P1')}&XRQ_USER={form('bench')}"
                f"&XRQ_PASS={form('KVMRT')}&XRQ_FORCE=TRUE")

        def curl_run():
            """(seconds to the file, seconds until it is on disk as the window's file is)."""
            os.sync()
            t0 = time.perf_counter()
            subprocess.run(["curl", "-sf", "-o", str(work / "curl" / "bench.bin"), "-H",
                            "Content-Type: application/x-www-form-urlencoded", "--data-binary", body,
                            f"{base}/adaptor"], check=True, timeout=3600)
            t1 = time.perf_counter()
            fd = os.open(work / "curl" / "bench.bin", os.O_RDONLY)
            try:
                os.fsync(fd)
            finally:
                os.close(fd)
            return t1 - t0, time.perf_counter() - t0

        download = work / "download"
        download.mkdir()
        uidriver("reg-delete", CONFIG_KEY)
        for name, value in (("AdaptorURL", f"{base}/adaptor"), ("EdmsURL", f"{base}/"), ("AppType", "EDMS_AGENT"),
                            ("AppVersion", VERSION), ("WorkFolder", windows_path(work)),
                            ("DownloadFolder", windows_path(download))):
            uidriver("reg-set", CONFIG_KEY, name, "sz", value)
        uidriver("reg-set", CONFIG_KEY, "LanguageID", "dword", 1033)
        uidriver("reg-set", CONFIG_KEY, "ServicePort", "dword", PORT)
        agent = subprocess.Popen([str(WINE), str(AGENT)], env=dict(os.environ, WINEDEBUG="-all"),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: port_open(PORT), 60, "the agent")

        fixed, _ = window_run("TINY", "tiny.bin", download / "tiny.bin", agent.pid)
        # The disk is shared and noisy: each side runs ROUNDS times, alternating, and its
        # shortest run counts; each timed run starts with nothing waiting to be written.
        curl_times, flushed_times, window_times, peak = [], [], [], 0
        for _ in range(ROUNDS):
            plain, flushed = curl_run()
            curl_times.append(plain)
            flushed_times.append(flushed)
            (download / "bench.bin").unlink(missing_ok=True)
            os.sync()
            seconds, run_peak = window_run("BENCH", "bench.bin", download / "bench.bin", agent.pid)
            window_times.append(seconds)
            # Each round's pair, for the table: its figures are the rounds' median and spread.
            print(f"round: curl={plain:.4f} flushed={flushed:.4f} program={seconds:.4f}", flush=True)
            peak = max(peak, run_peak)
        curl_time, flushed_time, window = min(curl_times), min(flushed_times), min(window_times)
        if not filecmp.cmp(download / "bench.bin", work / "curl" / "bench.bin", shallow=False):
            sys.exit("the two downloads differ")

        mbps = lambda seconds: size / seconds / 1e6  # noqa: E731
        transfer = max(window - fixed, 1e-3)
        print(f"document:        {size} bytes (both copies identical), shortest of {ROUNDS} runs each")
        print(f"curl:            {mbps(curl_time):.1f} MB/s  ({curl_time:.2f} s)")
        print(f"curl + flush:    {mbps(flushed_time):.1f} MB/s  ({flushed_time:.2f} s, the file put on disk as the "
              f"window does)")
        print(f"download window: {mbps(window):.1f} MB/s  ({window:.2f} s from the click on Start to the file)")
        print(f"  of which:      {fixed:.2f} s fixed cost of a run (one-byte document), "
              f"{mbps(transfer):.1f} MB/s for the transfer alone")
        print(f"ratio:           {curl_time / window:.2f} whole run, {curl_time / transfer:.2f} transfer alone "
              f"(window throughput / curl throughput)")
        print(f"ratio to flush:  {flushed_time / window:.2f} whole run, {flushed_time / transfer:.2f} transfer alone "
              f"(against curl + flush)")
        print(f"peak memory:     {peak / 1024:.0f} MiB VmHWM of the agent process")
    finally:
        if agent is not None:
            subprocess.run([str(WINE), str(UIDRIVER), "command", f"Pellarin[{VERSION}]", "32772"],
                           capture_output=True, timeout=60)
            try:
                agent.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(agent.pid, 15)
                agent.wait(timeout=15)
        if server is not None:
            server.terminate()
            server.wait(timeout=15)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
