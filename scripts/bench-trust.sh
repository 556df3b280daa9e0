#!/usr/bin/env bash
# What the trusted channel costs, on the x64 build: quick starts of the test
# build's trusted launcher over HTTPS (signed replies, hashed packages) beside
# the plain launcher over HTTP, the launchers' peak private memory beside a
# bare WinHTTP client's over HTTP and HTTPS, and a 256 MiB package's SHA-256
# against reading it. Starts the loopback operator's TLS front for the run
# (ports 18443 and 19443, and 18090 and 9090 for the plain endpoints, must be
# free: run it through scripts/isolated.sh). Exits 1, printing no figures,
# when a run fails.
#   bash scripts/isolated.sh bash scripts/bench-trust.sh [quick starts of each, default 7]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x64
export WINEPREFIX=$build/wineprefix
trap 'bash "$root/scripts/tls-front.sh" stop "$build" >/dev/null; wineserver -k >/dev/null 2>&1 || true' EXIT
cmake "$build" >/dev/null && cmake --build "$build" --target trust_bench -- --no-print-directory >/dev/null
bash "$root/scripts/tls-front.sh" start "$build"
"$root/scripts/wine-run.sh" "$WINEPREFIX" "$build/bin/trust_bench.exe" "${1:-7}"
