# Sourced by scripts/test.sh: runs the steps of a test run.
#   step <name> <command> [args...]
#       runs one step; prints "<name>: ok (N s)" or "<name>: FAILED (exit
#       code E, N s)" and returns the command's status. A failed step is
#       recorded ($_steps_failed becomes 1), so that a run can go on after it
#       and fail at its end.
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
    _steps_failed=1
  fi
  return "$status"
}

# The table of the steps' times, in the order they ended.
print_step_times() {
  [ -s "${LUMORA_STEP_TIMES:-}" ] || return 0
  echo "steps (seconds, in the order they ended):"
  awk -F'\t' '{ printf "  %-20s %5d s  %s\n", $1, $2, $3 }' "$LUMORA_STEP_TIMES"
}
