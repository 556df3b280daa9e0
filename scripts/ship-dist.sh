#!/usr/bin/env bash
# Makes a laid-out program folder (a build's dist/) ready to ship; run by the
# build's "dist" target (cmake/Dist.cmake) after the install rules:
#  1. each exe and DLL keeps its debug information in <symbols>/<file>.debug
#     and ships stripped, with a debug link (file name and CRC) to that file;
#  2. with a code-signing certificate, each is signed (Authenticode, SHA-256,
#     osslsigncode), optionally time-stamped, and checked against a CA; the
#     unsigned files stay in <dist>-unsigned for the reproducible ZIP.
# Prints one "dist:" line per file with its sizes, what went into the build
# (the summary file, when given) and whether the folder is signed.
#   ship-dist.sh --dist DIR --symbols DIR --objcopy TOOL --strip TOOL [--summary FILE]
#                [--cert FILE [--key FILE] [--password-file FILE]
#                 [--timestamp-url URL] [--ca FILE]]
set -euo pipefail

dist= symbols= objcopy= strip= summary= cert= key= password_file= timestamp_url= ca=
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$2 ;;
    --symbols) symbols=$2 ;;
    --objcopy) objcopy=$2 ;;
    --strip) strip=$2 ;;
    --summary) summary=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp-url) timestamp_url=$2 ;;
    --ca) ca=$2 ;;
    *) echo "ship-dist.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
for need in dist symbols objcopy strip; do
  [ -n "${!need}" ] || { echo "ship-dist.sh: --$need is missing" >&2; exit 2; }
done

size() { stat -c %s "$1"; }
kib() { echo "$(( ($1 + 512) / 1024 )) KiB"; }

binaries=()
while IFS= read -r -d '' file; do binaries+=("$file"); done < <(
  find "$dist" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | LC_ALL=C sort -z)
[ "${#binaries[@]}" -gt 0 ] || { echo "ship-dist.sh: no exe or DLL in $dist" >&2; exit 1; }

# 1. Symbols apart. The debug link holds only the file name: a debugger looks
#    for it beside the binary (or where it is told to look).
#    objcopy and strip write the current time into the PE header they rewrite
#    unless SOURCE_DATE_EPOCH says otherwise: they keep the linker's 0 (no time).
run_objcopy() { SOURCE_DATE_EPOCH=0 "$objcopy" "$@"; }
run_strip() { SOURCE_DATE_EPOCH=0 "$strip" "$@"; }
rm -rf "$symbols" && mkdir -p "$symbols"
total_before=0 total_after=0
for file in "${binaries[@]}"; do
  name=$(basename "$file")
  debug=$symbols/$name.debug
  before=$(size "$file")
  run_objcopy --only-keep-debug "$file" "$debug"
  run_strip --strip-all "$file"
  (cd "$symbols" && run_objcopy --add-gnu-debuglink="$name.debug" "$file")
  after=$(size "$file")
  total_before=$((total_before + before)) total_after=$((total_after + after))
  printf 'dist: %-13s %9s -> %9s stripped (symbols: %s.debug, %s)\n' \
    "$name" "$(kib "$before")" "$(kib "$after")" "$name" "$(kib "$(size "$debug")")"
done
printf 'dist: %-13s %9s -> %9s stripped; symbols in %s\n' \
  "all ${#binaries[@]}" "$(kib "$total_before")" "$(kib "$total_after")" "$symbols"

# What went in: endpoints, keys, texts; "DEVELOPMENT BUILD" when not for players.
if [ -n "$summary" ]; then sed 's/^/dist: /' "$summary"; fi

# 2. Signing.
rm -rf "$dist-unsigned"
if [ -z "$cert" ]; then
  echo "dist: UNSIGNED: no code-signing certificate set (LUMORA_CODESIGN_CERT); the binaries ship without a signature"
  exit 0
fi
cp -a "$dist" "$dist-unsigned"
# shellcheck source=lib/codesign.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/codesign.sh"
codesign_cert=$cert codesign_key=$key codesign_password_file=$password_file
codesign_timestamp_url=$timestamp_url codesign_ca=$ca
for file in "${binaries[@]}"; do
  codesign_file "$file" Lumora || { echo "ship-dist.sh: signing $(basename "$file") failed" >&2; exit 1; }
done
subject=$(codesign_subject)
how=""
[ -n "$timestamp_url" ] && how+=", time-stamped by $timestamp_url"
[ -n "$ca" ] && how+=", each checked against $ca"
echo "dist: signed ${#binaries[@]} binaries (Authenticode, SHA-256) with $subject$how"
