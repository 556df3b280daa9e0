#!/usr/bin/env bash
# What ships holds no symbols and no trace of the machine that built it, and
# the symbols kept apart belong to it:
#  - every exe and DLL is stripped (no .debug_* sections, no symbol table),
#    stamps no link time, and names no folder of the build (sources, build
#    folder, dependency sources);
#  - its debug link names <file>.debug in the symbols folder with that file's
#    CRC, and that file names no folder of the build either (sources and
#    headers under the fixed /lumora/... names only);
#  - the symbols turn a shipped export's address into its function and line.
#   check_symbols.sh <dist> <symbols> <source folder> <build folder> <dependency folder>
set -uo pipefail
export LC_ALL=C TZ=UTC  # objdump prints the PE time in local time
dist=$1 symbols=$2 build_paths=("$3" "$4" "$5")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The folders as the build saw them and as they really are.
paths=()
for p in "${build_paths[@]}"; do
  paths+=("$p")
  real=$(realpath "$p" 2>/dev/null) && [ "$real" != "$p" ] && paths+=("$real")
done

count=0
for file in "$dist"/*.exe "$dist"/*.dll; do
  [ -f "$file" ] || continue
  count=$((count + 1))
  name=$(basename "$file")
  objdump=x86_64-w64-mingw32-objdump
  headers=$("$objdump" -h "$file") || { fail "$name: objdump cannot read it"; continue; }
  grep -q 'pei-i386' <<<"$headers" && objdump=i686-w64-mingw32-objdump
  grep -qE ' \.debug_' <<<"$headers" && fail "$name: has debug sections"
  # (Whole outputs first: grep -q ending early would fail the pipe.)
  table=$("$objdump" -t "$file" 2>/dev/null)
  grep -qE '^\[ *[0-9]+\]' <<<"$table" && fail "$name: has a symbol table"
  private=$("$objdump" -p "$file")
  grep -qE 'Time/Date\s+Thu Jan  1 00:00:00 1970' <<<"$private" || fail "$name: stamps a link time"
  for p in "${paths[@]}"; do
    grep -qaF "$p" "$file" && fail "$name: names the build's folder $p"
  done

  debug=$symbols/$name.debug
  [ -f "$debug" ] || { fail "$name: no $debug"; continue; }
  debug_headers=$("$objdump" -h "$debug")
  grep -q ' \.debug_info ' <<<"$debug_headers" || fail "$name.debug: no .debug_info"
  grep -q ' \.debug_line ' <<<"$debug_headers" || fail "$name.debug: no .debug_line"
  # The symbols' CRC is in the shipped file's debug link: a folder named in
  # them would make the ZIP differ between builds in different folders.
  for p in "${paths[@]}"; do
    grep -qaF "$p" "$debug" && fail "$name.debug: names the build's folder $p"
  done
  rm -f "$work/link"
  "${objdump%objdump}objcopy" --dump-section .gnu_debuglink="$work/link" "$file" "$work/copy" 2>/dev/null ||
    { fail "$name: no debug link"; continue; }
  python3 - "$debug" "$work/link" <<'PY' ||
import os, struct, sys, zlib
debug, link = sys.argv[1], open(sys.argv[2], "rb").read()
# The link: the file name, zero bytes to a multiple of 4, the CRC-32 of the file.
linked_name = link[:link.index(b"\0")].decode()
crc = struct.unpack_from("<I", link, (len(linked_name) + 4) & ~3)[0]
if linked_name != os.path.basename(debug):
    sys.exit(f"it links {linked_name}")
if crc != zlib.crc32(open(debug, "rb").read()):
    sys.exit("the CRC differs")
PY
    fail "$name: its debug link does not match $name.debug"
done
[ "$count" -ge 8 ] || fail "only $count binaries in $dist"

# An exported function of the shipped crash reporter, by its address in the
# stripped DLL, resolved with the symbols alone.
crashrpt=$dist/CrashRpt.dll
exports=$(x86_64-w64-mingw32-objdump -p "$crashrpt")
index=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$exports" |
        sed -n 's/^\s*\[ *\([0-9]*\)\] Install$/\1/p')
rva=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$exports" |
      sed -n "s/^\s*\[ *$index\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1/p")
if [ -z "$index" ] || [ -z "$rva" ]; then
  fail "CrashRpt.dll exports no Install"
else
  where=$(python3 "$root/scripts/symbolize.py" "$symbols" CrashRpt.dll "0x$rva")
  grep -qE '^Install at /lumora/src/sdk/crashrpt/crashrpt\.cpp:[0-9]+' <<<"$where" ||
    fail "CrashRpt.dll+0x$rva resolves to: $where"
fi

echo "$count binaries checked, $failures failure(s)"
[ "$failures" -eq 0 ]
