#!/usr/bin/env bash
# What CI runs: set-up, both builds, every test of each (the x86_64 build
# under Wine, the shipped i686 build under emulation: scripts/test-i686.sh),
# the runnable commands of README.md and docs/ (scripts/check-docs.sh) and the
# fuzz targets (scripts/fuzz.sh). Exits non-zero when anything fails.
# One part after the other, each using both cores:
#   x64     the x86_64 build, its suite (CTest, two tests at a time, in a
#           private network namespace of its own, or under the loopback lock:
#           scripts/lib/ports_lock.sh), the documents' commands, the fuzz
#           targets (two at a time);
#   i686    the shipped i686 build and its suite under emulation (its own
#           win32 prefix and network namespace, its time budgets scaled; its
#           output is printed at the end).
# A part goes on after a failed step (but not after a failed build) and the
# run fails at its end.
# At its end the run prints every step's time.
# Both builds sign what they ship with a test code-signing certificate made
# here (build/codesign, never committed), so that both suites check the
# signatures (the i686 build's unsigned ZIP, the one anyone can rebuild byte
# for byte, lies beside its signed one).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"
# shellcheck source=lib/steps.sh
. "$root/scripts/lib/steps.sh"

# The x86_64 suite: every CTest test of build/x64, two at a time.
x64_suite() {
  export WINEPREFIX=$root/build/x64/wineprefix
  # The test run's wineserver (started on first use by scripts/wine-run.sh) and
  # any program a test left behind end with the run.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  # A server of this prefix started elsewhere (by hand, outside this run's
  # network namespace) would make Wine's sockets there: start our own.
  wineserver -k >/dev/null 2>&1 || true

  # Make the prefix (first use only, some seconds) before any test's time runs.
  "$root/scripts/wine-run.sh" "$WINEPREFIX" "$root/build/x64/bin/exit_with.exe" 0

  (cd "$root/build/x64" && ctest -j2 --timeout 300 --output-on-failure)
}

if [ "${1:-}" = --x64-suite ]; then
  x64_suite
  exit
fi

# --- the steps -----------------------------------------------------------------
signing=(-DLUMORA_CODESIGN_CERT="$root/build/codesign/codesign-cert.pem"
  -DLUMORA_CODESIGN_KEY="$root/build/codesign/codesign-cert.key"
  -DLUMORA_CODESIGN_CA="$root/build/codesign/codesign-root.pem")

# Its output goes to build/x86.test.log while it runs and is printed whole
# at the end.
i686_suite() { bash "$root/scripts/test-i686.sh" >"$root/build/x86.test.log" 2>&1; }

x64_part() {
  step "x64 build" "$root/scripts/build.sh" x64 "${signing[@]}" || return
  step "x64 suite" with_loopback_ports "test" bash "$root/scripts/test.sh" --x64-suite
  # The commands the documents show, where they are marked runnable (they
  # serve the loopback ports too).
  step "documents" with_loopback_ports "docs" bash "$root/scripts/check-docs.sh"
  # The native fuzz targets: each over its seed corpus, then a short bounded
  # run, two at a time.
  step "fuzzing" bash "$root/scripts/fuzz.sh" -j 2 10
}

i686_part() {
  step "i686 build" "$root/scripts/build.sh" x86 "${signing[@]}" || return
  step "i686 suite" i686_suite
  echo "=== the i686 build under emulation (scripts/test-i686.sh)"
  cat "$root/build/x86.test.log"
}

export LUMORA_STEP_TIMES
LUMORA_STEP_TIMES=$(mktemp)
trap 'print_step_times; rm -f "$LUMORA_STEP_TIMES"
  WINEPREFIX=$root/build/x86/wineprefix wineserver -k 2>/dev/null || true' EXIT

step "set-up" "$root/scripts/setup.sh"
# The emulation of the i686 build's tests downloads meanwhile
# (scripts/test-i686.sh waits for it).
mkdir -p "$root/build"
bash "$root/scripts/setup-i686.sh" >"$root/build/setup-i686.log" 2>&1 &
step "test certificates" bash "$root/scripts/test-codesign.sh"

# One part after the other, each using both cores (the builds with two jobs,
# the suites two tests at a time): the suites beside each other overloaded
# the two cores, and the emulated suite's HTTPS starts then failed now and
# then.
_steps_failed=0
x64_part || true
i686_part || true
exit "$_steps_failed"
