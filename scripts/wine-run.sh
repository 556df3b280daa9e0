#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine in the build's private prefix:
#   wine-run.sh <prefix folder> <program.exe> [args...]
# Creates the prefix on first use (null graphics driver, no add-ons) and makes
# sure a persistent wineserver serves it. Program text is code page 936.
# Programs run in the zh_CN.UTF-8 locale, generated once beside the prefix:
# GetACP() is then 936 and Chinese file names work (Linux sees them as
# UTF-8). Where it cannot be generated, zh_CN.GBK still gives code page 936,
# but every Chinese file name fails.
set -u
prefix=$1; shift
wine=/usr/lib/wine/wine64
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
[ -x "$server" ] || server=/usr/lib/wine/wineserver64

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$(dirname "$prefix")"
locales="$(dirname "$prefix")/locale"
(
  flock 9
  if [ ! -d "$locales/zh_CN.UTF-8" ] && command -v localedef >/dev/null; then
    mkdir -p "$locales"
    localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" </dev/null >/dev/null 2>&1 9>&- || true
  fi
  if [ ! -f "$prefix/.lumora-ready" ]; then
    "$server" -p </dev/null >/dev/null 2>&1 9>&-
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
    # The desktop process that wineboot started still uses the driver it was
    # started with: end this first session so the next one uses the null one.
    "$server" -k </dev/null >/dev/null 2>&1 9>&- || true
    "$server" -w </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.lumora-ready"
  fi
  # Keep one server alive for the whole run; a no-op when it already runs.
  # (Started processes must not inherit the lock's descriptor: they would
  # hold the lock for as long as they live.)
  "$server" -p </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$prefix.lock"

# Wine's helper processes inherit the output of the process that starts them
# and would keep a reader's pipe open: give the program files, not our pipes.
out=$(mktemp) err=$(mktemp)
locale_env=(LC_ALL=zh_CN.GBK)
if [ -d "$locales/zh_CN.UTF-8" ]; then locale_env=(LOCPATH="$locales" LC_ALL=zh_CN.UTF-8); fi
env "${locale_env[@]}" "$wine" "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"; cat "$err" >&2
rm -f "$out" "$err"
exit $rc
