#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine and fetches the
# dependency sources that Debian ships no MinGW build of. Does nothing when
# everything is already there. Safe to run again at any time.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${LUMORA_DEPS_CACHE:-$root/.cache/deps}

packages=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  libz-mingw-w64-dev wine wine64 googletest tcl libcpp-httplib-dev
  cmake make dpkg-dev
  locales  # the zh_CN source from which the test run makes its locale
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
    "${sudo_cmd[@]}" apt-get update -qq
    apt_updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Source packages: a deb-src entry mirroring the main deb entry.
have_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}

fetch_source() {  # <package> <folder glob inside cache>
  local pkg=$1 pattern=$2
  if compgen -G "$cache/$pattern" >/dev/null; then return 0; fi
  if ! have_src; then
    echo "setup: adding a deb-src entry"
    "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/lumora-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_updated=0
  fi
  apt_update
  mkdir -p "$cache"
  echo "setup: fetching the $pkg sources"
  (cd "$cache" && apt-get source -qq --download-only "$pkg" >/dev/null 2>&1 \
     && dpkg-source --no-check -x "$(ls -1 ${pkg}_*.dsc | head -n 1)" >/dev/null)
  compgen -G "$cache/$pattern" >/dev/null || { echo "setup: could not unpack $pkg" >&2; exit 1; }
}

fetch_source libjsoncpp 'libjsoncpp-*/include/json/json.h'
fetch_source lua5.1 'lua5.1-*/src/lapi.c'
fetch_source sqlite3 'sqlite3-*/configure'
fetch_source cpp-httplib 'cpp-httplib-*/httplib.h'

# The SQLite amalgamation is generated from the sources once.
if ! compgen -G "$cache/sqlite3-amalgamation/sqlite3.c" >/dev/null; then
  echo "setup: making the SQLite amalgamation"
  src=$(ls -d "$cache"/sqlite3-*/ | grep -v amalgamation | head -n 1)
  work="$cache/sqlite3-build"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && "$src/configure" --disable-tcl >/dev/null && make -s sqlite3.c >/dev/null)
  mkdir -p "$cache/sqlite3-amalgamation"
  cp "$work/sqlite3.c" "$work/sqlite3.h" "$cache/sqlite3-amalgamation/"
  rm -rf "$work"
fi

# Stable names for CMake.
ln -sfn "$(ls -d "$cache"/libjsoncpp-*/ | head -n 1)" "$cache/jsoncpp"
ln -sfn "$(ls -d "$cache"/lua5.1-*/ | head -n 1)" "$cache/lua"
ln -sfn "$(ls -d "$cache"/cpp-httplib-*/ | head -n 1)" "$cache/cpp-httplib"
echo "setup: ok ($cache)"
