#!/usr/bin/env bash
# Packs a shipped program folder and its symbols (the build's "release_zip"
# target, cmake/Dist.cmake) so that the same files always give the same bytes:
# entries in a fixed order (byte order of their paths), each with the same
# time (the commit's), fixed permissions, no extra fields (owner, access
# times), no folder entries.
#   release-zip.sh <dist folder> <symbols folder> <output base> <source folder> <build number>
# writes <output base>.zip and <output base>-symbols.zip; when the folder was
# signed, also <output base>-unsigned.zip from <dist folder>-unsigned, which
# is the one two builds of a commit must give identically.
# The entries' time: $SOURCE_DATE_EPOCH if set, else the time of the source
# folder's commit, else noon of the build number's date.
set -euo pipefail
dist=$1 symbols=$2 out=$3 source=$4 build_number=$5

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  epoch=$SOURCE_DATE_EPOCH
elif epoch=$(git -C "$source" log -1 --format=%ct 2>/dev/null) && [ -n "$epoch" ]; then
  :
else
  epoch=$(TZ=UTC date -d "${build_number:0:8} 12:00" +%s)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pack() {  # <folder> <zip file>
  local stage=$work/stage
  rm -rf "$stage" && cp -r "$1" "$stage"
  find "$stage" -type d -exec chmod 755 {} +
  find "$stage" -type f -exec chmod 644 {} +
  find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) -exec chmod 755 {} +
  find "$stage" -exec touch -h -d "@$epoch" {} +
  rm -f "$2"
  # zip stores local time: UTC makes it the same everywhere.
  (cd "$stage" && find . -type f -printf '%P\n' | LC_ALL=C sort |
    TZ=UTC zip -q -X -D -9 "$2" -@)
}

pack "$dist" "$out.zip"
pack "$symbols" "$out-symbols.zip"
rm -f "$out-unsigned.zip"
if [ -d "$dist-unsigned" ]; then
  pack "$dist-unsigned" "$out-unsigned.zip"
  echo "release: $out.zip (signed), $out-unsigned.zip (the same files unsigned), $out-symbols.zip"
else
  echo "release: $out.zip (unsigned), $out-symbols.zip"
fi
echo "release: entry time $(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'); sha256 $(sha256sum "$out.zip" | cut -c1-16)..."
