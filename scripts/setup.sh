#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine and fetches the
# dependency sources that Debian ships no MinGW build of. Does nothing when
# everything is already there. Safe to run again at any time.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"
cache=${LUMORA_DEPS_CACHE:-$root/.cache/deps}

# wine64-preloader: without it Wine's 64-bit loader is placed by the kernel
# and its heap, randomly placed after it, can take the addresses Wine must
# reserve for every Windows process; such a process then ends in its start-up
# ("failed to map the shared user data: c0000018"), and the program that
# started it sees a failed CreateProcess.
packages=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  libz-mingw-w64-dev wine wine64 googletest tcl
  wine64-preloader
  cmake make dpkg-dev locales clang-14 libclang-rt-14-dev
  lua-dkjson
  openssl libssl-dev
  osslsigncode zip unzip python3
  nsis nginx
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    echo "setup: apt-get update"
    run_with_progress "setup" /tmp/lumora-apt-update.log "${sudo_cmd[@]}" apt-get update -qq ||
      { cat /tmp/lumora-apt-update.log; exit 1; }
    apt_updated=1
  fi
}

# Source packages: a deb-src entry mirroring the main deb entry.
have_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}

add_src() {
  echo "setup: adding a deb-src entry (/etc/apt/sources.list.d/lumora-deb-src.sources) for apt-get source"
  "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/lumora-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt_updated=0
}

# The sources this needs (package, a file its unpacked folder holds).
sources=(libjsoncpp 'libjsoncpp-*/include/json/json.h' lua5.1 'lua5.1-*/src/lapi.c'
         sqlite3 'sqlite3-*/configure' cpp-httplib 'cpp-httplib-*/httplib.h')
sources_missing=0
for ((i = 0; i < ${#sources[@]}; i += 2)); do
  compgen -G "$cache/${sources[i + 1]}" >/dev/null || sources_missing=1
done
# One package index update for both the packages and the sources.
if [ "$sources_missing" -eq 1 ] && ! have_src; then add_src; fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]} with apt-get (a few minutes on a fresh machine)"
  apt_update
  run_with_progress "setup: installing" /tmp/lumora-apt-install.log \
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" ||
    { tail -n 30 /tmp/lumora-apt-install.log; exit 1; }
fi

fetch_source() {  # <package> <folder glob inside cache>
  local pkg=$1 pattern=$2
  if compgen -G "$cache/$pattern" >/dev/null; then return 0; fi
  have_src || add_src
  apt_update
  mkdir -p "$cache"
  echo "setup: fetching the $pkg sources into $cache"
  run_with_progress "setup: fetching $pkg" "$cache/fetch-$pkg.log" bash -c \
    'cd "$1" && apt-get source -qq --download-only "$2" && dpkg-source --no-check -x "$(ls -1 "$2"_*.dsc | head -n 1)"' \
    _ "$cache" "$pkg" || true
  compgen -G "$cache/$pattern" >/dev/null || { echo "setup: could not unpack $pkg" >&2; exit 1; }
}

for ((i = 0; i < ${#sources[@]}; i += 2)); do
  fetch_source "${sources[i]}" "${sources[i + 1]}"
done

# The SQLite amalgamation is generated from the sources once.
if ! compgen -G "$cache/sqlite3-amalgamation/sqlite3.c" >/dev/null; then
  echo "setup: making the SQLite amalgamation (under a minute)"
  src=$(ls -d "$cache"/sqlite3-*/ | grep -v amalgamation | head -n 1)
  work="$cache/sqlite3-build"
  rm -rf "$work" && mkdir -p "$work"
  run_with_progress "setup: amalgamation" "$cache/amalgamation.log" bash -c \
    'cd "$1" && "$2/configure" --disable-tcl && make -s sqlite3.c' _ "$work" "$src" ||
    { tail -n 30 "$cache/amalgamation.log"; exit 1; }
  mkdir -p "$cache/sqlite3-amalgamation"
  cp "$work/sqlite3.c" "$work/sqlite3.h" "$cache/sqlite3-amalgamation/"
  rm -rf "$work"
fi

# Wine gives programs code page 936 AND working Chinese file names only under
# the zh_CN.UTF-8 locale (scripts/wine-run.sh refuses to run without it).
# As root it is generated for the whole system; otherwise into a folder of
# the repository that scripts/wine-run.sh passes on as LOCPATH.
has_locale() {  # [LOCPATH folder]
  if [ -n "${1:-}" ]; then
    LOCPATH=$1 LC_ALL=zh_CN.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8
  else
    LC_ALL=zh_CN.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8
  fi
}
locales_dir=$root/.cache/locale
if ! has_locale && ! has_locale "$locales_dir"; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "setup: generating the locale zh_CN.UTF-8"
    localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
  else
    echo "setup: generating the locale zh_CN.UTF-8 into $locales_dir"
    mkdir -p "$locales_dir"
    localedef -i zh_CN -f UTF-8 "$locales_dir/zh_CN.UTF-8"
  fi
  if ! has_locale && ! has_locale "$locales_dir"; then
    echo "setup: the locale zh_CN.UTF-8 could not be generated" >&2
    exit 1
  fi
fi

# Stable names for CMake.
ln -sfn "$(ls -d "$cache"/libjsoncpp-*/ | head -n 1)" "$cache/jsoncpp"
ln -sfn "$(ls -d "$cache"/lua5.1-*/ | head -n 1)" "$cache/lua"
ln -sfn "$(ls -d "$cache"/cpp-httplib-*/ | head -n 1)" "$cache/cpp-httplib"
echo "setup: ok ($cache)"
