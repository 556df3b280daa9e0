#!/usr/bin/env bash
# What CI runs: set-up, both builds, every test of the x86_64 build under
# Wine, the runnable commands of README.md and docs/ (scripts/check-docs.sh)
# and the fuzz targets (scripts/fuzz.sh). Exits non-zero when anything fails.
# After the x86_64 build, two lanes run side by side so that both cores stay
# busy (scripts/lib/lanes.sh; each line of theirs is prefixed with its lane):
#   tests   the x86_64 suite (CTest, in a private network namespace of its
#           own, or under the loopback lock: scripts/lib/ports_lock.sh), then
#           the documents' commands, then the fuzz targets;
#   i686    the shipped 32-bit build and its ZIP, at a lower priority so that
#           the tests' time limits see no slower machine than without it.
# At its end the run prints every step's time.
# The x86_64 build signs what it ships with a test code-signing certificate
# made here (build/codesign, never committed), so that the tests check the
# signatures; the i686 build ships unsigned, as any build without the
# operator's certificate.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"
# shellcheck source=lib/lanes.sh
. "$root/scripts/lib/lanes.sh"

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

# --- the lanes -----------------------------------------------------------------
tests_lane() {
  step "x64 suite" with_loopback_ports "test" bash "$root/scripts/test.sh" --x64-suite
  # The commands the documents show, where they are marked runnable (they
  # serve the loopback ports too).
  step "documents" with_loopback_ports "docs" bash "$root/scripts/check-docs.sh"
  # The native fuzz targets: each over its seed corpus, then a short bounded
  # run, two at a time.
  step "fuzzing" bash "$root/scripts/fuzz.sh" -j 2 10
}

i686_lane() {
  step "i686 build" nice -n 10 "$root/scripts/build.sh" x86
}

export LUMORA_STEP_TIMES
LUMORA_STEP_TIMES=$(mktemp)
trap 'print_step_times; rm -f "$LUMORA_STEP_TIMES"' EXIT

step "set-up" "$root/scripts/setup.sh"
step "test certificates" bash "$root/scripts/test-codesign.sh"
codesign=$root/build/codesign
step "x64 build" "$root/scripts/build.sh" x64 -DLUMORA_CODESIGN_CERT="$codesign/codesign-cert.pem" \
  -DLUMORA_CODESIGN_KEY="$codesign/codesign-cert.key" -DLUMORA_CODESIGN_CA="$codesign/codesign-root.pem"

beside tests_lane i686_lane
