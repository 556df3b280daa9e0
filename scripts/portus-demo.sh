#!/usr/bin/env bash
# Opens a link of a demo URL scheme through Wine's shell, as a browser would,
# and shows what reached the launcher. Needs a built x64 tree (scripts/build.sh x64).
#   portus-demo.sh ['<link>']        default: 'lumdemo://open {"u":7,"a":"demo","p":"pw"}'
# Portus runs from build/x64/portus-demo beside a stand-in Lumora.exe that
# records its command line; the scheme is registered only while the demo runs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
link=${1:-'lumdemo://open {"u":7,"a":"demo","p":"pw"}'}
scheme=${link%%://*}
bin=$root/build/x64/bin
prefix=$root/build/x64/wineprefix
run() { "$root/scripts/wine-run.sh" "$prefix" "$@"; }
# Wine's 'start' drops a link whose command line, "<Portus path>" "<link>",
# would be longer than this (measured with a 45-character path: links of 273
# characters arrived, of 276 did not).
start_limit=323

export WINEPREFIX=$prefix
trap 'run "$bin/register_scheme.exe" --remove "$scheme" >/dev/null || true; wineserver -k >/dev/null 2>&1 || true' EXIT

demo=$root/build/x64/portus-demo
rm -rf "$demo" && mkdir -p "$demo"
cp "$bin/Portus.exe" "$bin/CrashRpt.dll" "$demo/"
cp "$bin/record_command_line.exe" "$demo/Lumora.exe"

# Wine maps drive Z: to the Linux root.
run "$bin/register_scheme.exe" "$scheme" "Z:${demo//\//\\}\\Portus.exe"
echo "opening: $link"
run start "$link"
for _ in $(seq 100); do [ -f "$demo/command_line.txt" ] && break; sleep 0.1; done
if [ -f "$demo/command_line.txt" ]; then
  echo "the launcher was started with:"
  iconv -f GBK -t UTF-8 "$demo/command_line.txt"; echo
else
  # Name the cause that applies, as far as can be told from outside.
  if [ -f "$demo/Log/portus.log" ]; then
    echo "no launcher start recorded: Portus could not start the launcher; its log:"
    iconv -f GBK -t UTF-8 "$demo/Log/portus.log"
  elif portus_path="Z:${demo//\//\\}\\Portus.exe" &&
       [ $(( ${#portus_path} + ${#link} + 5 )) -gt "$start_limit" ]; then
    echo "no launcher start recorded: the link has ${#link} characters, and Wine's 'start' drops a link"
    echo "whose command line (\"<Portus path>\" \"<link>\", here $(( ${#portus_path} + ${#link} + 5 )) characters) is longer"
    echo "than about $start_limit, without starting Portus and without an error."
    echo "Browsers and ShellExecute on Windows pass it on; to try Portus with it under Wine, give it"
    echo "to Portus directly: bash scripts/run.sh Portus '\"$link\"'"
  elif [[ $link != *://[oO][pP][eE][nN]\ * ]] && run "$bin/wait_window.exe" "$scheme" 0; then
    echo "no launcher start recorded: a running window of class '$scheme' took the link"
  else
    echo "no launcher start recorded: Portus was not started, or ended without starting the launcher"
    echo "(no '://' in the link?); try it directly: bash scripts/run.sh Portus '\"$link\"'"
  fi
fi
