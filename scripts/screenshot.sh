#!/usr/bin/env bash
# Pictures of what the user sees, taken from the real launcher under Wine:
#   bash scripts/screenshot.sh [output folder]     (default: /tmp/lumora-screenshots)
#
# 1. The update view: a fresh program folder (the build's dist) against the
#    operator's endpoints on loopback (tools/operator), which order a hall
#    update and send the package slowly; three pictures some seconds apart,
#    the progress bar moving between them.
# 2. A reconnect: the same update, the package's first answer broken off at
#    40 % and the rest (asked for with a byte range) sent after 4 s; one
#    picture while the view says it reconnects.
# 3. The error dialog: the configuration endpoint answers garbage, the
#    launcher shows its fatal-error dialog; one picture.
#
# Runs on a virtual X server (Xvfb) with Wine's X11 driver, in a prefix of its
# own (build/x64/screenshot-prefix; the tests' prefix uses the null driver),
# in a zh_CN.UTF-8 locale, inside a Wine virtual desktop so that windows get
# their frames. Each picture is cropped to its window. Not part of the test
# run: it needs the packages below and takes 50-60 s (the first run some
# 12 s more, for the prefix).
#
# Ends everything it started (Xvfb, the prefix's wineserver and with it the
# launcher and the endpoint) on every path; exits non-zero when a picture
# could not be taken.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# It serves the loopback ports: a test run or demo on this machine ends first.
# shellcheck source=lib/ports_lock.sh
. "$root/scripts/lib/ports_lock.sh"
if ! loopback_ports_held; then
  with_loopback_ports "screenshot" bash "$root/scripts/screenshot.sh" "$@"
  exit
fi
out=${1:-${TMPDIR:-/tmp}/lumora-screenshots}
started=$(date +%s)

screen_size=800x600
# The operator's package is sent in about this many seconds.
download_seconds=12

# --- What the pictures need (Debian packages), installed the way setup.sh does.
packages=(xvfb imagemagick x11-utils fonts-wqy-microhei fonts-wine)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "screenshot: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
wqy_font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
marlett_font=/usr/share/wine/fonts/marlett.ttf  # the caption buttons' glyphs
for f in "$wqy_font" "$marlett_font"; do
  [ -f "$f" ] || { echo "screenshot: $f is missing" >&2; exit 1; }
done

# --- A current build (quick when nothing changed).
"$root/scripts/setup.sh" >/dev/null
"$root/scripts/build.sh" x64
build=$root/build/x64
bin=$build/bin
dist=$build/dist
for f in "$dist/Lumora.exe" "$bin/operator_endpoint.exe" "$bin/Orlune.pkg.exe"; do
  [ -f "$f" ] || { echo "screenshot: $f was not built" >&2; exit 1; }
done

prefix=$build/screenshot-prefix
wine=/usr/lib/wine/wine64
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

# --- Everything started below ends in cleanup, whatever happens.
work=
xvfb_pid=
server_started=0
cleanup() {
  set +e
  if [ "$server_started" -eq 1 ]; then
    "${wine_env[@]}" "$server" -k >/dev/null 2>&1
    timeout 20 "${wine_env[@]}" "$server" -w >/dev/null 2>&1
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "screenshot: $*" >&2
  exit 1
}

mkdir -p "$out"
rm -f "$out"/update-[123].png "$out"/error.png "$out"/update.log "$out"/error.log
work=$(mktemp -d "${TMPDIR:-/tmp}/lumora-shots.XXXXXX")

# --- The X server: it picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 "${screen_size}x24" -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

# --- The locale: Wine in zh_CN.UTF-8 (code page 936, Chinese file names), made
# beside the prefix when the system has none, as scripts/wine-run.sh does.
if LC_ALL=zh_CN.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8; then
  locale_env=(LC_ALL=zh_CN.UTF-8)
else
  if [ ! -f "$prefix.locale/.ready" ]; then
    rm -rf "$prefix.locale" && mkdir -p "$prefix.locale"
    localedef -i zh_CN -f UTF-8 "$prefix.locale/zh_CN.UTF-8" >/dev/null 2>&1 ||
      fail "could not make the zh_CN.UTF-8 locale"
    touch "$prefix.locale/.ready"
  fi
  locale_env=(LOCPATH="$prefix.locale" LC_ALL=zh_CN.UTF-8)
fi
wine_env=(env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
          "${locale_env[@]}")
# Wine's helper processes inherit the output of whoever starts them: they get
# files, never this script's output.
wine_run() { "${wine_env[@]}" "$wine" "$@" </dev/null >>"$work/wine.log" 2>&1; }
start_server() {  # a persistent server: each Wine process then starts quickly
  mkdir -p "$prefix"
  server_started=1
  "${wine_env[@]}" "$server" -p </dev/null >/dev/null 2>&1 || true
}
stop_server() {
  "${wine_env[@]}" "$server" -k >/dev/null 2>&1 || true
  timeout 20 "${wine_env[@]}" "$server" -w >/dev/null 2>&1 || true
}

# --- The prefix: X11 driver (no null driver), the WenQuanYi font for Chinese
# text and Marlett for the caption buttons in its Fonts folder, and the
# Chinese system fonts that programs ask for replaced by WenQuanYi.
if [ ! -f "$prefix/.screenshot-ready" ]; then
  echo "screenshot: making the prefix $prefix"
  rm -rf "$prefix"
  start_server
  wine_run wineboot -i || fail "wineboot failed"
  fonts=$prefix/drive_c/windows/Fonts
  mkdir -p "$fonts"
  ln -sf "$wqy_font" "$fonts/wqy-microhei.ttc"
  cp "$marlett_font" "$fonts/marlett.ttf"
  for name in SimSun NSimSun 宋体 新宋体 "Microsoft YaHei" 微软雅黑; do
    wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" \
      /d "WenQuanYi Micro Hei" /f || fail "could not set the font replacements"
  done
  stop_server
  touch "$prefix/.screenshot-ready"
fi
start_server

winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# The X window of a Wine top-level window named $1 once it is shown, as
# "<id> <width>x<height>+<x>+<y>" (the frame included); waits up to $2 s.
find_window() {
  local name=$1 seconds=$2 line id
  for _ in $(seq $((seconds * 5))); do
    line=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$name\": (\"lumora.exe\"" | head -n 1) || true
    if [ -n "$line" ]; then
      id=$(awk '{print $1}' <<<"$line")
      if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
        local geometry
        geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF}
          /Absolute upper-left Y/ {y=$NF} /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
          END {printf "%dx%d+%d+%d", w, h, x, y}')
        echo "$id $geometry"
        return 0
      fi
    fi
    sleep 0.2
  done
  return 1
}

# A picture of the screen cropped to `geometry`.
shoot() {  # <geometry> <file>
  import -display "$DISPLAY" -window root "$work/screen.png" || return 1
  convert "$work/screen.png" -crop "$1" +repage -strip "$2" || return 1
  [ -s "$2" ]
}

# Starts the operator's endpoints on a folder; fails when its ports are taken.
start_operator() {  # <folder> [options...]
  local folder=$1
  shift
  (cd "$folder" && "${wine_env[@]}" "$wine" "$bin/operator_endpoint.exe" "$(winpath "$folder")" "$@" \
     </dev/null >"$folder/endpoint.log" 2>&1 &)
  for _ in $(seq 100); do
    grep -q 'serving' "$folder/endpoint.log" 2>/dev/null && return 0
    grep -q 'in use' "$folder/endpoint.log" 2>/dev/null &&
      fail "$(grep -oE 'port [0-9]+ .*' "$folder/endpoint.log" | head -n 1)"
    sleep 0.1
  done
  fail "the operator's endpoint did not start: $(cat "$folder/endpoint.log")"
}

# Starts the launcher from a fresh copy of dist in Wine's virtual desktop.
start_launcher() {  # <program folder>
  local app=$1
  rm -rf "$app" && mkdir -p "$app" && cp -r "$dist/." "$app/"
  (cd "$app" && "${wine_env[@]}" "$wine" explorer "/desktop=Lumora,$screen_size" \
     "$(winpath "$app")\\Lumora.exe" </dev/null >>"$work/wine.log" 2>&1 &)
}

keep_log() {  # <program folder> <name>: the launcher's log, as UTF-8
  [ -f "$1/Log/starter.log" ] && iconv -f GBK -t UTF-8 "$1/Log/starter.log" >"$out/$2" 2>/dev/null
  return 0
}

# --- 1. The update view: a hall update, its package sent slowly.
echo "screenshot: the update view"
operator=$work/operator
mkdir -p "$operator"
cp "$bin/Orlune.pkg.exe" "$operator/"
cat >"$operator/starterUpdate.json" <<'JSON'
{"code":1,"version":1,"url":"http://127.0.0.1:18090/config.json"}
JSON
cat >"$operator/config.json" <<'JSON'
{"info":{"version":5,"url":"http://127.0.0.1:18090/Orlune.pkg.exe","file":"Orlune.exe",
 "params":{"lifetime":3000}}}
JSON
package_size=$(stat -c %s "$operator/Orlune.pkg.exe")
start_operator "$operator" --bytes-per-second $((package_size / download_seconds))
start_launcher "$work/app"
window=$(find_window "Lumora 更新" 60) || { keep_log "$work/app" update.log; fail "no update view (launcher log: $out/update.log)"; }
geometry=${window#* }
for n in 1 2 3; do
  sleep $((n == 1 ? 1 : 3))
  shoot "$geometry" "$out/update-$n.png" || fail "the update view's picture $n could not be taken"
done
keep_log "$work/app" update.log
for n in 2 3; do
  # compare prints the number of differing pixels (and exits 1 when some differ).
  differing=$(compare -metric AE "$out/update-$((n - 1)).png" "$out/update-$n.png" null: 2>&1 || true)
  if ! [[ $differing =~ ^[0-9] ]] || [ "$differing" = 0 ]; then
    fail "the progress did not move between pictures $((n - 1)) and $n ($differing)"
  fi
done
stop_server

# --- 2. A reconnect: the package's first answer breaks off at 40 %, the next
# one (the rest, asked for with a byte range) comes after 4 s.
echo "screenshot: a reconnect"
start_server
operator=$work/operator-reconnect
mkdir -p "$operator"
cp "$work/operator/Orlune.pkg.exe" "$work/operator/starterUpdate.json" "$work/operator/config.json" \
  "$operator/"
start_operator "$operator" --bytes-per-second $((package_size / download_seconds)) \
  --break-at-percent 40
start_launcher "$work/app"
window=$(find_window "Lumora 更新" 60) || { keep_log "$work/app" reconnect.log; fail "no update view (launcher log: $out/reconnect.log)"; }
asked=0
for _ in $(seq 300); do
  asked=$(grep -c 'Orlune.pkg.exe' "$operator/requests.log" 2>/dev/null || true)
  [ "${asked:-0}" -ge 2 ] && break
  sleep 0.1
done
[ "${asked:-0}" -ge 2 ] || fail "the launcher did not ask for the rest of the package"
sleep 1.5
shoot "${window#* }" "$out/reconnect.png" || fail "the reconnect's picture could not be taken"
sleep 6
keep_log "$work/app" reconnect.log
stop_server

# --- 3. The error dialog: the configuration endpoint answers garbage.
echo "screenshot: the error dialog"
start_server
operator=$work/operator-garbage
mkdir -p "$operator"
echo garbage >"$operator/starterUpdate.json"
start_operator "$operator"
start_launcher "$work/app"
window=$(find_window "错误" 60) || { keep_log "$work/app" error.log; fail "no error dialog (launcher log: $out/error.log)"; }
sleep 1
shoot "${window#* }" "$out/error.png" || fail "the error dialog's picture could not be taken"
keep_log "$work/app" error.log
stop_server
server_started=0

echo "screenshot: done in $(( $(date +%s) - started )) s:"
for f in "$out"/*.png; do
  echo "  $f ($(identify -format '%wx%h' "$f"), $(( $(stat -c %s "$f") / 1024 )) KB)"
done
