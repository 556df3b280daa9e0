#!/usr/bin/env bash
# The operator's way of signing, end to end through scripts/ship-dist.sh on
# copies of the build's own binaries: a PKCS#12 file opened with a password
# file, every signature time-stamped by an RFC 3161 service (the tests' own,
# tsa_server.py) and checked against the root; a wrong password stops the
# build; without a certificate the folder ships unsigned and says so.
#   check_release_signing.sh <dist> <bin> <codesign folder> <objcopy> <strip>
set -uo pipefail
dist=$1 bin=$2 codesign=$3 objcopy=$4 strip=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ship=$here/../../scripts/ship-dist.sh
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

fresh_copy() {  # <folder>: the shipped binaries as linked, before stripping
  rm -rf "$1" "$1-unsigned" && mkdir -p "$1"
  for file in "$dist"/*.exe "$dist"/*.dll; do cp "$bin/$(basename "$file")" "$1/"; done
}

# The operator's credentials: certificate, key and chain in a PKCS#12 file.
printf 'a pass phrase\n' >"$work/password"
openssl pkcs12 -export -in "$codesign/codesign-cert.pem" -inkey "$codesign/codesign-cert.key" \
  -certfile "$codesign/codesign-root.pem" -passout "file:$work/password" -out "$work/signer.p12" ||
  fail "cannot make the PKCS#12 file"

python3 "$here/tsa_server.py" "$codesign" "$work/port" 120 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the time-stamping service did not start"
url=http://127.0.0.1:$(cat "$work/port")

fresh_copy "$work/dist"
if "$ship" --dist "$work/dist" --symbols "$work/symbols" --objcopy "$objcopy" --strip "$strip" \
     --cert "$work/signer.p12" --password-file "$work/password" --timestamp-url "$url" \
     --ca "$codesign/codesign-root.pem" >"$work/ship.log" 2>&1; then
  grep -q "^dist: signed $(ls "$work/dist" | wc -l) binaries .*, time-stamped by $url" "$work/ship.log" ||
    fail "signed, but says: $(tail -n 1 "$work/ship.log")"
  for file in "$work"/dist/*; do
    out=$(osslsigncode verify -CAfile "$codesign/codesign-root.pem" \
            -TSA-CAfile "$codesign/codesign-root.pem" -in "$file" 2>&1) ||
      fail "$(basename "$file"): refused: $(tail -n 2 <<<"$out" | tr '\n' ' ')"
    grep -q 'Timestamp Server Signature verification: ok' <<<"$out" ||
      fail "$(basename "$file"): no verified time stamp"
  done
else
  fail "signing with the PKCS#12 file failed: $(tail -n 5 "$work/ship.log" | tr '\n' ' ')"
fi

# A wrong password stops the build instead of shipping unsigned files.
printf 'another pass phrase\n' >"$work/wrong"
fresh_copy "$work/dist"
"$ship" --dist "$work/dist" --symbols "$work/symbols" --objcopy "$objcopy" --strip "$strip" \
  --cert "$work/signer.p12" --password-file "$work/wrong" >"$work/wrong.log" 2>&1 &&
  fail "signing with a wrong password succeeded"
grep -q 'signing .* failed' "$work/wrong.log" || fail "a wrong password, but: $(tail -n 1 "$work/wrong.log")"

# No certificate: unsigned, and said so.
fresh_copy "$work/dist"
"$ship" --dist "$work/dist" --symbols "$work/symbols" --objcopy "$objcopy" --strip "$strip" \
  >"$work/none.log" 2>&1 || fail "shipping without a certificate failed: $(tail -n 3 "$work/none.log")"
grep -q '^dist: UNSIGNED: no code-signing certificate set' "$work/none.log" ||
  fail "no certificate, but it does not say unsigned"
osslsigncode verify -CAfile "$codesign/codesign-root.pem" -in "$work/dist/Lumora.exe" >/dev/null 2>&1 &&
  fail "Lumora.exe has a signature without a certificate"
[ -d "$work/dist-unsigned" ] && fail "an unsigned copy was kept beside an unsigned folder"

echo "release signing checked, $failures failure(s)"
[ "$failures" -eq 0 ]
