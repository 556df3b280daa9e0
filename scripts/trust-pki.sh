#!/usr/bin/env bash
# Makes the test build's trust material (OpenSSL command line; never
# committed, never used for a release):
#   trust-pki.sh <folder>          (the x64 build's CMake runs it for <build>/trust)
# Into <folder>:
#   config-signing.key, config-signing.pub.pem   the key pair that signs the
#       configuration replies of the tests and the demo (P-256); the test
#       launcher build carries its public half
#   tls/ca.pem (+ ca.key)          the test CA, added to the test prefix's Root
#                                  store by tools/root_cert
#   tls/localhost.pem/.key         the loopback server's certificate (DNS:localhost)
#   tls/expired.pem/.key           DNS:localhost, valid only in January 2020
#   tls/wronghost.pem/.key         DNS:wrong-host.lumora.invalid
#   tls/untrusted.pem/.key         DNS:localhost, issued by a CA nobody trusts
#   tls/ca.crl                     the test CA's revocation list (DER, nothing
#                                  revoked); every server certificate names
#                                  http://localhost:18099/ca.crl as its CRL
#                                  distribution point, where the TLS front
#                                  serves it (revocation checking needs it)
# Does nothing when everything is there and the certificates stay valid for
# another 30 days; otherwise makes the TLS part anew (a new CA, to be added
# again). The signing key is made once and kept.
set -euo pipefail
dir=${1:?usage: trust-pki.sh <folder>}
tls=$dir/tls
mkdir -p "$dir" "$tls"
umask 077

if [ ! -f "$dir/config-signing.key" ] || [ ! -f "$dir/config-signing.pub.pem" ]; then
  openssl ecparam -name prime256v1 -genkey -noout -out "$dir/config-signing.key.new"
  openssl ec -in "$dir/config-signing.key.new" -pubout -out "$dir/config-signing.pub.pem" 2>/dev/null
  mv "$dir/config-signing.key.new" "$dir/config-signing.key"
fi

# Wine 8's crypt32 checks an ECDSA signature of a certificate or CRL by
# joining r and s as they are encoded: when either is shorter than 32 bytes
# (about one signature in 128) the signature counts as wrong and the chain
# is refused (12169, "CNG_VerifySignature Failed to verify signature"). Each
# certificate and the CRL is therefore signed again until both numbers take
# their full 32 bytes.
full_width_signature() {  # <openssl asn1parse arguments of a PEM or DER file>
  local offset
  offset=$(openssl asn1parse "$@" | awk '/BIT STRING/ { o = $1 } END { sub(/:.*/, "", o); print o }')
  openssl asn1parse "$@" -strparse "$offset" |
    awk -F: '/INTEGER/ { n++; if (length($NF) != 64) bad = 1 } END { exit (n == 2 && !bad) ? 0 : 1 }'
}

valid() {  # <certificate>: exists and stays valid for 30 days
  [ -f "$1" ] && openssl x509 -in "$1" -noout -checkend $((30 * 86400)) >/dev/null 2>&1
}
if valid "$tls/ca.pem" && valid "$tls/localhost.pem" && valid "$tls/wronghost.pem" &&
  valid "$tls/untrusted.pem" && [ -f "$tls/expired.pem" ] && [ -f "$tls/ca.crl" ] &&
  [ -f "$tls/.complete" ] && full_width_signature -in "$tls/ca.pem" &&
  full_width_signature -in "$tls/localhost.pem" && full_width_signature -inform DER -in "$tls/ca.crl"; then
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$tls"/*.pem "$tls"/*.key "$tls"/*.crl "$tls/.complete"

make_ca() {  # <name> <subject>
  local try
  for try in $(seq 20); do
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout "$work/$1.key" -out "$work/$1.pem" -days 3650 -subj "$2" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
      >/dev/null 2>&1
    full_width_signature -in "$work/$1.pem" && return 0
  done
  echo "trust-pki: no full-width signature for $1 in 20 tries" >&2
  return 1
}

# A server certificate: openssl ca, for its explicit start and end dates.
issue() {  # <name> <dns name> <ca> <start YYYYMMDDHHMMSSZ> <end>
  local name=$1 dns=$2 ca=$3
  mkdir -p "$work/db-$name/new"
  : >"$work/db-$name/index.txt"
  printf '%s\n' "$(openssl rand -hex 8)" >"$work/db-$name/serial"
  cat >"$work/db-$name/ca.cnf" <<EOF
[ ca ]
default_ca = test_ca
[ test_ca ]
database = $work/db-$name/index.txt
new_certs_dir = $work/db-$name/new
serial = $work/db-$name/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = server
[ any ]
commonName = supplied
[ server ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$dns
crlDistributionPoints = URI:http://localhost:18099/ca.crl
EOF
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$tls/$name.key" -out "$work/$name.csr" -subj "/CN=$dns" >/dev/null 2>&1
  local try
  for try in $(seq 20); do
    : >"$work/db-$name/index.txt"
    openssl ca -batch -notext -config "$work/db-$name/ca.cnf" -cert "$work/$ca.pem" \
      -keyfile "$work/$ca.key" -startdate "$4" -enddate "$5" -in "$work/$name.csr" \
      -out "$tls/$name.pem" >/dev/null 2>&1
    full_width_signature -in "$tls/$name.pem" && return 0
  done
  echo "trust-pki: no full-width signature for $name in 20 tries" >&2
  return 1
}

make_ca ca "/CN=Lumora Test CA"
make_ca rogue "/CN=Lumora Untrusted Test CA"
now=$(date -u +%Y%m%d000000Z)
later=$(date -u -d '+5 years' +%Y%m%d000000Z)
issue localhost localhost ca "$now" "$later"
issue expired localhost ca 20200101000000Z 20200201000000Z
issue wronghost wrong-host.lumora.invalid ca "$now" "$later"
issue untrusted localhost rogue "$now" "$later"
# The test CA's revocation list: nothing revoked, valid for ten years.
mkdir -p "$work/db-crl"
: >"$work/db-crl/index.txt"
echo 1000 >"$work/db-crl/crlnumber"
printf '%s\n' '[ ca ]' 'default_ca = test_ca' '[ test_ca ]' "database = $work/db-crl/index.txt" \
  "crlnumber = $work/db-crl/crlnumber" 'default_md = sha256' 'default_crl_days = 3650' \
  >"$work/db-crl/ca.cnf"
for try in $(seq 20); do
  openssl ca -batch -gencrl -config "$work/db-crl/ca.cnf" -cert "$work/ca.pem" -keyfile "$work/ca.key" \
    -out "$work/ca.crl.pem" >/dev/null 2>&1
  full_width_signature -in "$work/ca.crl.pem" && break
  [ "$try" -lt 20 ] || { echo "trust-pki: no full-width signature for the CRL in 20 tries" >&2; exit 1; }
done
openssl crl -in "$work/ca.crl.pem" -outform DER -out "$tls/ca.crl"
cp "$work/ca.pem" "$work/ca.key" "$tls/"
touch "$tls/.complete"
echo "trust-pki: test CA and certificates made in $tls"
