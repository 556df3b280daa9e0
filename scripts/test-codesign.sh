#!/usr/bin/env bash
# Makes the test build's code-signing certificates (never committed) with the
# OpenSSL command line, in build/codesign/ unless another folder is given:
#   codesign-root.pem / .key   a test root CA, "Lumora Test Code Signing Root"
#   codesign-cert.pem / .key   the publisher, "Lumora Test Publisher", issued by
#                              it for code signing (extended key usage)
#   codesign-tsa.pem / .key    a time-stamping authority issued by it, for the
#                              tests' own RFC 3161 service
# Does nothing when they exist and stay valid for at least 30 more days.
#   test-codesign.sh [folder]
# Prints the settings that sign a build with them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$root/build/codesign}
mkdir -p "$dir"
cd "$dir"

valid() {  # <certificate>
  [ -f "$1" ] && openssl x509 -checkend $((30 * 86400)) -noout -in "$1" >/dev/null 2>&1
}

if ! valid codesign-root.pem || ! valid codesign-cert.pem || ! valid codesign-tsa.pem ||
   [ ! -f codesign-cert.key ] || [ ! -f codesign-tsa.key ]; then
  echo "test-codesign: making a test code-signing root and publisher certificate in $dir"
  rm -f codesign-*
  cat > codesign.cnf <<'CNF'
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[publisher]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 825 \
    -subj "/O=Lumora Test/CN=Lumora Test Code Signing Root" \
    -config codesign.cnf -extensions root \
    -keyout codesign-root.key -out codesign-root.pem 2>/dev/null
  for leaf in "cert publisher Publisher" "tsa tsa Time Stamping"; do
    set -- $leaf
    openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/O=Lumora Test/CN=Lumora Test ${*:3}" \
      -keyout "codesign-$1.key" -out "codesign-$1.csr" 2>/dev/null
    openssl x509 -req -sha256 -days 730 -in "codesign-$1.csr" -CA codesign-root.pem \
      -CAkey codesign-root.key -set_serial "0x$(openssl rand -hex 8)" \
      -extfile codesign.cnf -extensions "$2" -out "codesign-$1.pem" 2>/dev/null
    rm -f "codesign-$1.csr"
  done
  chmod 600 ./*.key
fi
openssl verify -CAfile codesign-root.pem codesign-cert.pem codesign-tsa.pem >/dev/null ||
  { echo "test-codesign: the certificates do not chain to the test root" >&2; exit 1; }
echo "test-codesign: ok ($dir): -DLUMORA_CODESIGN_CERT=$dir/codesign-cert.pem" \
  "-DLUMORA_CODESIGN_KEY=$dir/codesign-cert.key -DLUMORA_CODESIGN_CA=$dir/codesign-root.pem"
