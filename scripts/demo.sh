#!/usr/bin/env bash
# Set-up, build, then the main job under Wine: a chain of operations through
# the engine, the updater installing a package silently, and a link handed to
# the URL handler through the system shell.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" x64

export WINEPREFIX=$root/build/x64/wineprefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

bin=$root/build/x64/bin
run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$@"; }
gbk() { iconv -f GBK -t UTF-8; }

echo "=== 1. A chain of operations through the engine"
run "$bin/engine_demo.exe" | gbk

echo
echo "=== 2. The updater installs Tessel.pkg.exe silently into Platform"
demo=$root/build/x64/demo-updater
rm -rf "$demo" && mkdir -p "$demo"
cp "$bin/Updater.exe" "$bin/CrashRpt.dll" "$bin/Tessel.pkg.exe" "$demo/"
argument=$(run "$bin/envelope.exe" '{"SI":true,"TP":"Tessel.pkg.exe","dir":"Platform"}' | tr -d '\r')
echo "Updater.exe $argument"
set +e
run "$demo/Updater.exe" "$argument"
code=$?
set -e
echo "exit code: $code"
echo "--- Log/updater.log"
gbk < "$demo/Log/updater.log"
echo "--- installed into Platform/:"
(cd "$demo/Platform" && find . -type f | sort)

echo
echo "=== 3. A link opened through the system shell reaches Portus"
bash "$root/scripts/portus-demo.sh"
