#!/usr/bin/env bash
# The main job: set-up, build, then the whole start-up chain under Wine, the
# trusted way: HTTPS with checked certificates, signed replies, hashed packages.
#  1. a program folder with a Chinese name, laid out from the shipped files,
#     with the test build's trusted launcher (LumoraTrusted.exe: the test key
#     built in, the operator at https://localhost:18443 and :19443) as
#     Lumora.exe (--plain: the shipped one, at http://127.0.0.1:18090, with
#     no TLS front); the operator's release written and signed by the
#     publishing tool (lumora_publish) with the test key;
#  2. the operator's endpoints on loopback, served from that folder, behind the
#     loopback TLS front (https://localhost:18443 -> 18090, :19443 -> 9090)
#     with the test CA in the prefix (the demo stops at once when another
#     program holds their ports);
#  3. a link opened through Wine's shell, as from a browser: Portus starts the
#     launcher, which registers the device, loads the configuration, downloads
#     and installs both components through the updater and starts the hall;
#  4. a second start of Lumora.exe with nothing to update;
#  5. a summary: each step with its time from the logs (with an English gloss),
#     the stored versions, what the hall received, where the logs are, and a
#     verdict. Every way it ends prints "DEMO OK ..." or "DEMO FAILED: <step>"
#     and exits non-zero unless every step passed. Leaves nothing running.
# Runs in a network namespace of its own where the system allows one (its own
# loopback ports), else waits for a test run or another demo on this machine
# to end first: they serve the same loopback ports.
#   demo.sh           the x86_64 test build's programs (quick; no emulation)
#   demo.sh --i686    the shipped i686 programs, the folder unpacked from the
#                     shipped ZIP (build/x86/Lumora-*-win32.zip), under
#                     emulation (scripts/setup-i686.sh; some 3x slower)
#   demo.sh --plain   the launcher as shipped without keys (plain HTTP, no
#                     signatures checked) instead of the trusted one
# The i686 build's tests run both ways from its ZIP (ShippedZip.Chain and
# ShippedZip.TrustedChain, tests/release): `demo.sh --in-test <build folder>
# [--plain]` inside that CTest run, where the run's wineserver and TLS front
# stay as they are.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"

build=$root/build/x64 zip= trusted=1 mode= options=()
while [ $# -gt 0 ]; do
  case $1 in
    --i686) build=$root/build/x86 zip=1 options+=("$1") ;;
    --plain) trusted= options+=("$1") ;;
    --under-lock) mode=lock ;;
    --in-test) mode=test build=$2 zip=1; shift ;;
    *) echo "usage: bash scripts/demo.sh [--i686] [--plain]" >&2; exit 2 ;;
  esac
  shift
done

if [ -z "$mode" ]; then
  "$root/scripts/setup.sh"
  if [ -n "$zip" ]; then
    "$root/scripts/build.sh" x86
    bash "$root/scripts/setup-i686.sh"
    with_loopback_ports "demo" bash "$root/scripts/lib/emulation.sh" \
      bash "$root/scripts/demo.sh" --under-lock "${options[@]}"
  else
    # Only what the demo runs (the tests' programs come with scripts/test.sh).
    "$root/scripts/build.sh" x64 --target demo_programs
    with_loopback_ports "demo" bash "$root/scripts/demo.sh" --under-lock "${options[@]}"
  fi
  exit
fi

export WINEPREFIX=$build/wineprefix
bin=$build/bin
dist=$build/dist
demo=$build/demo
[ -n "$trusted" ] || demo=$build/demo-plain
publish=$build/native/bin/lumora_publish
folder="$demo/游戏大厅淺"
operator="$demo/operator"
scheme=lumdemo
link='lumdemo://open {"u":1,"a":"玩家","p":"pw"}'

run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }   # Wine's drive Z: is the Linux root
gbk() { iconv -f GBK -t UTF-8 -c; }

step="set-up"
verdict_shown=
endpoint_job=
cleanup() {
  local status=$?
  [ -d "$operator" ] && touch "$operator/stop"
  [ -n "$endpoint_job" ] && wait "$endpoint_job" 2>/dev/null || true
  run "$bin/register_scheme.exe" --remove "$scheme" >/dev/null 2>&1 || true
  if [ "$mode" = test ]; then
    # The test run's Wine goes on: a launcher still showing a message (or a
    # hall) would take the place of the next test's launcher.
    run "$bin/wait_window.exe" QZ_Lumo_U1 --end 5 >/dev/null 2>&1 || true
    run "$bin/wait_window.exe" QZ_Orlune_U1 --end 5 >/dev/null 2>&1 || true
  else
    bash "$root/scripts/tls-front.sh" stop "$build" >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -z "$verdict_shown" ]; then
    echo
    echo "DEMO FAILED: $step (exit code $status)."
    echo "  logs: $folder/Log, the endpoint's output $demo/operator.out"
    [ "$status" -ne 0 ] || exit 1
  fi
}
trap cleanup EXIT
# A server of this prefix started elsewhere (outside this run's network
# namespace) would make Wine's sockets there: start our own (a test run has
# started its own already).
[ "$mode" = test ] || wineserver -k >/dev/null 2>&1 || true
# Stops the demo at once with its verdict.
stop_demo() {  # <why>
  echo "  [FAILED] $1"
  echo
  echo "DEMO FAILED: $step: $1"
  echo "  logs: $folder/Log, the endpoint's output $demo/operator.out"
  verdict_shown=1
  exit 1
}

failures=0
verdict() {  # <ok?> <text>
  if [ "$1" = 0 ]; then echo "  [OK]     $2"; else echo "  [FAILED] $2"; failures=$((failures + 1)); fi
}
check() { local text=$1; shift; if "$@"; then verdict 0 "$text"; else verdict 1 "$text"; fi; }
# Waits up to <seconds> for a command to succeed, saying every 10 s that it
# still waits.
wait_for() {  # <seconds> <what> <command> [args...]
  local seconds=$1 what=$2 waited=0
  shift 2
  while ! "$@"; do
    [ $((waited / 10)) -ge "$seconds" ] && return 1
    sleep 0.1
    waited=$((waited + 1))
    [ $((waited % 100)) -eq 0 ] && echo "  ... still waiting for $what ($((waited / 10)) s)"
  done
  return 0
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
endpoint_says() { grep -q "$1" "$demo/operator.out" 2>/dev/null; }
# The endpoint's own output reaches operator.out only when it ends
# (scripts/wine-run.sh hands a program's output on afterwards): while it runs,
# its ports tell.
endpoint_serving() { listening 18090 && listening 9090; }
endpoint_ready() {
  endpoint_serving && return 0
  kill -0 "$endpoint_job" 2>/dev/null || return 0
  return 1
}

# --- 1. the program folder and the operator's files ---------------------------
echo "=== 1. Program folder and operator endpoints"
step="the program folder"
rm -rf "$demo" && mkdir -p "$operator" "$demo/packages"
rel() { echo "${1#"$root"/}"; }
if [ -n "$zip" ]; then
  shipped=$(ls "$build"/Lumora-*-win*.zip 2>/dev/null | grep -v -e '-symbols\.zip$' -e '-unsigned\.zip$' |
    head -n 1 || true)
  [ -n "$shipped" ] || stop_demo "no shipped ZIP in $(rel "$build") (bash scripts/build.sh x86 makes it)"
  mkdir -p "$folder" && unzip -q "$shipped" -d "$folder"
  origin="unpacked from $(rel "$shipped")"
else
  cp -r "$dist" "$folder"
  origin="copied from $(rel "$dist")"
fi
if [ -n "$trusted" ]; then
  # The trusted launcher of the test build in place of the plain one.
  cp "$bin/LumoraTrusted.exe" "$folder/Lumora.exe"
  base=https://localhost:18443
  ports=(18090 9090 18443 19443)
else
  base=http://127.0.0.1:18090
  ports=(18090 9090)
fi
# A CTest run has the TLS front up already (a fixture of the trusted tests).
[ "$mode" = test ] && ports=(18090 9090)
cp "$bin/Tessel.pkg.exe" "$bin/Orlune.pkg.exe" "$demo/packages/"
cat > "$demo/release.json" <<EOF
{"configVersion": 1, "configUrl": "$base/config.json", "packageBase": "$base/",
 "platform": {"version": 3, "package": "Tessel.pkg.exe"},
 "hall": {"version": 5, "package": "Orlune.pkg.exe", "file": "Orlune.exe",
          "params": "{\"server\":\"demo-1\",\"lifetime\":4000}"}}
EOF
# A launcher without a key takes plain http addresses (the tool refuses them
# unless told: launchers with a key refuse them).
plain_http=()
[ -n "$trusted" ] || plain_http=(--allow-http)
"$publish" release "$demo/release.json" --packages "$demo/packages" \
  --key "$build/trust/config-signing.key" --out "$operator" "${plain_http[@]}" | sed 's/^/  /'
keyid=$("$publish" keyid "$build/trust/config-signing.pub.pem")
echo "  program folder:  $folder   ($origin: $(ls "$folder" | tr '\n' ' '))"
if [ -n "$trusted" ]; then
  echo "  launcher: $(rel "$bin")/LumoraTrusted.exe as Lumora.exe (test key $keyid built in; https endpoints)"
else
  echo "  launcher: Lumora.exe as shipped (no key built in; http endpoints, nothing verified)"
fi
echo "  operator folder: $operator (signed configuration reply and data, two packages;"
echo "                   release written by lumora_publish with $(rel "$build")/trust/config-signing.key)"

step="the operator's endpoints"
# Our own endpoint must hold both ports before any program starts: a launcher
# answered by some other program would show nothing the demo can judge.
for port in "${ports[@]}"; do
  if listening "$port"; then
    holder=$(port_holder "$port")
    stop_demo "port $port on 127.0.0.1 is in use${holder:+ by $holder}; end that program and run the demo again"
  fi
done
# Wine's own start (its server and services, some seconds on a busy machine)
# before the endpoint's time runs.
run "$bin/exit_with.exe" 0
run "$bin/operator_endpoint.exe" "$(winpath "$operator")" >"$demo/operator.out" 2>&1 &
endpoint_job=$!
wait_for 60 "the operator's endpoints" endpoint_ready || true
if ! endpoint_serving; then
  taken=$(grep -oE 'port [0-9]+ .*in use' "$demo/operator.out" | head -n 1 || true)
  stop_demo "${taken:-the endpoints did not start}: $(tr -d '\r' <"$demo/operator.out" | tail -n 2 | tr '\n' ' ')"
fi
verdict 0 "operator endpoints hold 127.0.0.1:18090 and :9090"
if [ -n "$trusted" ]; then
  if [ "$mode" != test ]; then
    bash "$root/scripts/tls-front.sh" start "$build" | sed 's/^/  /' ||
      stop_demo "the TLS front did not start (see $build/tls-front/front.out)"
  fi
  verdict 0 "HTTPS in front of them: https://localhost:18443 and :19443, the test CA trusted by the prefix"
fi

# --- 2. first start: a link through the shell ----------------------------------
echo
echo "=== 2. First start: the link $link opened through Wine's shell"
step="the first start"
run "$bin/register_scheme.exe" "$scheme" "$(winpath "$folder")\\Portus.exe" >/dev/null
run start "$link" >/dev/null 2>&1 || true
echo "  (Portus, then the launcher: registration, configuration, two downloads and installations; up to 60 s)"
wait_for 60 "the hall to start" test -f "$folder/Orlune.received.json" || true
run "$bin/wait_window.exe" QZ_Lumo_U1 --gone 60 >/dev/null 2>&1 ||
  run "$bin/wait_window.exe" QZ_Lumo_U1 --end 5 >/dev/null 2>&1 || true  # a message nobody answers
cp "$folder/Log/starter.log" "$demo/first-start.log" 2>/dev/null || true
check "the hall was started (Orlune.received.json written)" test -f "$folder/Orlune.received.json"
check "platform resources installed (Platform\\logo.ico)" test -f "$folder/Platform/logo.ico"
check "hall installed (Orlune.exe)" test -f "$folder/Orlune.exe"
cp "$folder/Orlune.received.json" "$demo/first-hall.json" 2>/dev/null || true

# --- 3. second start: nothing to update ----------------------------------------
echo
echo "=== 3. Second start: Lumora.exe again, nothing to update"
step="the second start"
echo "  (waiting for the first hall to end, up to 30 s)"
run "$bin/wait_window.exe" QZ_Orlune_U1 --gone 30 >/dev/null 2>&1 || true
rm -f "$folder/Orlune.received.json" "$folder/Log/starter.log"
set +e
run "$folder/Lumora.exe" &
second_job=$!
for _ in $(seq 120); do kill -0 "$second_job" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$second_job" 2>/dev/null; then
  # A launcher that shows a message waits for an answer nobody gives here.
  echo "  Lumora.exe still runs after 60 s (showing a message?): ended"
  run "$bin/wait_window.exe" QZ_Lumo_U1 --end 5 >/dev/null 2>&1
fi
wait "$second_job"
second=$?
set -e
wait_for 30 "the hall to start" test -f "$folder/Orlune.received.json" || true
cp "$folder/Log/starter.log" "$demo/second-start.log" 2>/dev/null || true
check "Lumora.exe ended with exit code 0 (got $second)" test "$second" = 0
check "the hall was started again" test -f "$folder/Orlune.received.json"
run "$bin/wait_window.exe" QZ_Orlune_U1 --gone 30 >/dev/null 2>&1 || true

# --- 4. summary -----------------------------------------------------------------
step="the summary"
touch "$operator/stop"; wait "$endpoint_job" 2>/dev/null || true; endpoint_job=

gloss() {
  case "$1" in
    *下载服务模块加载失败*) echo "the download service could not be loaded" ;;
    当前\[配置\]版本*) echo "stored vs. newest configuration version" ;;
    更新\[配置\]到版本*) echo "configuration data stored" ;;
    当前\[平台资源\]版本*) echo "installed vs. newest platform resources" ;;
    更新平台资源到版本*) echo "platform resources installed" ;;
    当前\[大厅\]版本*) echo "installed vs. newest hall" ;;
    更新大厅到版本*) echo "hall installed" ;;
    当前\[启动器\]版本*) echo "this launcher vs. the newest launcher" ;;
    BOLT初始化*) echo "UI engine started (update view)" ;;
    设置XAR包搜索路径*) echo "skin package folder added" ;;
    BOLT\ 成功加载XAR包*) echo "skin package loaded" ;;
    BOLT\ XAR包加载错误*) echo "skin package could not be loaded" ;;
    启动大厅*) echo "starting the hall: program and parameters" ;;
    执行程序成功*) echo "program started" ;;
    执行程序失败*) echo "program could not be started" ;;
    *运行更新器失败*) echo "the updater failed" ;;
    ToLua\ 未实现*) echo "the skin does not handle this event" ;;
    *请联系客服解决问题*) echo "FATAL: shown to the user, the launcher ends with -1" ;;
    配置签名校验:\ 已内置公钥*) echo "this launcher carries the operator's key: replies and packages are verified" ;;
    配置签名校验:\ 未内置公钥*) echo "no key built in: nothing is verified" ;;
    *签名校验通过*) echo "the reply's signature is valid (ECDSA P-256 over its kind and bytes)" ;;
    CheckConfig\ 应答有效*) echo "the reply is of its kind, fresh (signed validity), not older than what was verified, https only" ;;
    *配置数据与应答相符*) echo "the data is the one the reply names: version, SHA-256 and size" ;;
    已存储的配置校验通过*) echo "the stored configuration's signature verified again at this start" ;;
    已存储的配置校验失败*) echo "the stored configuration does not verify: loaded again" ;;
    *应答被拒绝*|*配置数据被拒绝*) echo "a signed document refused by the release rules" ;;
    *签名校验失败*) echo "a reply without a valid signature" ;;
    更新包校验通过*) echo "the package's size and SHA-256 match the signed configuration" ;;
    更新包校验失败*|更新包缺少sha256*) echo "a package refused before the updater ran it" ;;
    *请求失败*) echo "a request failed (system error, HTTP status)" ;;
    复制成功) echo "file copied" ;;
    安装成功) echo "package installed" ;;
    运行成功) echo "program started" ;;
    *) echo "" ;;
  esac
}

# Prints a log's entries with their times since the first one, each on one
# line (a message of several lines is joined; long ones are cut), glossed, with
# the parameter envelopes it holds decoded beneath it.
print_entry() {  # <hh:mm:ss.mmm> <ms since the first> <text>
  local text g env
  text=$(tr -s ' ' <<<"$3")
  g=$(gloss "$text")
  [ "${#text}" -gt 150 ] && text="${text:0:150}..."
  printf '  %s %+6dms  %s%s\n' "$1" "$2" "$text" "${g:+   -- $g}"
  for env in $(grep -oE 'MD[0-9]{8}[0-9A-V]+' <<<"$3" | sort -u); do
    printf '                        %s = %s\n' "${env:0:14}..." \
      "$(run "$bin/envelope.exe" -d "$env" | gbk | tr -d '\r' | tr -s ' \n' ' ')"
  done
}

show_log() {  # <log file (code page 936)>
  local first="" line ms stamp="" rel=0 text=""
  [ -f "$1" ] || { echo "    (no log)"; return; }
  while IFS= read -r line; do
    if [[ $line =~ ^index=[0-9]+,time:[0-9]{8}_([0-9]{2})([0-9]{2})([0-9]{2})([0-9]{3}):(.*)$ ]]; then
      [ -n "$stamp" ] && print_entry "$stamp" "$rel" "$text"
      ms=$(( (10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}) * 1000 + 10#${BASH_REMATCH[4]} ))
      [ -z "$first" ] && first=$ms
      rel=$((ms - first))
      stamp="${BASH_REMATCH[1]}:${BASH_REMATCH[2]}:${BASH_REMATCH[3]}.${BASH_REMATCH[4]}"
      text=${BASH_REMATCH[5]}
    elif [ -n "$line" ]; then
      text="$text $line"
    fi
  done < <(gbk <"$1" | tr -d '\r')
  [ -n "$stamp" ] && print_entry "$stamp" "$rel" "$text"
  return 0
}

echo
echo "=== 4. Summary"
echo "--- first start, launcher log (Log\\starter.log of that run):"
show_log "$demo/first-start.log"
echo "--- first start, updater and installers:"
show_log "$folder/Log/updater.log"
for f in "$folder"/Log/Install/*.log; do
  [ -f "$f" ] && { echo "    $(basename "$f"):"; gbk <"$f" | tr -d '\r' | sed 's/^/      /'; }
done
echo "--- second start, launcher log:"
show_log "$demo/second-start.log"
if [ -n "$trusted" ]; then
  echo "--- connections of the TLS front ($(rel "$build")/tls-front/front.log):"
  tail -n 20 "$build/tls-front/front.log" 2>/dev/null | sed 's/^/  /' | cut -c1-150
fi
echo "--- requests the operator's endpoints got behind it (time, port, path):"
if [ -f "$operator/requests.log" ]; then
  sed 's/^/  /' "$operator/requests.log" | cut -c1-150
else
  echo "  (none)"
fi
echo "--- stored records (Config\\config.db):"
# A launcher without a key keeps no trust record.
trust_record=()
[ -z "$trusted" ] || trust_record=(CFG_Trust)
records=$(run "$bin/records.exe" "$(winpath "$folder")" CFG_ConfigInfo CFG_DID "${trust_record[@]}" |
  gbk | tr -d '\r')
sed 's/^/  /' <<<"$records"
echo "--- what the hall received on the first start (Orlune.received.json):"
if [ -f "$demo/first-hall.json" ]; then
  gbk <"$demo/first-hall.json" | tr -d '\r' | sed 's/^/  /'
  sp=$(gbk <"$demo/first-hall.json" | grep -oE '\\"params\\" : \\"MD[0-9]{8}[0-9A-V]+' | grep -oE 'MD[0-9A-V]+' | head -n1 || true)
  [ -n "$sp" ] && echo "  its \"params\" (the launcher's start parameters from Portus) decoded: $(run "$bin/envelope.exe" -d "$sp" | gbk | tr -d '\r')"
fi
echo "--- logs: $folder/Log (starter.log, updater.log, Install/, strata.log)"

echo
echo "=== Verdict"
log1=$(gbk <"$demo/first-start.log" 2>/dev/null || true)
if [ -n "$trusted" ]; then
  check "the launcher carries the test key ($keyid) and says so" grep -q "已内置公钥\[$keyid\]" <<<"$log1"
  check "every request over HTTPS, certificates checked: no request failed" \
    bash -c '! grep -q 请求失败 <<<"$1" && grep -q "accepted" "$2"' _ "$log1" "$build/tls-front/front.log"
  check "first start: the configuration reply's signature verified" grep -q 'CheckConfig 签名校验通过' <<<"$log1"
  check "first start: the reply is a configuration reply, fresh (its signed validity), not older than a verified one" \
    grep -q 'CheckConfig 应答有效 类型\[配置应答\]' <<<"$log1"
  check "first start: the configuration data's signature verified" grep -q 'ConfigLoaded 签名校验通过' <<<"$log1"
  check "first start: the data is the one the reply names (version, SHA-256, size)" \
    grep -q 'ConfigLoaded 配置数据与应答相符 版本\[1\]' <<<"$log1"
  check "the signed release names only https addresses" \
    bash -c '! grep -q "\"http://" "$1"/config.json "$1"/starterUpdate.json' _ "$operator"
  check "the newest verified configuration version and issue time are kept (CFG_Trust)" \
    grep -q '"configVersion" : 1' <<<"$records"
else
  check "the launcher carries no key and says so" grep -q "未内置公钥" <<<"$log1"
  check "no request failed" bash -c '! grep -q 请求失败 <<<"$1"' _ "$log1"
fi
check "first start: configuration stored" grep -q '更新\[配置\]到版本\[1\]' <<<"$log1"
if [ -n "$trusted" ]; then
  check "first start: the platform package's SHA-256 and size verified before installing" \
    grep -q '更新包校验通过 文件:.*Tessel.pkg.exe' <<<"$log1"
  check "first start: the hall package's SHA-256 and size verified before installing" \
    grep -q '更新包校验通过 文件:.*Orlune.pkg.exe' <<<"$log1"
fi
check "first start: platform resources 3 installed" grep -q '更新平台资源到版本\[3\]' <<<"$log1"
check "first start: hall 5 installed" grep -q '更新大厅到版本\[5\]' <<<"$log1"
check "first start: hall started" grep -q '执行程序成功' <<<"$log1"
check "first start: no fatal message" bash -c '! grep -q 请联系客服解决问题 <<<"$1"' _ "$log1"
log2=$(gbk <"$demo/second-start.log" 2>/dev/null || true)
if [ -n "$trusted" ]; then
  check "second start: the stored configuration's signature verified again" \
    grep -q '已存储的配置校验通过 版本\[1\]' <<<"$log2"
  check "second start: the reply's signature verified again" grep -q 'CheckConfig 签名校验通过' <<<"$log2"
fi
check "second start: nothing downloaded" bash -c '! grep -q 更新平台资源到版本 <<<"$1" && ! grep -q 更新大厅到版本 <<<"$1"' _ "$log2"
check "second start: hall started" grep -q '执行程序成功' <<<"$log2"
check "the link's login reached the hall unchanged" bash -c 'grep -q "Login" <<<"$1"' _ \
  "$(run "$bin/envelope.exe" -d "${sp:-none}" 2>/dev/null | gbk)"
verdict_shown=1
if [ "$failures" -eq 0 ]; then
  how="over HTTPS with signed, fresh, bound replies, hashed packages and a verified store"
  [ -n "$trusted" ] || how="over plain HTTP, as a build without keys"
  echo "DEMO OK: the whole start-up chain ran twice ($origin), $how."
else
  echo "DEMO FAILED: $failures check(s) failed (see above)."
  echo "  logs: $folder/Log, the endpoint's output $demo/operator.out"
  exit 1
fi
