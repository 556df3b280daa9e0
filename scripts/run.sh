#!/usr/bin/env bash
# Runs one program of the product by hand under Wine and shows what a user
# would see: each dialog's title and texts as it appears (closed after a few
# seconds: under the test prefix's null graphics driver nothing is drawn), the
# programs it starts in turn (Portus the launcher, the launcher the updater)
# with their dialogs and exit codes, the program's full exit code, and the
# logs of the program folder in UTF-8. Needs a built x64 tree.
#   run.sh [options] <Lumora|Updater|Portus> [text...]
# The texts form the program's command line exactly as given (joined by
# blanks): plain JSON arrives as typed, and a link arrives as a browser passes
# it only with its quotes ('"lumora://open 5"').
# Options:
#   --build <dir>       an x86_64 build folder other than build/x64, e.g. the
#                       try-out build of a release (scripts/release.sh --try)
#   --folder <dir>      run in this program folder as it is (default: a fresh
#                       copy of the dist folder in <build>/run/游戏大厅淺)
#   --dist <dir>        copy this folder instead of <build>/dist
#   --with <file>       also copy this file into the fresh folder (repeatable)
#   --close-after <s>   close each dialog after s seconds (default 2)
#   --timeout <s>       end the programs after s seconds (default 120)
#   --no-follow         stop when the program itself has ended
#   --keep-wine         leave the prefix's wineserver (and anything the program
#                       started, e.g. the hall) running afterwards
# It serves no port, so it does not wait for the loopback lock; the launcher
# asks the compiled-in loopback addresses, which a test run on this machine
# may be answering at that moment.
# Exit code: the program's exit code as Linux sees it (low 8 bits: -1 is 255);
# 124 when it had to be ended; 2 on bad usage.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x64
dist=""
folder="" close_after=2 timeout=120 keep_wine=0
with=() follow=()

usage() { sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "${2:?}" && pwd); shift 2 ;;
    --folder) folder=${2:?}; shift 2 ;;
    --dist) dist=${2:?}; shift 2 ;;
    --with) with+=("${2:?}"); shift 2 ;;
    --close-after) close_after=${2:?}; shift 2 ;;
    --timeout) timeout=${2:?}; shift 2 ;;
    --keep-wine) keep_wine=1; shift ;;
    --no-follow) follow=(--no-follow); shift ;;
    -h|--help) usage ;;
    --*) echo "run.sh: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage
prefix=$build/wineprefix
dist=${dist:-$build/dist}
program=${1%.exe}.exe
shift
case $program in
  Lumora.exe|Updater.exe|Portus.exe) ;;
  *) echo "run.sh: the program is Lumora, Updater or Portus, not '${program%.exe}'" >&2; exit 2 ;;
esac
for tool in "$build/bin/run_program.exe" "$dist/$program"; do
  [ -f "$tool" ] || { echo "run.sh: $tool is missing: build first (bash scripts/build.sh x64)" >&2; exit 2; }
done

if [ -z "$folder" ]; then
  # A Chinese folder name, as players have them (and ending in 9C 5C: 淺).
  folder=$build/run/游戏大厅淺
  rm -rf "$folder" && mkdir -p "$folder"
  cp -r "$dist"/. "$folder"/
  for file in "${with[@]+"${with[@]}"}"; do cp "$file" "$folder"/; done
  echo "run.sh: a fresh program folder: $folder"
else
  folder=$(cd "$folder" && pwd)
  [ ${#with[@]} -eq 0 ] || cp "${with[@]}" "$folder"/
fi

export WINEPREFIX=$prefix
if [ "$keep_wine" = 0 ]; then
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi

# Wine maps drive Z: to the Linux root. run_program.exe prints code page 936.
out=$(mktemp)
export LUMORA_WINE_OUTPUT=$out
"$root/scripts/wine-run.sh" "$prefix" "$build/bin/run_program.exe" \
  --close-after "$close_after" --timeout "$timeout" "${follow[@]+"${follow[@]}"}" "Z:${folder//\//\\}\\$program" "$@" &
pid=$!
tail -n +1 -f --pid=$pid "$out" | while IFS= read -r line; do
  printf '%s\n' "$line" | iconv -f GBK -t UTF-8 -c
done
runner=0
wait $pid || runner=$?
code=$(sed -n 's/^\[exit code\] \(-\{0,1\}[0-9]*\) .*/\1/p' "$out")
rm -f "$out"
[ "$runner" = 2 ] && exit 2

for log in "$folder"/Log/*.log "$folder"/Log/Install/*.log; do
  [ -f "$log" ] || continue
  echo "---- ${log#"$folder"/} ----"
  iconv -f GBK -t UTF-8 -c "$log" | tr -d '\r' | sed '/^$/d'
done
[ -d "$folder/Log" ] || echo "---- no Log folder: the program wrote no log ----"

[ "$runner" = 1 ] || [ -z "$code" ] && exit 124
exit $((code & 255))
