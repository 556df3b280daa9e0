#!/usr/bin/env bash
# Download.dll, a bare WinHTTP read loop and curl, the same files from the
# same server in one run:
#   bash scripts/bench-download.sh [runs]        (default 3 runs of each)
# Starts download_bench.exe under Wine on a free loopback port: it serves a
# 16 MiB and a 256 MiB file from a temporary folder, downloads each through
# Download.dll (best MB/s, peak private memory) and through a bare WinHTTP
# loop into a file (best MB/s) and keeps serving; then
# Linux curl fetches the same two files from that server into a folder on the
# same disk, and both figures are printed side by side. Needs the x64 build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x64
runs=${1:-3}
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

cmake --build "$build" --target download_bench Download -j2 >/dev/null
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
log=$(mktemp)
landing=$build/bench-curl
mkdir -p "$landing"

stop_bench() {
  curl -s -m 5 "http://127.0.0.1:$port/stop" >/dev/null 2>&1 || true
}
cleanup() {
  stop_bench
  wait 2>/dev/null || true
  rm -rf "$landing" "$log"
  WINEPREFIX=$build/wineprefix "$server" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

bash "$root/scripts/wine-run.sh" "$build/wineprefix" "$build/bin/download_bench.exe" \
  --serve --port "$port" --runs "$runs" >"$log" 2>&1 &
bench=$!

# The bench answers /ready once its own downloads are done.
for _ in $(seq 1 900); do
  if curl -sf -m 2 "http://127.0.0.1:$port/ready" >/dev/null 2>&1; then break; fi
  if ! kill -0 "$bench" 2>/dev/null; then break; fi
  sleep 1
done

declare -A curl_best
for f in f16 f256; do
  best=0
  for _ in $(seq 1 "$runs"); do
    speed=$(curl -s -o "$landing/$f" -w '%{speed_download}' "http://127.0.0.1:$port/$f" || echo 0)
    rm -f "$landing/$f"
    best=$(python3 -c "print(max($best, $speed / 1e6))")
  done
  curl_best[$f]=$best
done
stop_bench
wait "$bench" || true

cat "$log"
echo
for f in f16 f256; do
  ours=$(sed -n "s/^RESULT $f .* best \([0-9.]*\) MB\/s.*/\1/p" "$log" | tr -d '\r')
  bare=$(sed -n "s/^RESULT-WINHTTP $f .* best \([0-9.]*\) MB\/s.*/\1/p" "$log" | tr -d '\r')
  python3 - "$f" "${ours:-0}" "${bare:-0}" "${curl_best[$f]}" <<'PY'
import sys
name, ours, bare, curl = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
def share(x):
    return f"{x / curl:.2f} x curl" if curl > 0 else "-"
print(f"{name}: Download.dll {ours:.1f} MB/s ({share(ours)}), bare WinHTTP {bare:.1f} MB/s "
      f"({share(bare)}), curl {curl:.1f} MB/s; same server, each to a file")
PY
done
