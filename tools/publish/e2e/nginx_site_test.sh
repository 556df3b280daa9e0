#!/usr/bin/env bash
# The publishing tool against a stock nginx (Debian's package), started here on
# a port of its own (run it in the test run's network namespace: ctest does,
# through scripts/isolated.sh or scripts/test.sh): a release's site folder is
# deployed by copying it and reloading nginx with the generated
# configuration, and "lumora_publish check" finds it right; then the usual
# mistakes, each of which check must name: release 2's files served with
# release 1's configuration (stale signature headers), a package changed on
# the server, a certificate from another CA, a deployment without the
# launcher update.
#   nginx_site_test.sh <folder of lumora_publish> [port]
set -uo pipefail
bin=$1 port=${2:-28443}
publish=$bin/lumora_publish
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "FAILED: nginx is not installed (Debian: nginx; scripts/setup.sh installs it)"; exit 1; }
work=$(mktemp -d)
chmod 755 "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
stop_nginx() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null
  for _ in $(seq 50); do [ -f "$work/nginx.pid" ] || break; sleep 0.1; done
}
trap 'stop_nginx; rm -rf "$work"' EXIT
cd "$work" || exit 1
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "FAILED: port $port is taken (run the test in a network namespace of its own)"; exit 1
fi

# The TLS certificate of the site (localhost, as the launchers' tests use).
tls_for() {  # <folder> <CA name>
  mkdir -p "$1"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=$2" \
    -keyout "$1/ca.key" -out "$1/ca.pem" 2>/dev/null &&
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=localhost \
    -keyout "$1/localhost.key" -out "$1/localhost.csr" 2>/dev/null &&
  openssl x509 -req -in "$1/localhost.csr" -CA "$1/ca.pem" -CAkey "$1/ca.key" -CAcreateserial \
    -days 2 -out "$1/localhost.crt" -extfile <(printf '%s\n' 'subjectAltName=DNS:localhost' \
      'basicConstraints=CA:FALSE' 'extendedKeyUsage=serverAuth') 2>/dev/null
}
tls_for tls "Site Test CA" || { echo "FAILED: cannot make the certificates"; exit 1; }
tls_for other "Another CA" || exit 1

"$publish" keygen keys >/dev/null || { echo "FAILED: keygen"; exit 1; }
site=https://localhost:$port
release() {  # <number> <config version> [launcher]: writes rel<number>/ with its site folder
  mkdir -p "packages$1"
  printf 'platform %s' "$1" >"packages$1/Tessel.pkg.exe"
  head -c 300000 /dev/urandom >"packages$1/Orlune.pkg.exe"
  printf 'launcher %s' "$1" >"packages$1/Lumora.pkg.exe"
  local launcher=""
  [ "${3:-}" = launcher ] &&
    launcher=', "launcher": {"version": 2026120802, "type": 1, "package": "Lumora.pkg.exe"}'
  cat >"release$1.json" <<JSON
{"configVersion": $2, "configUrl": "$site/config.json", "packageBase": "$site/packages/",
 "platform": {"version": 3, "package": "Tessel.pkg.exe"},
 "hall": {"version": $((4 + $1)), "package": "Orlune.pkg.exe", "params": "{\"server\":\"s1\"}"}$launcher}
JSON
  "$publish" release "release$1.json" --packages "packages$1" --key keys/config-signing.key \
    --out "rel$1" --site-root "$work/srv/current" --tls "$work/tls" --statistics-endpoint "$site" \
    >"rel$1.log" 2>&1 || { cat "rel$1.log"; fail "release $1 was not written"; }
}
deploy() {  # <release number>: copy one folder, reload
  rm -rf srv/current && mkdir -p srv && cp -r "rel$1/site" srv/current
  "$nginx" -p "$work/" -c "$work/nginx-main.conf" -s reload 2>>"$work/reload.log"
  sleep 1
}
check() {  # [options...]: lumora_publish check of the live site; its output in check.out
  "$publish" check --key keys/config-signing.pub.pem --config-endpoint "$site" --ca tls/ca.pem \
    --statistics-endpoint "$site" "$@" >check.out 2>&1
}

release 1 1 launcher
release 2 2 launcher
release 3 3
user=""
[ "$(id -u)" = 0 ] && user="user root;"
cat >nginx-main.conf <<CONF
$user
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
    access_log $work/access.log;
    client_body_temp_path $work/tmp-body;
    proxy_temp_path $work/tmp-proxy;
    fastcgi_temp_path $work/tmp-fastcgi;
    uwsgi_temp_path $work/tmp-uwsgi;
    scgi_temp_path $work/tmp-scgi;
    include $work/srv/current/nginx.conf;
}
CONF
rm -rf srv/current && mkdir -p srv && cp -r rel1/site srv/current
"$nginx" -p "$work/" -c "$work/nginx-main.conf" -t >nginx-t.log 2>&1 ||
  { cat nginx-t.log; fail "nginx refuses the generated configuration"; exit 1; }
"$nginx" -p "$work/" -c "$work/nginx-main.conf" || { cat error.log; fail "nginx did not start"; exit 1; }
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

# 1. The site as deployed: every signature, package and branch right.
if check; then
  for line in "the launcher package 2026120802: 10 bytes, SHA-256 as signed" \
              "the configuration reply for the newest launcher (v=2026120802): signed" \
              "launchers of version 2014040401 are offered the launcher update to 2026120802" \
              "the hall package 5: 300000 bytes, SHA-256 as signed" \
              "the platform package 3: 10 bytes" "the statistics endpoint answers (an empty reply)"; do
    grep -qF "ok: $line" check.out || fail "check did not say: $line"
  done
else
  fail "check refused a good site: $(grep PROBLEM check.out)"
fi
grep -q 'starterUpdate.do?v=1&' access.log || fail "check did not ask as an old launcher"

# 2. Release 2's files with release 1's configuration: every header stale.
rm -rf srv/current/www srv/current/replies && cp -r rel2/site/www rel2/site/replies srv/current/
"$nginx" -p "$work/" -c "$work/nginx-main.conf" -s reload 2>>"$work/reload.log" && sleep 1
if check; then
  fail "check passed a site whose signature headers are stale"
else
  grep -q "PROBLEM: the configuration reply for an old launcher (v=1) at $site/starterUpdate.do?v=1&.*signature refused: the bytes do not fit the signature (altered)" check.out ||
    fail "the stale header was not named: $(cat check.out)"
fi

# 3. Release 2 deployed whole: right again; then a package changed on the server.
deploy 2
check || fail "release 2 deployed whole was refused: $(grep PROBLEM check.out)"
printf 'x' >>srv/current/www/localhost_$port/packages/Orlune.pkg.exe
if check; then
  fail "check passed a changed package"
else
  grep -q "PROBLEM: the hall package at $site/packages/Orlune.pkg.exe has 300001 bytes, the signed size is 300000" check.out ||
    fail "the changed package's size was not named: $(cat check.out)"
  grep -q "PROBLEM: the hall package at $site/packages/Orlune.pkg.exe has SHA-256 " check.out ||
    fail "the changed package's digest was not named"
fi

# 4. A certificate the launchers' roots do not know.
if check --ca other/ca.pem; then
  fail "check trusted a certificate of an unknown CA"
else
  grep -q "PROBLEM: .*TLS with localhost:$port failed: certificate refused" check.out ||
    fail "the unknown CA was not named: $(cat check.out)"
fi

# 5. A release without a launcher update: every launcher gets the configuration.
deploy 3
if check; then
  grep -q "ok: no launcher update is published" check.out || fail "the missing launcher update was not said"
else
  fail "release 3 was refused: $(grep PROBLEM check.out)"
fi

echo "nginx site: $failures failure(s)"
[ "$failures" -eq 0 ]
