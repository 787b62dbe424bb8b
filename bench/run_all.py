#!/usr/bin/python3
"""Every benchmark in one go (`make bench`), then one table: each figure, its yardstick measured
in the same run, and their ratio.

    BENCH_SIZE=268435456 BENCH_IDLE_MINUTES=1 BENCH_REQUESTS=2000 /usr/bin/python3 bench/run_all.py

Builds what it needs first: an optimised devserver without sanitizers (build/bench-release) and
the WebSocket echo server (build/windows). Each benchmark's own output is kept in
build/bench/<name>.txt; a benchmark that fails is named in the table and the run exits with 1.
"""
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
OUT = ROOT / "build" / "bench"
PY = "/usr/bin/python3"
SIZE = int(os.environ.get("BENCH_SIZE", str(256 << 20)))
IDLE_MINUTES = os.environ.get("BENCH_IDLE_MINUTES", "1")
REQUESTS = os.environ.get("BENCH_REQUESTS", "2000")
BIN = Path(os.environ.get("EDMS_WINDOWS_BIN", ROOT / "build" / "windows" / "bin"))


def build():
    release = ROOT / "build" / "bench-release"
    subprocess.run(["cmake", "-S", ROOT, "-B", release, "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++",
                    "-DCMAKE_BUILD_TYPE=Release", "-DEDMS_SANITIZE=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", release, "-j2", "--target", "devserver"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", ROOT / "build" / "windows", "-j2", "--target", "echo_server"], check=True,
                   stdout=subprocess.DEVNULL)
    return release / "bin" / "devserver"


def run(name, command, env):
    """The benchmark's output, also kept in build/bench; None when it failed."""
    print(f"bench: {name} ...", flush=True)
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            stdin=subprocess.DEVNULL)
    (OUT / f"{name}.txt").write_text(result.stdout)
    if result.returncode != 0:
        print(f"bench: {name} failed (exit {result.returncode}), see build/bench/{name}.txt", flush=True)
        return None
    return result.stdout


def find(pattern, text):
    match = re.search(pattern, text or "", re.M)
    return {k: float(v) for k, v in match.groupdict().items()} if match else None


# Rounds whose figures differ by more than this share of their median make an unsteady figure:
# the table says so instead of printing a result.
UNSTEADY = 1 / 3


def spread(values):
    """(median, lowest, highest, steady) of the rounds' values."""
    ordered = sorted(values)
    middle = len(ordered) // 2
    median = ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2
    low, high = ordered[0], ordered[-1]
    return median, low, high, (high - low) <= UNSTEADY * median


def transfer(text):
    """{ratio, flushed (both (median, low, high, steady) of curl time / program time a round),
    mbps (median MB/s), fixed (s), peak (MiB)} from one transfer bench's rounds; None when it
    printed none."""
    rounds = [m.groupdict() for m in re.finditer(
        r"^round: curl=(?P<curl>[\d.]+)(?: flushed=(?P<flushed>[\d.]+))? program=(?P<program>[\d.]+)", text or "", re.M)]
    peak = find(r"(?:peak memory:\s+|VmHWM\)\s+)(?P<peak>[\d.]+) MiB", text)
    if not rounds or peak is None:
        return None
    figures = {"ratio": spread([float(r["curl"]) / float(r["program"]) for r in rounds]),
               "mbps": spread([SIZE / float(r["program"]) / 1e6 for r in rounds])[0], **peak}
    if all(r["flushed"] for r in rounds):
        figures["flushed"] = spread([float(r["flushed"]) / float(r["program"]) for r in rounds])
    fixed = find(r"(?P<fixed>[\d.]+) s fixed cost", text) or find(r"minus (?P<fixed>[\d.]+) s fixed cost", text)
    if fixed:
        figures.update(fixed)
    return figures


def ratio_cell(figure):
    median, low, high, steady = figure
    if not steady:
        return f"unsteady ({low:.2f} to {high:.2f})"
    return f"{median:.2f} ({low:.2f} to {high:.2f})"


def empty_dialog_peak(env):
    """VmHWM (MiB) of an empty Win32 dialog program under Wine: the yardstick of peak memory."""
    proc = subprocess.Popen([str(ROOT / "scripts" / "wine"), str(BIN / "empty_dialog.exe"), "Memory baseline"],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    peak = None
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and peak is None:
            time.sleep(1)
            for pid in (p for p in os.listdir("/proc") if p.isdigit()):
                try:
                    if b"empty_dialog.exe" not in Path(f"/proc/{pid}/cmdline").read_bytes():
                        continue
                    time.sleep(2)  # let it finish drawing
                    status = Path(f"/proc/{pid}/status").read_text()
                except OSError:
                    continue
                peak = int(re.search(r"^VmHWM:\s+(\d+)", status, re.M).group(1)) / 1024
                break
    finally:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(timeout=15)
    return peak


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, DEVSERVER=str(build()))
    env.setdefault("EDMS_WINDOWS_BIN", str(BIN))
    size = str(SIZE)
    checkout = run("checkout", ["bash", ROOT / "bench" / "checkout_download.sh", size], env)
    checkin = run("checkin", ["bash", ROOT / "bench" / "checkin_upload.sh", size], env)
    window = run("download_window", [PY, ROOT / "bench" / "download_window.py", size], env)
    figures = OUT / "check_user.json"
    figures.unlink(missing_ok=True)
    service = run("check_user", [PY, ROOT / "bench" / "agent_check_user.py", "--idle-minutes", IDLE_MINUTES,
                                 "--requests", REQUESTS, "--json", str(figures)], env)
    baseline = empty_dialog_peak(env)

    rows = []
    failed = []

    parsed = {"ZTCheckOut": transfer(checkout), "ZTCheckIn": transfer(checkin), "download window": transfer(window)}
    rounds = os.environ.get("BENCH_ROUNDS", "3")
    for label, f in parsed.items():
        if f is None:
            failed.append(label)
            rows.append((label, "failed", "", ""))
            continue
        fixed = f", {f['fixed']:.2f} s of it fixed cost" if "fixed" in f else ""
        rows.append((f"{label} vs curl, whole run (median of {rounds} rounds{fixed})", f"{f['mbps']:.0f} MB/s",
                     "curl, in the same rounds", ratio_cell(f["ratio"])))
        if "flushed" in f:
            rows.append((f"{label} vs curl + flush to disk, whole run", f"{f['mbps']:.0f} MB/s",
                         "curl + flush, in the same rounds", ratio_cell(f["flushed"])))

    results = json.loads(figures.read_text()) if service and figures.exists() else None
    if results:
        for connections in ("1", "10", "100"):
            _, p99, rate = results["agent"][connections]
            _, echo_p99, echo_rate = results["echo"][connections]
            rows.append((f"CHECK_USER at {connections} connection{'s' if connections != '1' else ''}",
                         f"{rate:.0f} req/s, p99 {p99:.2f} ms", f"echo {echo_rate:.0f} req/s, p99 {echo_p99:.2f} ms",
                         f"{rate / echo_rate:.2f}"))
    else:
        failed.append("CHECK_USER")
        rows.append(("CHECK_USER", "failed", "", ""))

    for label in ("ZTCheckOut", "ZTCheckIn", "download window"):
        f = parsed[label]
        if f is not None and baseline:
            program = "the agent" if label == "download window" else label
            rows.append((f"peak memory of {program} ({label})", f"{f['peak']:.0f} MiB", f"empty dialog {baseline:.0f} MiB",
                         f"+{f['peak'] - baseline:.0f} MiB"))
    if results and results.get("idle"):
        cpu, rss = results["idle"]["Pellarin.exe"]
        empty_cpu, empty_rss = results["idle"]["empty dialog"]
        rows.append((f"agent idle after {IDLE_MINUTES} min", f"{rss:.1f} MiB, {cpu:.3f} % CPU",
                     f"empty dialog {empty_rss:.1f} MiB, {empty_cpu:.3f} % CPU", f"+{rss - empty_rss:.1f} MiB"))

    print(f"\nsize {SIZE} bytes; {REQUESTS} CHECK_USER requests per level; {os.cpu_count()} cores; "
          f"load average {os.getloadavg()[0]:.2f}\n")
    print("Transfer ratios are the program's throughput over curl's, round by round: the median, and in\n"
          f"brackets the lowest and highest round; rounds more than {UNSTEADY:.0%} of the median apart are\n"
          "marked unsteady, not given as a result.\n")
    print("| figure | measured | same run | ratio |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    if failed:
        print(f"\nfailed: {', '.join(failed)}")
        sys.exit(1)


if __name__ == "__main__":
    main()
