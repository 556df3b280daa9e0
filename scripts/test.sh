#!/usr/bin/env bash
# Set-up, both builds, then every test of the x86_64 build under Wine, the
# runnable commands of README.md and docs/ (scripts/check-docs.sh), then the
# fuzz targets (scripts/fuzz.sh). Exits non-zero when anything fails.
# The tests and the documents' commands serve the loopback ports, so they
# wait for another test run or demo on this machine to end first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"

run_tests() {
  export WINEPREFIX=$root/build/x64/wineprefix
  # The test run's wineserver (started on first use by scripts/wine-run.sh) and
  # any program a test left behind end with the run.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

  # Make the prefix (first use only, some seconds) before any test's time runs.
  "$root/scripts/wine-run.sh" "$WINEPREFIX" "$root/build/x64/bin/exit_with.exe" 0

  (cd "$root/build/x64" && ctest -j2 --timeout 300 --output-on-failure)

  # The commands the documents show, where they are marked runnable.
  bash "$root/scripts/check-docs.sh"
}

if [ "${1:-}" = --under-lock ]; then
  run_tests
  exit
fi

"$root/scripts/setup.sh"
"$root/scripts/build.sh" all

with_loopback_ports "test" bash "$root/scripts/test.sh" --under-lock

# The native fuzz targets: each over its seed corpus, then a short bounded run.
bash "$root/scripts/fuzz.sh" 10
