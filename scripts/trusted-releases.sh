#!/usr/bin/env bash
# Writes the releases the trusted end-to-end tests serve, with the publishing
# tool (lumora_publish) and the test build's key, into <build>/releases/<name>/,
# fresh at every run: their replies carry a signed validity counted from now.
# Part of the CTest fixture tls_front (cmake/TrustedTestBuild.cmake).
#   trusted-releases.sh <build folder>
# The releases (addresses on https://localhost:18443/<name>/ unless said):
#   r1            configuration 1: platform 3, hall 4
#   r2            configuration 2: platform 3, hall 5 (the genuine release)
#   downgrade     a launcher update to 2014010101, older than the test launcher
#   http          configuration and launcher update at http:// addresses
#   http-packages an https configuration whose packages are at http:// addresses
#   expired       configuration 3, issued 10 days ago, valid 2 days
#   stale         configuration 3, issued 2 hours ago, valid 1 hour (expired
#                 within the clock's allowance: old only next to a newer reply)
set -euo pipefail
build=$(cd "${1:?usage: trusted-releases.sh <build folder>}" && pwd)
publish=$build/native/bin/lumora_publish
key=$build/trust/config-signing.key
out=$build/releases
for needed in "$publish" "$key" "$build/bin/Tessel.pkg.exe" "$build/bin/Orlune.pkg.exe" \
              "$build/bin/Lumora.pkg.exe"; do
  [ -e "$needed" ] || { echo "trusted-releases: $needed is missing (build the x64 build)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/packages"
cp "$build/bin/Tessel.pkg.exe" "$build/bin/Orlune.pkg.exe" "$build/bin/Lumora.pkg.exe" "$out/packages/"
now=$(date +%s)
https=https://localhost:18443
http=http://localhost:18090

release() {  # <name> <configuration version> <hall version> <configuration base> <package base> [publish options...]
  local name=$1 version=$2 hall=$3 config=$4 packages=$5
  shift 5
  cat > "$out/$name.json" <<JSON
{"configVersion": $version, "configUrl": "$config/$name/config.json", "packageBase": "$packages/$name/",
 "platform": {"version": 3, "package": "Tessel.pkg.exe"},
 "hall": {"version": $hall, "package": "Orlune.pkg.exe", "file": "Orlune.exe",
          "params": "{\"server\":\"$name\",\"lifetime\":1500}"}$launcher}
JSON
  "$publish" release "$out/$name.json" --packages "$out/packages" --key "$key" \
    --out "$out/$name" "$@" >/dev/null
}

launcher=
release r1 1 4 "$https" "$https" --issued $((now - 120))
release r2 2 5 "$https" "$https" --issued $((now - 60))
release expired 3 5 "$https" "$https" --issued $((now - 10 * 86400)) --valid-hours 48
release stale 3 5 "$https" "$https" --issued $((now - 7200)) --valid-hours 1
release http-packages 3 5 "$https" "$http" --issued $((now - 60)) --allow-http
launcher=', "launcher": {"version": 2014010101, "type": 1, "package": "Lumora.pkg.exe"}'
release downgrade 3 5 "$https" "$https" --issued $((now - 60))
launcher=', "launcher": {"version": 2015010101, "type": 1, "package": "Lumora.pkg.exe"}'
release http 3 5 "$http" "$http" --issued $((now - 60)) --allow-http
echo "trusted-releases: r1 r2 expired stale http-packages downgrade http in $out"
