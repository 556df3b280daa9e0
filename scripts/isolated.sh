#!/usr/bin/env bash
# Runs a command that serves the test build's loopback ports (CTest by hand,
# a test program, a script) apart from every other run on this machine:
#   bash scripts/isolated.sh <command> [args...]
# e.g. bash scripts/isolated.sh ctest --test-dir build/x64 -R 'Chain\.'
# In a private network namespace where the system allows one, else under the
# loopback lock (scripts/lib/ports_lock.sh). The wineservers of this clone's
# 64-bit prefixes are stopped before and after, so the command's own server
# (which makes Wine's sockets) starts inside the namespace; exits with the
# command's status. The i686 build's prefix is left alone: only
# scripts/test-i686.sh and the demo's --i686 use it, each in a namespace of
# its own, and a test run's documents (which come through here) run beside
# its i686 suite.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"

stop_servers() {
  local p
  for p in "$root"/build/*/wineprefix; do
    [ "$p" = "$root/build/x86/wineprefix" ] && continue
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k >/dev/null 2>&1
  done
  return 0
}

if [ "${1:-}" = --inside ]; then
  shift
  stop_servers
  trap stop_servers EXIT
  "$@"
  exit
fi
[ $# -gt 0 ] || { echo "usage: bash scripts/isolated.sh <command> [args...]" >&2; exit 2; }
with_loopback_ports "isolated" bash "${BASH_SOURCE[0]}" --inside "$@"
