#!/usr/bin/env bash
# Makes a laid-out program folder (a build's dist/) ready to ship; run by the
# build's "dist" target (cmake/Dist.cmake) after the install rules:
#  1. each exe and DLL keeps its debug information in <symbols>/<file>.debug
#     and ships stripped, with a debug link (file name and CRC) to that file;
#  2. with a code-signing certificate, each is signed (Authenticode, SHA-256,
#     osslsigncode), optionally time-stamped, and checked against a CA; the
#     unsigned files stay in <dist>-unsigned for the reproducible ZIP.
# Prints one "dist:" line per file with its sizes, and whether the folder is
# signed.
#   ship-dist.sh --dist DIR --symbols DIR --objcopy TOOL --strip TOOL
#                [--cert FILE [--key FILE] [--password-file FILE]
#                 [--timestamp-url URL] [--ca FILE]]
set -euo pipefail

dist= symbols= objcopy= strip= cert= key= password_file= timestamp_url= ca=
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$2 ;;
    --symbols) symbols=$2 ;;
    --objcopy) objcopy=$2 ;;
    --strip) strip=$2 ;;
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

# 2. Signing.
rm -rf "$dist-unsigned"
if [ -z "$cert" ]; then
  echo "dist: UNSIGNED: no code-signing certificate set (LUMORA_CODESIGN_CERT); the binaries ship without a signature"
  exit 0
fi
command -v osslsigncode >/dev/null ||
  { echo "ship-dist.sh: osslsigncode is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
cp -a "$dist" "$dist-unsigned"
case $cert in
  *.pfx | *.p12 | *.PFX | *.P12) credentials=(-pkcs12 "$cert") ;;
  *)
    [ -n "$key" ] || { echo "ship-dist.sh: --key is missing for the certificate $cert" >&2; exit 2; }
    credentials=(-certs "$cert" -key "$key") ;;
esac
[ -n "$password_file" ] && credentials+=(-readpass "$password_file")
stamp=()
[ -n "$timestamp_url" ] && stamp=(-ts "$timestamp_url")
for file in "${binaries[@]}"; do
  name=$(basename "$file")
  rm -f "$file.signed"
  if ! osslsigncode sign "${credentials[@]}" "${stamp[@]}" -h sha256 -n Lumora \
      -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
    cat "$file.sign.log" >&2
    echo "ship-dist.sh: signing $name failed" >&2
    rm -f "$file.signed" "$file.sign.log"
    exit 1
  fi
  rm -f "$file.sign.log"
  mv "$file.signed" "$file"
  if [ -n "$ca" ]; then
    check=(-CAfile "$ca")
    [ -n "$timestamp_url" ] && check+=(-TSA-CAfile "$ca")
    if ! result=$(osslsigncode verify "${check[@]}" -in "$file" 2>&1); then
      echo "$result" >&2
      echo "ship-dist.sh: the signature of $name is not accepted against $ca" >&2
      exit 1
    fi
  fi
done
subject=$(openssl x509 -noout -subject -nameopt oneline -in "$cert" 2>/dev/null ||
          openssl x509 -noout -subject -nameopt oneline -inform DER -in "$cert" 2>/dev/null ||
          echo "$cert")
how=""
[ -n "$timestamp_url" ] && how+=", time-stamped by $timestamp_url"
[ -n "$ca" ] && how+=", each checked against $ca"
echo "dist: signed ${#binaries[@]} binaries (Authenticode, SHA-256) with ${subject#subject=}$how"
