#!/usr/bin/env bash
# Check-in upload benchmark: ZTCheckIn.exe (under Wine) and curl upload the same 1 GiB working
# copy to one devserver in the same run. Prints each throughput, their ratio and the peak
# resident memory (VmHWM) of the ZTCheckIn process.
#
#   bench/checkin_upload.sh [SIZE_BYTES]      (default 1073741824)
#
# Binaries: DEVSERVER (default build/native/bin/devserver; an optimised, non-sanitized build
# measures the client rather than the server) and EDMS_WINDOWS_BIN (default build/windows/bin,
# which must hold ZTCheckIn.exe and uidriver.exe). Work files go to BENCH_DIR (default /tmp),
# removed at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BENCH_ROOT=$root
exec /usr/bin/python3 - "$@" <<'PY'
import json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.request

root = os.environ["BENCH_ROOT"]
size = int(sys.argv[1]) if len(sys.argv) > 1 else 1 << 30
devserver = os.environ.get("DEVSERVER", f"{root}/build/native/bin/devserver")
bin_dir = os.environ.get("EDMS_WINDOWS_BIN", f"{root}/build/windows/bin")
checkin, uidriver = f"{bin_dir}/ZTCheckIn.exe", f"{bin_dir}/uidriver.exe"
wine = f"{root}/scripts/wine"
for f in (devserver, checkin, uidriver):
    if not os.path.isfile(f):
        sys.exit(f"missing: {f} (build it first)")
if not shutil.which("curl"):
    sys.exit("missing: curl")

work = tempfile.mkdtemp(prefix="checkin-bench.", dir=os.environ.get("BENCH_DIR", "/tmp"))
hexs = lambda t: t.encode().hex()
form = lambda t: "".join(f"%{b:02x}" for b in hexs(t).encode())
winpath = lambda p: "Z:" + p.replace("/", "\\")


def ui(*args, timeout_ms=30000):
    with tempfile.TemporaryFile() as out:
        rc = subprocess.run([wine, uidriver, "--timeout", str(timeout_ms), *args], stdout=out,
                            stderr=subprocess.DEVNULL, timeout=timeout_ms / 1000 + 60).returncode
        out.seek(0)
        return rc, out.read().decode()


with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
base = f"http://127.0.0.1:{port}"
adaptor = base + "/adaptor"
server = subprocess.Popen([devserver, "--port", str(port), "--data", f"{work}/data", "--quiet"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def admin(path, body):
    req = urllib.request.Request(base + path, json.dumps(body).encode(), method="POST",
                                 headers={"Content-Type": "application/json"})
    return urllib.request.urlopen(req, timeout=30).read()


def check_out(oid):
    body = (f"XRQ_COMMAND=CHECKOUT&XRQ_OBJECT={form(oid)}&XRQ_PAGE={form('P1')}"
            f"&XRQ_VERSION={form('1.0')}&XRQ_USER={form('bench')}&XRQ_PASS=")
    req = urllib.request.Request(adaptor, body.encode(), method="POST")
    with urllib.request.urlopen(req, timeout=60) as r:
        assert r.headers["XRS_RTNCODE"] == "00", r.headers
        while r.read(1 << 20):
            pass


def run_checkin(oid, path):
    """Seconds from OK to the end of the process, and the peak memory in kB."""
    key = f"Software\\kelvora\\Zelto\\CheckOuts\\{oid}"
    for name, value in (("LocalPath", winpath(path)), ("Immutable", "F")):
        assert ui("reg-set", key, name, "sz", value)[0] == 0
    args = (f"OID={oid}&VERSION_NO=1.0&FILE_PATH={hexs('bench.bin')}&ADAPTOR_URL={adaptor}"
            f"&USER_ID=bench&IS_CURRENT=TRUE&CREATOR_ID=bench")
    proc = subprocess.Popen([wine, checkin, args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert ui("wait-window", "Checkin")[0] == 0, "no check-in window"
    pids = [p for p in os.listdir("/proc") if p.isdigit() and _is_program(p, oid)]
    assert ui("click", "Checkin", "1001")[0] == 0  # same version: overwrite
    assert ui("click", "Checkin", "1")[0] == 0
    t0 = time.time()
    peak = 0
    while proc.poll() is None:
        for p in pids:
            peak = max(peak, _hwm(p))
        time.sleep(0.05)
    elapsed = time.time() - t0
    if proc.returncode != 0:
        sys.exit(f"ZTCheckIn ended with {proc.returncode}")
    return elapsed, peak


def _is_program(pid, oid):
    try:
        cmd = open(f"/proc/{pid}/cmdline", "rb").read().decode("utf-8", "replace")
    except OSError:
        return False
    return "ZTCheckIn.exe" in cmd and oid in cmd and "scripts/wine" not in cmd


def _hwm(pid):
    try:
        for line in open(f"/proc/{pid}/status"):
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


try:
    for _ in range(100):
        try:
            urllib.request.urlopen(base + "/_admin/faults", timeout=2).read()
            break
        except OSError:
            time.sleep(0.1)
    oid, tiny = f"BENCH-{os.getpid()}", f"BENCH-{os.getpid()}-TINY"
    for o in (oid, tiny):
        admin("/_admin/documents", {"object": o, "name": "bench.bin", "creator": "bench",
                                    "versions": [{"version": "1.0", "size": 1}]})
        check_out(o)

    path = f"{work}/bench({oid}).bin"
    block = os.urandom(1 << 20)

    def write_copy():
        with open(path, "wb") as f:
            for left in range(size, 0, -len(block)):
                f.write(block[:min(left, len(block))])
        os.sync()  # each timed run starts with nothing left to write

    # curl: the same CHECKIN request the program sends, body streamed from the file.
    headers = [f"XRQ_COMMAND: CHECKIN", f"XRQ_OBJECT: {hexs(oid)}", f"XRQ_VERSION: {hexs('1.0')}",
               f"XRQ_NEWVERSION: {hexs('1.0')}", f"XRQ_USER: {hexs('bench')}", "XRQ_PASS;",
               "XRQ_SHARENAME;", "XRQ_VNOTE;", "Content-Type: application/octet-stream", "Expect:"]

    def curl_run():
        t0 = time.time()
        out = subprocess.run(["curl", "-sS", "-D", "-", "-o", "/dev/null", "-T", path, "-X", "POST",
                              *sum((["-H", h] for h in headers), []), adaptor],
                             capture_output=True, text=True, check=True).stdout
        assert "XRS_RTNCODE: 00" in out, out
        return time.time() - t0

    # The fixed cost of one attempt (process start, window, completion, exit) on a
    # one-byte copy, so the transfer itself can be told apart.
    # The first run of a program in a Wine session also pays for loading its libraries: the
    # shorter of two runs is the fixed cost.
    tiny_path = f"{work}/bench({tiny}).bin"
    subprocess.run([wine, "cmd", "/c", "exit", "0"], capture_output=True)  # Wine already up
    fixed = None
    for attempt in range(2):
        if attempt:
            check_out(tiny)
        open(tiny_path, "wb").write(b"x")
        took, _ = run_checkin(tiny, tiny_path)
        fixed = took if fixed is None else min(fixed, took)

    # The disk is shared and noisy: curl and ZTCheckIn take BENCH_ROUNDS turns each and the
    # shortest run of each counts.
    rounds = int(os.environ.get("BENCH_ROUNDS", "3"))
    print(f"writing a working copy of {size} bytes, {rounds} rounds ...")
    curl_time = program_time = None
    peak_kb = 0
    for _ in range(rounds):
        write_copy()
        curl_took = curl_run()
        curl_time = curl_took if curl_time is None else min(curl_time, curl_took)
        check_out(oid)
        write_copy()
        took, peak = run_checkin(oid, path)
        program_time = took if program_time is None else min(program_time, took)
        # Each round's pair, for the table: its figures are the rounds' median and spread.
        print(f"round: curl={curl_took:.4f} program={took:.4f}", flush=True)
        peak_kb = max(peak_kb, peak)
        check_out(oid)
    transfer = max(program_time - fixed, 1e-3)

    mb = size / 1e6
    print(f"size               {size} bytes")
    print(f"curl               {curl_time:8.2f} s  {mb / curl_time:8.1f} MB/s")
    print(f"ZTCheckIn          {program_time:8.2f} s  {mb / program_time:8.1f} MB/s  (OK to exit)")
    print(f"ZTCheckIn transfer {transfer:8.2f} s  {mb / transfer:8.1f} MB/s  (minus {fixed:.2f} s fixed cost)")
    print(f"ratio ZTCheckIn/curl  {curl_time / program_time:.2f} (whole run)  {curl_time / transfer:.2f} (transfer)")
    print(f"ZTCheckIn peak memory (VmHWM) {peak_kb / 1024:.1f} MiB")
finally:
    server.terminate()
    server.wait(10)
    shutil.rmtree(work, ignore_errors=True)
PY
