#!/usr/bin/env bash
# The main job: set-up, build, then the whole start-up chain under Wine.
#  1. a program folder with a Chinese name, laid out from the shipped files;
#  2. the operator's endpoints on loopback, served from a folder of files;
#  3. a link opened through Wine's shell, as from a browser: Portus starts the
#     launcher, which registers the device, loads the configuration, downloads
#     and installs both components through the updater and starts the hall;
#  4. a second start of Lumora.exe with nothing to update;
#  5. a summary: each step with its time from the logs (with an English gloss),
#     the stored versions, what the hall received, where the logs are, and a
#     verdict. Exits non-zero when any step failed. Leaves nothing running.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" x64

export WINEPREFIX=$root/build/x64/wineprefix
bin=$root/build/x64/bin
dist=$root/build/x64/dist
demo=$root/build/x64/demo
folder="$demo/游戏大厅淺"
operator="$demo/operator"
scheme=lumdemo
link='lumdemo://open {"u":1,"a":"玩家","p":"pw"}'

run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }   # Wine's drive Z: is the Linux root
gbk() { iconv -f GBK -t UTF-8 -c; }

endpoint_job=
cleanup() {
  [ -d "$operator" ] && touch "$operator/stop"
  [ -n "$endpoint_job" ] && wait "$endpoint_job" 2>/dev/null || true
  run "$bin/register_scheme.exe" --remove "$scheme" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

failures=0
verdict() {  # <ok?> <text>
  if [ "$1" = 0 ]; then echo "  [OK]     $2"; else echo "  [FAILED] $2"; failures=$((failures + 1)); fi
}
check() { local text=$1; shift; if "$@"; then verdict 0 "$text"; else verdict 1 "$text"; fi; }

# --- 1. the program folder and the operator's files ---------------------------
echo "=== 1. Program folder and operator endpoints"
rm -rf "$demo" && mkdir -p "$operator"
cp -r "$dist" "$folder"
cp "$bin/Tessel.pkg.exe" "$bin/Orlune.pkg.exe" "$operator/"
base=http://127.0.0.1:18090
cat > "$operator/starterUpdate.json" <<EOF
{"code":1,"version":1,"url":"$base/config.json"}
EOF
cat > "$operator/config.json" <<EOF
{"platform":{"version":3,"url":"$base/Tessel.pkg.exe"},
 "info":{"version":5,"url":"$base/Orlune.pkg.exe","file":"Orlune.exe",
         "params":"{\"server\":\"demo-1\",\"lifetime\":4000}"}}
EOF
echo "  program folder:  $folder   (copied from build/x64/dist: $(ls "$dist" | tr '\n' ' '))"
echo "  operator folder: $operator (configuration reply, configuration data, two packages)"

run "$bin/operator_endpoint.exe" "$(winpath "$operator")" >"$demo/operator.out" 2>&1 &
endpoint_job=$!
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/18090) 2>/dev/null && break; sleep 0.1; done
check "operator endpoints listen on 127.0.0.1:18090 and :9090" bash -c '(exec 3<>/dev/tcp/127.0.0.1/9090) 2>/dev/null'

# --- 2. first start: a link through the shell ----------------------------------
echo
echo "=== 2. First start: the link $link opened through Wine's shell"
run "$bin/register_scheme.exe" "$scheme" "$(winpath "$folder")\\Portus.exe" >/dev/null
run start "$link" >/dev/null 2>&1 || true
for _ in $(seq 600); do [ -f "$folder/Orlune.received.json" ] && break; sleep 0.1; done
run "$bin/wait_window.exe" QZ_Lumo_U1 --gone 60 >/dev/null 2>&1 || true
cp "$folder/Log/starter.log" "$demo/first-start.log" 2>/dev/null || true
check "the hall was started (Orlune.received.json written)" test -f "$folder/Orlune.received.json"
check "platform resources installed (Platform\\logo.ico)" test -f "$folder/Platform/logo.ico"
check "hall installed (Orlune.exe)" test -f "$folder/Orlune.exe"
cp "$folder/Orlune.received.json" "$demo/first-hall.json" 2>/dev/null || true

# --- 3. second start: nothing to update ----------------------------------------
echo
echo "=== 3. Second start: Lumora.exe again, nothing to update"
run "$bin/wait_window.exe" QZ_Orlune_U1 --gone 30 >/dev/null 2>&1 || true
rm -f "$folder/Orlune.received.json"
set +e
run "$folder/Lumora.exe"
second=$?
set -e
for _ in $(seq 100); do [ -f "$folder/Orlune.received.json" ] && break; sleep 0.1; done
check "Lumora.exe ended with exit code 0 (got $second)" test "$second" = 0
check "the hall was started again" test -f "$folder/Orlune.received.json"
run "$bin/wait_window.exe" QZ_Orlune_U1 --gone 30 >/dev/null 2>&1 || true

# --- 4. summary -----------------------------------------------------------------
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
show_log "$folder/Log/starter.log"
echo "--- requests the operator's endpoints got (time, port, path):"
sed 's/^/  /' "$operator/requests.log" | cut -c1-150
echo "--- stored records (Config\\config.db):"
run "$bin/records.exe" "$(winpath "$folder")" CFG_ConfigInfo CFG_DID | gbk | tr -d '\r' | sed 's/^/  /'
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
check "first start: configuration stored" grep -q '更新\[配置\]到版本\[1\]' <<<"$log1"
check "first start: platform resources 3 installed" grep -q '更新平台资源到版本\[3\]' <<<"$log1"
check "first start: hall 5 installed" grep -q '更新大厅到版本\[5\]' <<<"$log1"
check "first start: hall started" grep -q '执行程序成功' <<<"$log1"
check "first start: no fatal message" bash -c '! grep -q 请联系客服解决问题 <<<"$1"' _ "$log1"
log2=$(gbk <"$folder/Log/starter.log" 2>/dev/null || true)
check "second start: nothing downloaded" bash -c '! grep -q 更新平台资源到版本 <<<"$1" && ! grep -q 更新大厅到版本 <<<"$1"' _ "$log2"
check "second start: hall started" grep -q '执行程序成功' <<<"$log2"
check "the link's login reached the hall unchanged" bash -c 'grep -q "Login" <<<"$1"' _ \
  "$(run "$bin/envelope.exe" -d "${sp:-none}" 2>/dev/null | gbk)"
if [ "$failures" -eq 0 ]; then
  echo "DEMO OK: the whole start-up chain ran twice."
else
  echo "DEMO FAILED: $failures check(s) failed (see above)."
  exit 1
fi
