#!/usr/bin/env bash
# Starts or stops the HTTPS side of the loopback operator of a build (the
# tests' CTest fixture, the demo and the benchmark use it):
#   tls-front.sh start <build folder>   adds the build's test CA to its Wine
#       prefix's Root store, then serves https://localhost:18443 (to the plain
#       port 18090) and https://localhost:19443 (to 9090) with the build's
#       certificates, and the test CA's revocation list on
#       http://localhost:18099/ca.crl, until stopped (at most an hour);
#       LUMORA_TLS_LATENCY_MS=<ms> adds a round trip of <ms> twice to each
#       handshake (a benchmark's network)
#   tls-front.sh stop <build folder>
# Its control folder is <build>/tls-front: "pid", "front.log" (one line per
# connection), and a file named after a port holding a certificate's name
# (expired, wronghost, untrusted) switches what that port presents.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
action=${1:?usage: tls-front.sh start|stop <build folder>}
build=$(cd "${2:?usage: tls-front.sh start|stop <build folder>}" && pwd)
control=$build/tls-front
front=$build/native/bin/lumora_tls_front

running_pid() {  # the pid of this build's front, when it runs
  local pid
  pid=$(cat "$control/pid" 2>/dev/null || true)
  # (A rebuilt front shows its old file as "<path> (deleted)".)
  [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null | sed 's/ (deleted)$//')" = \
    "$(readlink -f "$front")" ] && echo "$pid"
}

stop() {
  local pid
  pid=$(running_pid || true)
  [ -z "$pid" ] && return 0
  touch "$control/stop"
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  rm -f "$control/pid"
}

case $action in
  stop)
    stop
    echo "tls-front: stopped"
    ;;
  start)
    [ -x "$front" ] || { echo "tls-front: $front is not built (build the x64 build)" >&2; exit 1; }
    stop
    mkdir -p "$control"
    rm -f "$control"/[0-9]* "$control/stop" "$control/pid"
    # One log per run of the front; the previous one is kept beside it.
    [ -f "$control/front.log" ] && mv "$control/front.log" "$control/front.log.old"
    # The test CA into the prefix's Root store (kept there; adding it again
    # replaces it).
    ca=$build/trust/tls/ca.pem
    "$root/scripts/wine-run.sh" "$build/wineprefix" "$build/bin/root_cert.exe" \
      "Z:${ca//\//\\}" >/dev/null
    # Detached, with no descriptor of ours, so no reader waits for it.
    setsid "$front" --certs "$build/trust/tls" --control "$control" --lifetime 3600 \
      --crl "18099:$build/trust/tls/ca.crl" --latency "${LUMORA_TLS_LATENCY_MS:-0}" \
      18443:18090 19443:9090 </dev/null >>"$control/front.out" 2>&1 &
    for _ in $(seq 100); do [ -f "$control/pid" ] && break; sleep 0.1; done
    if [ ! -f "$control/pid" ]; then
      echo "tls-front: did not start (ports 18443, 19443 or 18099 taken?):" >&2
      tail -n 5 "$control/front.out" >&2
      exit 1
    fi
    echo "tls-front: https://localhost:18443 -> 18090, https://localhost:19443 -> 9090 (pid $(cat "$control/pid"))"
    ;;
  *)
    echo "usage: tls-front.sh start|stop <build folder>" >&2
    exit 2
    ;;
esac
