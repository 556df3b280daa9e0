# Sourced by the scripts that serve the loopback ports the test build has
# compiled in (127.0.0.1:18090 and :9090): the test run, the demo, the
# screenshots. Two such runs on one machine would answer each other's
# programs, so they wait for each other:
#   with_loopback_ports <label> <command> [args...]
# runs the command under a lock (the file /tmp/lumora-loopback.lock, or
# $LUMORA_PORTS_LOCK) held until it ends, printing every 10 s while it waits.
# A command started by one that holds the lock (or under `flock <lock file>
# ...` by hand) runs at once.
#
# port_holder <port> prints who listens on a loopback port, as far as the
# system tells (ss), else nothing.
lumora_ports_lock=${LUMORA_PORTS_LOCK:-/tmp/lumora-loopback.lock}

# Held by this shell or by a process it runs under: `flock <lock file> bash
# scripts/test.sh` keeps the lock in flock itself, not in the script.
loopback_ports_held() {
  local fd pid=$$
  [ -n "${LUMORA_PORTS_HELD:-}" ] && return 0
  while [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    for fd in /proc/"$pid"/fd/*; do
      [ "$(readlink "$fd" 2>/dev/null)" = "$lumora_ports_lock" ] && return 0
    done
    pid=$(awk '/^PPid:/ { print $2 }' /proc/"$pid"/status 2>/dev/null)
  done
  return 1
}

with_loopback_ports() {  # <label> <command> [args...]
  local label=$1
  shift
  if loopback_ports_held; then "$@"; return; fi
  if ! flock -n "$lumora_ports_lock" true; then
    echo "$label: another test run or demo on this machine is using the loopback ports;"
    echo "$label: waiting for it to end (lock $lumora_ports_lock)"
    local waited=0
    while ! flock -w 10 "$lumora_ports_lock" true; do
      waited=$((waited + 10))
      echo "$label: still waiting for the other run ($waited s)"
    done
  fi
  # The lock stays with flock itself (-o: not inherited), so a program the
  # command leaves behind cannot keep it.
  flock -o "$lumora_ports_lock" env LUMORA_PORTS_HELD=1 "$@"
}

port_holder() {  # <port>
  command -v ss >/dev/null 2>&1 || return 0
  ss -Hltnp "sport = :$1" 2>/dev/null | grep -oE 'users:\(\(.*\)\)' | head -n 1 |
    sed -E 's/users:\(\("([^"]*)",pid=([0-9]+).*/\1 (pid \2)/'
}
