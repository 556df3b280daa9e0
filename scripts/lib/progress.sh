# Sourced by the scripts: runs a long command with its output in a log file
# and keeps the terminal informed, so that no step is silent for more than
# about 10 seconds.
#   run_with_progress <label> <log file> <command> [args...]
# Every 5 s it prints the log's newest progress line ("[ 42%] ..." of a build)
# when there is a new one, otherwise every 10 s "<label>: still working (N s)".
# It looks at the command every quarter of a second, so that a short command
# costs no more than its own time. Returns the command's exit code.
run_with_progress() {
  local label=$1 log=$2
  shift 2
  "$@" >"$log" 2>&1 &
  local pid=$! last="" started=$SECONDS shown=$SECONDS now ticks=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.25
    ticks=$((ticks + 1))
    [ $((ticks % 20)) -eq 0 ] || continue  # every 5 s
    kill -0 "$pid" 2>/dev/null || break
    now=$(grep -oE '^\[ *[0-9]+%\] .*' "$log" 2>/dev/null | tail -n 1 | cut -c1-110 || true)
    if [ -n "$now" ] && [ "$now" != "$last" ]; then
      echo "  $now"
      last=$now shown=$SECONDS
    elif [ $((SECONDS - shown)) -ge 10 ]; then
      echo "  $label: still working ($((SECONDS - started)) s)"
      shown=$SECONDS
    fi
  done
  local status=0
  wait "$pid" || status=$?
  return "$status"
}
