#!/usr/bin/env bash
# Configures and builds both Windows builds:
#   build/x64  x86_64, the build every test runs on (under Wine)
#   build/x86  i686, the shipped 32-bit build (compiled and linked, not run)
# Each build's programs and DLLs end up together in its bin/ folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() {  # <folder> <toolchain>
  local dir=$root/build/$1
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  echo "build: $1"
  # Of the build's output only warnings and errors are shown. The pipeline
  # also fails when grep finds nothing (pipefail): the build's own status is
  # taken from PIPESTATUS.
  local status=(0)
  cmake --build "$dir" -j"$jobs" -- --no-print-directory |
    grep -E 'warning|error|Error' || status=("${PIPESTATUS[@]}")
  test "${status[0]}" -eq 0
}

targets=${1:-all}
if [ "$targets" = all ] || [ "$targets" = x64 ]; then configure_and_build x64 toolchain-x86_64.cmake; fi
if [ "$targets" = all ] || [ "$targets" = x86 ]; then configure_and_build x86 toolchain-i686.cmake; fi
