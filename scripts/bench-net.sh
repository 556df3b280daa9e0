#!/usr/bin/env bash
# The launcher over a slow network and a large package's way to its installer,
# on the x64 build: first and quick starts, plain HTTP and trusted HTTPS, with
# an added round trip of <rtt> ms at the loopback endpoints (once per
# connection, once per answer) and at the TLS front (twice per handshake);
# then a 256 MiB hall package through the trusted launcher, from its last
# byte to the installer's process. With <earlier build>, the same figures
# for the program files of that build (its dist folder and
# LumoraTrusted.exe) follow, in the same run; NET_BENCH_EARLIER_BYTES_ALONE=1
# signs its replies over their bytes alone (a trusted launcher from before
# documents were signed by kind). NET_BENCH_ARGS: further net_bench options
# (--first N --quick N --package N). Serves loopback ports: run it
# in its own network namespace:
#   bash scripts/isolated.sh bash scripts/bench-net.sh [rtt ms, default 50] [earlier build folder]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x64
rtt=${1:-50}
earlier=${2:-}
export WINEPREFIX=$build/wineprefix
trap 'bash "$root/scripts/tls-front.sh" stop "$build" >/dev/null; wineserver -k >/dev/null 2>&1 || true' EXIT
cmake "$build" >/dev/null && cmake --build "$build" --target net_bench -- --no-print-directory >/dev/null
echo "bench-net: $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
LUMORA_TLS_LATENCY_MS=$rtt bash "$root/scripts/tls-front.sh" start "$build"
read -r -a NET_BENCH_ARGS <<<"${NET_BENCH_ARGS:-}"
run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$build/bin/net_bench.exe" --rtt "$rtt" "$@"; }
run --label "this build" "${NET_BENCH_ARGS[@]}"
if [ -n "$earlier" ]; then
  run --from "Z:$(cd "$earlier" && pwd | tr / '\\')" --label "earlier build $earlier" \
    --signed-bytes-alone "${NET_BENCH_EARLIER_BYTES_ALONE:-0}" "${NET_BENCH_ARGS[@]}"
fi
echo "bench-net: done, load $(cut -d' ' -f1-3 /proc/loadavg)"
