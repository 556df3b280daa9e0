#!/usr/bin/env bash
# Configures and builds both Windows builds:
#   build/x64  x86_64, the test build (its tests run under 64-bit Wine)
#   build/x86  i686, the shipped 32-bit build (its tests run under emulation:
#              scripts/test-i686.sh)
# Each build's programs and DLLs end up together in its bin/ folder; the
# shipped files are laid out in its dist/ folder (stripped, their symbols in
# symbols/, signed when a code-signing certificate is set), and the i686
# build's ZIP of it (build/x86/Lumora-*-win32.zip, the symbols beside it in
# Lumora-*-win32-symbols.zip) and its installer (Lumora-*-win32-Setup.exe)
# are the shipped artifacts.
#   build.sh [all | x64 | x86] [--target <target>]... [-D<cache variable>=<value>...]
# Extra -D settings (e.g. the endpoint addresses of a release) are passed to
# CMake when a build folder is configured, and again on every later run.
# With --target only those targets (and what they need) are built, e.g.
# "build.sh x64 --target demo_programs" for scripts/demo.sh.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"
targets=${1:-all}
shift || true
settings=() build_targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --target) build_targets+=(--target "${2:?build.sh: --target needs a target}"); shift 2 ;;
    *) settings+=("$1"); shift ;;
  esac
done

configure_and_build() {  # <folder> <toolchain>
  local name=$1 dir=$root/build/$1
  mkdir -p "$root/build"
  if [ ! -f "$dir/CMakeCache.txt" ] || [ "${#settings[@]}" -gt 0 ]; then
    echo "build $name: configuring"
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
      -DCMAKE_BUILD_TYPE=Release "${settings[@]}" >"$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; return 1; }
  fi
  echo "build $name: compiling (progress every few seconds; a first build takes some minutes)"
  # The build's output goes to a file; its latest progress line is shown every
  # few seconds, and its warnings and errors at the end.
  local log=$dir.build.log status=0
  run_with_progress "build $name" "$log" cmake --build "$dir" -j"$jobs" "${build_targets[@]}" \
    -- --no-print-directory || status=$?
  grep -E 'warning:|error:|Error [0-9]' "$log" || true
  # The shipped files' sizes before and after stripping, and whether they are signed.
  grep -E '^dist: ' "$log" | sed "s/^dist:/build $name: dist:/" || true
  if [ "$status" -ne 0 ]; then
    echo "build $name: FAILED (exit code $status); the whole output is in $log"
    return "$status"
  fi
  echo "build $name: done"
}

package_x86() {
  cmake --build "$root/build/x86" --target installer -- --no-print-directory \
    >"$root/build/x86.zip.log" 2>&1 || { cat "$root/build/x86.zip.log"; return 1; }
  grep -E '^(release|installer): ' "$root/build/x86.zip.log" | sed -E 's/^(release|installer):/build x86:/'
  echo "build x86: shipped artifacts $(ls "$root"/build/x86/Lumora-*-win32.zip)" \
    "$(ls "$root"/build/x86/Lumora-*-win32-Setup.exe)"
}

if [ "$targets" = all ] || [ "$targets" = x64 ]; then configure_and_build x64 toolchain-x86_64.cmake; fi
if [ "$targets" = all ] || [ "$targets" = x86 ]; then
  configure_and_build x86 toolchain-i686.cmake
  package_x86
fi
