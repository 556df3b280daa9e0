#!/usr/bin/env bash
# Set-up, both builds, then every test of the x86_64 build under Wine, the
# runnable commands of README.md and docs/ (scripts/check-docs.sh), then the
# fuzz targets (scripts/fuzz.sh); beside them, every test of the shipped i686
# build under emulation (scripts/test-i686.sh). Exits non-zero when anything
# fails.
# The tests and the documents' commands serve the loopback ports, so they
# wait for another test run or demo on this machine to end first.
# Both builds sign what they ship with a test code-signing certificate made
# here (build/codesign, never committed), so that both suites check the
# signatures (the i686 build's unsigned ZIP, the one anyone can rebuild byte
# for byte, lies beside its signed one).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"

run_tests() {
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

  # The commands the documents show, where they are marked runnable.
  bash "$root/scripts/check-docs.sh"
}

if [ "${1:-}" = --under-lock ]; then
  run_tests
  exit
fi

"$root/scripts/setup.sh"
# The emulation of the i686 build's tests downloads while the builds compile
# (scripts/test-i686.sh waits for it).
mkdir -p "$root/build"
bash "$root/scripts/setup-i686.sh" >"$root/build/setup-i686.log" 2>&1 &
bash "$root/scripts/test-codesign.sh"
codesign=$root/build/codesign
signing=(-DLUMORA_CODESIGN_CERT="$codesign/codesign-cert.pem"
  -DLUMORA_CODESIGN_KEY="$codesign/codesign-cert.key" -DLUMORA_CODESIGN_CA="$codesign/codesign-root.pem")
"$root/scripts/build.sh" x86 "${signing[@]}"

# The shipped i686 build's suite under emulation (scripts/test-i686.sh), the
# longest part of the run, starts now: beside the x64 build and its suite
# (its own prefix and network namespace). Its output comes at the end
# (build/x86.test.log while it runs).
setsid bash "$root/scripts/test-i686.sh" >"$root/build/x86.test.log" 2>&1 &
i686_job=$!
trap 'kill -- -"$i686_job" 2>/dev/null; WINEPREFIX=$root/build/x86/wineprefix wineserver -k 2>/dev/null
  true' EXIT
"$root/scripts/build.sh" x64 "${signing[@]}"
status=0
with_loopback_ports "test" bash "$root/scripts/test.sh" --under-lock || status=$?

# The native fuzz targets: each over its seed corpus, then a short bounded run.
bash "$root/scripts/fuzz.sh" 10 || status=$?

i686_status=0
wait "$i686_job" || i686_status=$?
trap - EXIT
echo "=== the i686 build under emulation (scripts/test-i686.sh)"
cat "$root/build/x86.test.log"
[ "$i686_status" -eq 0 ] || status=$i686_status
exit "$status"
