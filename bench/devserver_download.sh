#!/usr/bin/env bash
# Downloads a 1 GiB document from devserver with curl and the same file from a plain
# static server (python3 -m http.server) in the same run; prints both throughputs and
# their ratio. Run on demand: bench/devserver_download.sh [SIZE_BYTES]
# Uses an optimised, non-sanitized build in build/bench-release (built when missing),
# or the binary named by $DEVSERVER.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SIZE="${1:-1073741824}"
ROUNDS="${ROUNDS:-3}"
PY=/usr/bin/python3

if [[ -z "${DEVSERVER:-}" ]]; then
  BUILD="$ROOT/build/bench-release"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Release -DEDMS_SANITIZE=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target devserver >/dev/null
  DEVSERVER="$BUILD/bin/devserver"
fi

WORK="$(mktemp -d)"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { "$PY" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
  for _ in $(seq 100); do
    if "$PY" -c "import socket,sys; socket.create_connection(('127.0.0.1',$1),1)" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "server on port $1 did not start" >&2; exit 1
}
hexform() { "$PY" -c 'import sys; print("".join("%%%02x" % b for b in sys.argv[1].encode().hex().encode()))' "$1"; }

DS_PORT="$(free_port)"
"$DEVSERVER" --port "$DS_PORT" --data "$WORK/data" --quiet >"$WORK/devserver.log" 2>&1 &
PIDS+=($!)
wait_port "$DS_PORT"

echo "creating a document of $SIZE bytes ..."
curl -sf -X POST -H 'Content-Type: application/json' "http://127.0.0.1:$DS_PORT/_admin/documents" \
  -d "{\"object\":\"BENCH-1\",\"page\":\"P1\",\"name\":\"big.bin\",\"versions\":[{\"version\":\"1.0\",\"size\":$SIZE}]}" >/dev/null

# The static server serves the very same content file devserver streams.
CONTENT="$(ls -S "$WORK/data/content" | head -1)"
mkdir -p "$WORK/static"
ln "$WORK/data/content/$CONTENT" "$WORK/static/big.bin"
ST_PORT="$(free_port)"
(cd "$WORK/static" && exec "$PY" -m http.server "$ST_PORT" --bind 127.0.0.1 >/dev/null 2>&1) &
PIDS+=($!)
wait_port "$ST_PORT"

BODY="XRQ_COMMAND=DOWNLOAD&XRQ_OBJECT=$(hexform BENCH-1)&XRQ_PAGE=$(hexform P1)&XRQ_USER=$(hexform bench)&XRQ_PASS=$(hexform KVMRT)&XRQ_FORCE=TRUE"

best_ds=0
best_st=0
for round in $(seq "$ROUNDS"); do
  # size_download and speed_download let us check the byte count as well as the rate.
  read -r got ds <<<"$(curl -s -o /dev/null -w '%{size_download} %{speed_download}' \
    -H 'Content-Type: application/x-www-form-urlencoded' --data "$BODY" "http://127.0.0.1:$DS_PORT/adaptor")"
  [[ "$got" == "$SIZE" ]] || { echo "devserver sent $got bytes, expected $SIZE" >&2; exit 1; }
  read -r got st <<<"$(curl -s -o /dev/null -w '%{size_download} %{speed_download}' \
    "http://127.0.0.1:$ST_PORT/big.bin")"
  [[ "$got" == "$SIZE" ]] || { echo "static server sent $got bytes, expected $SIZE" >&2; exit 1; }
  printf 'round %d: devserver %8.1f MiB/s   static %8.1f MiB/s\n' "$round" \
    "$("$PY" -c "print($ds/1048576)")" "$("$PY" -c "print($st/1048576)")"
  best_ds="$("$PY" -c "print(max($best_ds, $ds))")"
  best_st="$("$PY" -c "print(max($best_st, $st))")"
done

"$PY" - "$best_ds" "$best_st" <<'PYEOF'
import sys
ds, st = float(sys.argv[1]), float(sys.argv[2])
print("best devserver: %.1f MiB/s" % (ds / 1048576))
print("best static   : %.1f MiB/s" % (st / 1048576))
print("ratio devserver/static: %.2f" % (ds / st))
PYEOF
