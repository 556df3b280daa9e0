#!/usr/bin/env bash
# Every shipped exe and DLL of a signed build carries an Authenticode
# signature that osslsigncode accepts against the signing root, and only
# against it; a changed byte breaks it; the unsigned files kept for the
# reproducible ZIP have none.
#   check_signatures.sh <dist> <root CA file>
set -uo pipefail
dist=$1 ca=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 count=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
verify() { osslsigncode verify -CAfile "$1" -in "$2" >"$work/verify.log" 2>&1; }

# A root that signed nothing of ours.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Unrelated Root" \
  -keyout "$work/other.key" -out "$work/other.pem" 2>/dev/null || fail "cannot make a root"

for file in "$dist"/*.exe "$dist"/*.dll; do
  [ -f "$file" ] || continue
  count=$((count + 1))
  name=$(basename "$file")
  if verify "$ca" "$file"; then
    grep -q 'Signature verification: ok' "$work/verify.log" || fail "$name: no verified signature"
  else
    fail "$name: refused against $ca: $(tail -n 3 "$work/verify.log" | tr '\n' ' ')"
  fi
  verify "$work/other.pem" "$file" && fail "$name: accepted against an unrelated root"
  unsigned=$dist-unsigned/$name
  [ -f "$unsigned" ] || { fail "$name: no unsigned copy in $dist-unsigned"; continue; }
  verify "$ca" "$unsigned" && fail "$name: its unsigned copy verifies"
done
[ "$count" -ge 8 ] || fail "only $count binaries in $dist"

# One byte of code changed after signing.
python3 - "$dist/Lumora.exe" "$work/Lumora.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[0x1800] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
verify "$ca" "$work/Lumora.exe" && fail "Lumora.exe with a changed byte still verifies"

echo "$count signed binaries checked, $failures failure(s)"
[ "$failures" -eq 0 ]
