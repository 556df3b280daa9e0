# Sourced by the scripts that serve the loopback ports the test build has
# compiled in (127.0.0.1:18090 and :9090): the test run, the demo, the
# screenshots. Two such runs on one machine would answer each other's
# programs, so they are kept apart:
#   with_loopback_ports <label> <command> [args...]
# runs the command in a private network namespace of its own (its own
# loopback, which no other run on the machine sees) where the system allows
# one (as root: `unshare -n`, iproute2's `ip`);
# elsewhere, or with LUMORA_SHARED_NETWORK=1, under a lock (the file
# /tmp/lumora-loopback.lock, or $LUMORA_PORTS_LOCK) held until it ends,
# printing every 10 s while it waits. A command started by one that holds the
# ports (or under `flock <lock file> ...` by hand) runs at once.
# Wine's sockets are made by the prefix's wineserver, so the command must
# start that server itself, inside the namespace, and stop it when it ends
# (the callers stop any server of their prefix before they start).
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

# A private network namespace with its loopback up can be made here.
private_network_available() {
  [ "${LUMORA_SHARED_NETWORK:-0}" = 1 ] && return 1
  [ "$(id -u)" -eq 0 ] || return 1
  command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 || return 1
  private_network_cmd true 2>/dev/null
}

private_network_cmd() {  # <command> [args...]: runs it in a new namespace
  unshare -n -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
}

with_loopback_ports() {  # <label> <command> [args...]
  local label=$1
  shift
  if loopback_ports_held; then "$@"; return; fi
  if private_network_available; then
    echo "$label: in a private network namespace (its own loopback ports)"
    private_network_cmd env LUMORA_PORTS_HELD=1 LUMORA_PRIVATE_NETWORK=1 "$@"
    return
  fi
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
