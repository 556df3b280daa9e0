#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's private prefix:
#   wine-run.sh <prefix folder> <program.exe> [args...]
# Creates the prefix on first use (null graphics driver, no add-ons) and makes
# sure a persistent wineserver serves it. An i686 program (its PE header says
# so), or any command in a prefix made for one, runs under the emulated
# 32-bit Wine of scripts/setup-i686.sh in a win32 prefix (scripts/lib/
# emulation.sh); everything else under the machine's 64-bit Wine. Program text is code page 936:
# Wine runs under the Linux locale zh_CN.UTF-8, which gives programs code
# page 936 and lets them create and open files with Chinese names (Linux
# sees those names as UTF-8). Without that locale installed Wine still
# reports code page 936 but every Chinese file name fails, so this refuses
# to run instead.
set -u
prefix=$1; shift
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

charmap() { LC_ALL=zh_CN.UTF-8 locale charmap 2>/dev/null; }
if [ "$(charmap)" != UTF-8 ]; then
  # scripts/setup.sh puts the locale here when it cannot install it.
  export LOCPATH=$root/.cache/locale
  if [ "$(charmap)" != UTF-8 ]; then
    echo "wine-run.sh: the locale zh_CN.UTF-8 is not installed ('LC_ALL=zh_CN.UTF-8 locale" \
      "charmap' does not print UTF-8); Chinese file names would fail under Wine." \
      "Run scripts/setup.sh first." >&2
    exit 3
  fi
fi

# The machine a PE file is built for: 014c for i386.
pe_machine() {  # <file>
  local header
  [ -f "$1" ] || return 0
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$header" ] && od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
loader=/usr/lib/wine/wine64
if [ "$(pe_machine "${1:-}")" = 014c ] || grep -qsx '#arch=win32' "$prefix/system.reg"; then
  # shellcheck source=lib/emulation.sh
  . "$root/scripts/lib/emulation.sh"
  i686_wine_env
  if ! i686_binfmt_active; then
    with_i686_emulation bash "${BASH_SOURCE[0]}" "$prefix" "$@"
    exit
  fi
  loader=$i686_wine
fi
wine() { LC_ALL=zh_CN.UTF-8 "$loader" "$@"; }
server=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}
[ -x "$server" ] || server=/usr/lib/wine/wineserver64

export WINEPREFIX=$prefix
# Wine's own messages are off, but for the errors of a process's start-up
# (the loader, the address space, the server connection): a program that
# cannot start then says why (LUMORA_WINEDEBUG replaces the setting).
export WINEDEBUG=${LUMORA_WINEDEBUG:--all,err+process,err+virtual,err+server,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.lumora-ready" ]; then
    "$server" -p </dev/null >/dev/null 2>&1 9>&-
    wine wineboot -i </dev/null >/dev/null 2>&1 9>&-
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
    if [ "${WINEARCH:-}" = win32 ]; then
      # The zlib1.dll that Debian's 32-bit Wine imports (scripts/setup-i686.sh).
      cp "$i686_root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" \
        "$prefix/drive_c/windows/system32/"
    fi
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
# With LUMORA_WINE_OUTPUT=<file> both outputs go to that file as they come
# (a reader follows it; scripts/run.sh), else they are printed at the end.
if [ -n "${LUMORA_WINE_OUTPUT:-}" ]; then
  wine "$@" >>"$LUMORA_WINE_OUTPUT" 2>&1 </dev/null
  exit
fi
# The prefix's wineserver, as the system sees it: its process id and since
# when it runs (the server works in a folder named server-<device and inode
# of the prefix, hex> below /tmp), or that none runs.
server_state() {
  local dir p pid=""
  # shellcheck disable=SC2046
  dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
  for p in /proc/[0-9]*; do
    case "$(readlink "$p/cwd" 2>/dev/null)" in
      /tmp/*/"$dir") [ "$(cat "$p/comm" 2>/dev/null)" = wineserver64 ] && { pid=${p#/proc/}; break; } ;;
    esac
  done
  if [ -n "$pid" ]; then
    echo "wineserver pid $pid, running since $(ps -o lstart= -p "$pid" 2>/dev/null)"
  else
    echo "no wineserver runs for the prefix (none works in a folder $dir)"
  fi
}

out=$(mktemp) err=$(mktemp)
wine "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"; cat "$err" >&2
# A program that failed without a word (killed, or Wine could not start it)
# is described, so that a test's failure always says something.
if [ "$rc" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
  how="exit status $rc"
  [ "$rc" -gt 128 ] && how="$how (signal $((rc - 128)) on Linux, or a Windows exit code $rc)"
  echo "wine-run.sh: $1 ended with $how and printed nothing; $(server_state)" >&2
fi
rm -f "$out" "$err"
exit $rc
