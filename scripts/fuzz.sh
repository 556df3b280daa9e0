#!/usr/bin/env bash
# Builds the native fuzz targets (fuzz/, clang with libFuzzer, ASan + UBSan)
# into build/fuzz and runs each one: first over its seed corpus
# (fuzz/corpus/<target>/, so an input that failed once keeps being tried),
# then for the given number of seconds.
#   fuzz.sh [-j <jobs>] [seconds] [target...]
#       default: one target at a time, 60 seconds, every target
# New inputs go to build/fuzz/corpus/<target>/, failing ones to
# build/fuzz/findings/<target>/. Exits non-zero when a target fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=1
if [ "${1:-}" = -j ]; then
  jobs=${2:?usage: fuzz.sh [-j <jobs>] [seconds] [target...]}
  shift 2
fi
seconds=${1:-60}
shift || true
build=$root/build/fuzz
export LUMORA_DEPS_CACHE=${LUMORA_DEPS_CACHE:-$root/.cache/deps}
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
fi
echo "fuzz: building"
# Only warnings and errors are shown; the build's own status decides.
status=0
run_with_progress "fuzz: building" "$build.build.log" \
  cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" -- --no-print-directory || status=$?
grep -E 'warning:|error:' "$build.build.log" || true
if [ "$status" -ne 0 ]; then
  echo "fuzz: the build failed (exit code $status); see $build.build.log"
  exit "$status"
fi

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  targets=()
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# Runs one target: its seeds, then the bounded run; prints its verdict.
fuzz_target() {  # <target>
  local target=$1
  local program=$build/bin/fuzz_$target seeds=$root/fuzz/corpus/$target
  local work=$build/corpus/$target findings=$build/findings/$target
  local log=$build/$target.log runs
  mkdir -p "$work" "$findings"
  # Inputs up to 64 KiB; one input may take 10 s; 2 GB of memory at most.
  local options=(-timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1
                 -artifact_prefix="$findings/")
  if ! "$program" "${options[@]}" -runs=0 "$seeds" >"$log" 2>&1; then
    echo "fuzz: $target FAILED on its seed corpus (see $log)"
    tail -n 30 "$log"
    return 1
  fi
  if [ "$seconds" -gt 0 ]; then
    if ! "$program" "${options[@]}" -max_total_time="$seconds" "$work" "$seeds" >>"$log" 2>&1; then
      echo "fuzz: $target FAILED (see $log; input in $findings)"
      tail -n 30 "$log"
      return 1
    fi
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || true)
  echo "fuzz: $target ok ($seconds s, ${runs:-0} executions, corpus $(ls "$work" | wc -l) + $(ls "$seeds" | wc -l) seeds)"
}

failed=0 running=()
for target in "${targets[@]}"; do
  # At most <jobs> targets at a time.
  while [ "${#running[@]}" -ge "$jobs" ]; do
    wait "${running[0]}" || failed=1
    running=("${running[@]:1}")
  done
  fuzz_target "$target" &
  running+=("$!")
done
for pid in "${running[@]}"; do wait "$pid" || failed=1; done
exit $failed
