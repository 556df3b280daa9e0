# Sourced by scripts/test.sh: runs the steps of a test run, some of them
# side by side, so that both cores stay busy.
#   step <name> <command> [args...]
#       runs one step; prints "<name>: ok (N s)" or "<name>: FAILED (exit
#       code E, N s)" and returns the command's status.
#   beside <lane function>...
#       runs each lane (a shell function made of steps) in the background,
#       its output lines prefixed with "[<lane>] ", and waits for all of
#       them; fails when any lane failed. A lane goes on after a failed step
#       (the steps of a lane are independent) and fails at its end.
#   lane_failed
#       inside a lane: records that a step failed (step does it by itself).
# Every step's time also goes to $LUMORA_STEP_TIMES (one line per step:
# "<name>\t<seconds>\t<ok|FAILED>"), which the run prints as a table at its end.

step() {  # <name> <command> [args...]
  local name=$1 start=$SECONDS status=0
  shift
  echo "$name: started"
  "$@" || status=$?
  local took=$((SECONDS - start))
  if [ "$status" -eq 0 ]; then
    echo "$name: ok ($took s)"
    [ -n "${LUMORA_STEP_TIMES:-}" ] && printf '%s\t%s\tok\n' "$name" "$took" >>"$LUMORA_STEP_TIMES"
  else
    echo "$name: FAILED (exit code $status, $took s)"
    [ -n "${LUMORA_STEP_TIMES:-}" ] && printf '%s\t%s\tFAILED\n' "$name" "$took" >>"$LUMORA_STEP_TIMES"
    lane_failed
  fi
  return "$status"
}

lane_failed() { _lane_status=1; }

# Runs one lane: its steps, then its verdict as its exit status.
_run_lane() {  # <lane function>
  _lane_status=0
  "$1" || _lane_status=1
  return "$_lane_status"
}

beside() {  # <lane function>...
  local lane pids=() failed=0
  for lane in "$@"; do
    # The prefixer ends when the lane closes its output.
    _run_lane "$lane" > >(sed -u "s/^/[$lane] /") 2>&1 &
    pids+=("$!")
  done
  for lane in "${pids[@]}"; do
    wait "$lane" || failed=1
  done
  wait  # the prefixers' last lines
  return "$failed"
}

# The table of the steps' times, in the order they ended.
print_step_times() {
  [ -s "${LUMORA_STEP_TIMES:-}" ] || return 0
  echo "steps (seconds, in the order they ended):"
  awk -F'\t' '{ printf "  %-20s %5d s  %s\n", $1, $2, $3 }' "$LUMORA_STEP_TIMES"
}
