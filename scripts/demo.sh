#!/usr/bin/env bash
# Set-up, build, then the main job under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" x64

export WINEPREFIX=$root/build/x64/wineprefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

bin=$root/build/x64/bin
"$root/scripts/wine-run.sh" "$WINEPREFIX" "$bin/engine_demo.exe" | iconv -f GBK -t UTF-8
