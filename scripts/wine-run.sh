#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine in the build's private prefix:
#   wine-run.sh <prefix folder> <program.exe> [args...]
# Creates the prefix on first use (null graphics driver, no add-ons) and makes
# sure a persistent wineserver serves it.
set -u
prefix=$1; shift
wine=/usr/lib/wine/wine64
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
[ -x "$server" ] || server=/usr/lib/wine/wineserver64

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$(dirname "$prefix")"
# Program text is code page 936 in every locale whose name is zh_CN; only a
# UTF-8 one also lets files have Chinese names. Debian has none installed by
# default, so one is made once beside the prefix (about 3 s). The locale is
# given to Wine's processes only (this shell would warn about it).
locales=$prefix.locale
if LC_ALL=zh_CN.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8; then
  locale_env=(LC_ALL=zh_CN.UTF-8)
else
  (
    flock 9
    if [ ! -f "$locales/.ready" ]; then
      rm -rf "$locales" && mkdir -p "$locales" &&
        localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" >/dev/null 2>&1 &&
        touch "$locales/.ready"
    fi
  ) 9>"$prefix.lock"
  if [ -f "$locales/.ready" ]; then
    locale_env=(LOCPATH="$locales" LC_ALL=zh_CN.UTF-8)
  else
    locale_env=(LC_ALL=zh_CN.GBK)  # code page 936 still, but no Chinese file names
  fi
fi
run_server=(env "${locale_env[@]}" "$server")
run_wine=(env "${locale_env[@]}" "$wine")

(
  flock 9
  if [ ! -f "$prefix/.lumora-ready" ]; then
    "${run_server[@]}" -p </dev/null >/dev/null 2>&1 9>&-
    "${run_wine[@]}" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    "${run_wine[@]}" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
    # The desktop process that wineboot started still uses the driver it was
    # started with: end this first session so the next one uses the null one.
    "${run_server[@]}" -k </dev/null >/dev/null 2>&1 9>&- || true
    "${run_server[@]}" -w </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.lumora-ready"
  fi
  # Keep one server alive for the whole run; a no-op when it already runs.
  # (Started processes must not inherit the lock's descriptor: they would
  # hold the lock for as long as they live.)
  "${run_server[@]}" -p </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$prefix.lock"

# Wine's helper processes inherit the output of the process that starts them
# and would keep a reader's pipe open: give the program files, not our pipes.
out=$(mktemp) err=$(mktemp)
"${run_wine[@]}" "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"; cat "$err" >&2
rm -f "$out" "$err"
exit $rc
