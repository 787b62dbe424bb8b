#!/usr/bin/env bash
# Check-out download benchmark: ZTCheckOut.exe (under Wine) and curl fetch the same 1 GiB
# document from one devserver in the same run. Prints each throughput, their ratio and the
# peak resident memory (VmHWM) of the ZTCheckOut process.
#
#   bench/checkout_download.sh [SIZE_BYTES]      (default 1073741824)
#
# Binaries: DEVSERVER (default build/native/bin/devserver; an optimised, non-sanitized build
# measures the client rather than the server) and EDMS_WINDOWS_BIN (default build/windows/bin).
# Work files go to BENCH_DIR (default a fresh folder under /tmp), removed at the end.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size=${1:-1073741824}
devserver=${DEVSERVER:-$root/build/native/bin/devserver}
bin=${EDMS_WINDOWS_BIN:-$root/build/windows/bin}
checkout=$bin/ZTCheckOut.exe
py=/usr/bin/python3

for f in "$devserver" "$checkout"; do
  [[ -x "$f" || -f "$f" ]] || { echo "missing: $f (build it first)" >&2; exit 2; }
done
command -v curl >/dev/null || { echo "missing: curl" >&2; exit 2; }

dir=$(mktemp -d "${BENCH_DIR:-/tmp}/checkout-bench.XXXXXX")
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

port=$($py -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$devserver" --port "$port" --data "$dir/data" >"$dir/devserver.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
  curl -sf "http://127.0.0.1:$port/_admin/faults" >/dev/null && break
  sleep 0.1
done

oid="BENCH-$$"
echo "creating a document of $size bytes ..."
curl -sf -X POST -H 'Content-Type: application/json' \
  -d "{\"object\":\"$oid\",\"page\":\"P1\",\"name\":\"bench.bin\",\"versions\":[{\"version\":\"1.0\",\"size\":$size}]}" \
  "http://127.0.0.1:$port/_admin/documents" >/dev/null

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
form() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | sed 's/\(..\)/%\1/g'; }
adaptor="http://127.0.0.1:$port/adaptor"
now() { date +%s.%N; }
mbps() { $py -c "import sys; b,t=float(sys.argv[1]),float(sys.argv[2]); print(f'{b/t/1e6:.1f}')" "$1" "$2"; }

# curl: the same CHECKOUT request the program sends, body straight to a file.
body="XRQ_COMMAND=CHECKOUT&XRQ_OBJECT=$(form "$(hex "$oid")")&XRQ_PAGE=$(form "$(hex P1)")"
body+="&XRQ_VERSION=$(form "$(hex 1.0)")&XRQ_USER=$(form "$(hex bench)")&XRQ_PASS="
mkdir -p "$dir/curl" "$dir/work"
# The machine's disk is shared and noisy: each side runs BENCH_ROUNDS times, alternating, and
# its shortest run counts. Every timed run starts with nothing waiting to be written, or one
# run's flush would pay for the data the run before it left in memory.
rounds=${BENCH_ROUNDS:-3}
shortest() { $py -c "import sys; print(min(float(x) for x in sys.argv[1:] if x))" "$@"; }
curl_run() {
  sync
  local t0 t1 t2
  t0=$(now)
  curl -sf -o "$dir/curl/bench.bin" -H 'Content-Type: application/x-www-form-urlencoded' \
    --data-binary "$body" "$adaptor"
  t1=$(now)
  # ZTCheckOut puts the copy on disk before it takes its name (a crash never leaves a short
  # working copy); curl does not. Its figure with the same flush added is the second yardstick.
  $py -c "import os,sys; fd=os.open(sys.argv[1], os.O_RDONLY); os.fsync(fd)" "$dir/curl/bench.bin"
  t2=$(now)
  last_curl=$($py -c "print(float('$t1')-float('$t0'))")
  last_flushed=$($py -c "print(float('$t2')-float('$t0'))")
  curl_time=$(shortest "$last_curl" "${curl_time:-}")
  flushed_time=$(shortest "$last_flushed" "${flushed_time:-}")
}

# ZTCheckOut under Wine; the Wine process is found by the unique work folder in its arguments.
work_win="Z:$(echo "$dir/work" | tr / '\\')"
args="OID=$oid&PAGE_ID=P1&VERSION_NO=1.0&FILE_PATH=$(hex 'C:\docs\bench.bin')&ADAPTOR_URL=$adaptor"
args+="&WORK_FOLDER=$work_win&USER_ID=bench&INVOKE_EDITOR=FALSE&IS_IMMUTABLE=F"
"$root/scripts/wine" cmd /c exit 0 >/dev/null 2>&1 || true   # Wine already up: not part of the timing

# The fixed cost of one run (process start, window, completion and exit),
# measured on a one-byte document, so the transfer itself can be told apart.
curl -sf -X POST -H 'Content-Type: application/json' \
  -d "{\"object\":\"$oid-TINY\",\"page\":\"P1\",\"name\":\"tiny.bin\",\"versions\":[{\"version\":\"1.0\",\"size\":1}]}" \
  "http://127.0.0.1:$port/_admin/documents" >/dev/null
tiny_args="OID=$oid-TINY&PAGE_ID=P1&VERSION_NO=1.0&FILE_PATH=$(hex 'C:\docs\tiny.bin')&ADAPTOR_URL=$adaptor"
tiny_args+="&WORK_FOLDER=$work_win&USER_ID=bench&INVOKE_EDITOR=FALSE&IS_IMMUTABLE=F"
# The first run of a program in a Wine session also pays for loading its libraries: the
# shorter of two runs is the fixed cost (the second replaces the first's unchanged copy).
fixed_time=""
for _ in 1 2; do
  t0=$(now)
  "$root/scripts/wine" "$checkout" "$tiny_args" >/dev/null 2>&1 || { echo "ZTCheckOut failed on the tiny document" >&2; exit 1; }
  t1=$(now)
  fixed_time=$($py -c "t=float('$t1')-float('$t0'); p='$fixed_time'; print(min(t, float(p)) if p else t)")
done

checkout_run() {
  sync
  local t0 t1 launcher code
  t0=$(now)
  "$root/scripts/wine" "$checkout" "$args" >/dev/null 2>&1 &
  launcher=$!
  while kill -0 "$launcher" 2>/dev/null; do
    for pid in $(pgrep -f "checkout-bench.*ZTCheckOut|ZTCheckOut.exe.*$(basename "$dir")" || true); do
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      [[ -n "$hwm" && "$hwm" -gt "$peak_kb" ]] && peak_kb=$hwm
    done
    sleep 0.1
  done
  set +e; wait "$launcher"; code=$?; set -e
  t1=$(now)
  [[ "$code" == 0 ]] || { echo "ZTCheckOut exited with $code" >&2; exit 1; }
  last_zt=$($py -c "print(float('$t1')-float('$t0'))")
  zt_time=$(shortest "$last_zt" "${zt_time:-}")
}

peak_kb=0
for _ in $(seq 1 "$rounds"); do
  curl_run
  checkout_run   # a later run replaces the earlier run's unchanged copy
  # Each round's pair, for the table: its figures are the rounds' median and spread.
  echo "round: curl=$last_curl flushed=$last_flushed program=$last_zt"
done

copy="$dir/work/bench($oid).bin"
cmp -s "$copy" "$dir/curl/bench.bin" || { echo "the two downloads differ" >&2; exit 1; }

echo "document:        $size bytes (both copies identical), shortest of $rounds runs each"
echo "curl:            $(mbps "$size" "$curl_time") MB/s  ($(printf %.2f "$curl_time") s)"
echo "curl + flush:    $(mbps "$size" "$flushed_time") MB/s  ($(printf %.2f "$flushed_time") s, the file put on disk as ZTCheckOut does)"
echo "ZTCheckOut.exe:  $(mbps "$size" "$zt_time") MB/s  ($(printf %.2f "$zt_time") s, Wine start-up and the window included)"
transfer_time=$($py -c "print(max(float('$zt_time')-float('$fixed_time'), 1e-3))")
echo "  of which:      $(printf %.2f "$fixed_time") s fixed cost of a run (one-byte document), $(mbps "$size" "$transfer_time") MB/s for the transfer alone"
echo "ratio:           $($py -c "print(f'{float(\"$curl_time\")/float(\"$zt_time\"):.2f}')") whole run, $($py -c "print(f'{float(\"$curl_time\")/float(\"$transfer_time\"):.2f}')") transfer alone (ZTCheckOut throughput / curl throughput)"
echo "ratio to flush:  $($py -c "print(f'{float(\"$flushed_time\")/float(\"$zt_time\"):.2f}')") whole run, $($py -c "print(f'{float(\"$flushed_time\")/float(\"$transfer_time\"):.2f}')") transfer alone (against curl + flush)"
echo "peak memory:     $((peak_kb / 1024)) MiB VmHWM of the ZTCheckOut process"
