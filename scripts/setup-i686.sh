#!/usr/bin/env bash
# Sets up what runs the shipped i686 build on this machine, by emulation of
# 32-bit Linux user space (docs/platform.md, "The i686 build under
# emulation"), from Debian's packages only, all into .cache/i686/ of the
# clone (a shared cache where .cache is a link):
#   - qemu-user 10 (bookworm-backports; only its static qemu-i386 is kept),
#   - Debian's 32-bit Wine 8.0 and its libraries, unpacked into a root
#     folder (root/), never installed: installed, wine32 would make the
#     machine's `wine` run the 32-bit loader for every program,
#   - the root's own ld.so.cache, the zlib1.dll that 32-bit Wine imports,
#   - our trap-number fix (scripts/emulation/trapno_fix.c), built here and
#     preloaded into every emulated process through the root's
#     /etc/ld.so.preload.
# The packages are fetched with a private apt configuration (.cache/i686/apt,
# the machine's own Debian mirror plus its backports suite): the machine's
# apt state and package list stay as they are. Nothing here changes the
# machine: the binfmt_misc handler that sends i386 programs to qemu is
# registered per run (scripts/lib/emulation.sh), in a private instance where
# the kernel allows (Linux 6.7 and later), else machine-wide.
#   setup-i686.sh          set up (quick when done; safe to run again)
#   setup-i686.sh --undo   remove a machine-wide binfmt_misc registration, if
#                          any, and the set-up folder .cache/i686
# About 200 MB of downloads and 760 MB unpacked; about a minute from nothing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"
# shellcheck source=lib/emulation.sh
. "$root/scripts/lib/emulation.sh"

if [ "${1:-}" = --undo ]; then
  i686_binfmt_unregister
  if [ -d "$i686_home" ]; then
    rm -rf "$i686_home" && echo "setup-i686: removed $i686_home"
  fi
  exit 0
fi

# What the root is made of; a change here makes it anew.
wine_packages=(wine32 libwine libfreetype6 libfontconfig1 libgnutls30)
header_packages=(libc6-dev linux-libc-dev)  # headers for the trap-number fix
qemu_package=qemu-user:amd64/bookworm-backports
recipe="1 ${wine_packages[*]} ${header_packages[*]} $qemu_package"
fix_source=$root/scripts/emulation/trapno_fix.c
fix_library=/usr/lib/i386-linux-gnu/lumora-trapno-fix.so
fix_stamp=$(sha256sum "$fix_source" | cut -c1-16)

ready() {
  i686_ready && [ "$(cat "$i686_root/.lumora-ready")" = "$recipe" ] &&
    [ "$(cat "$i686_root/.lumora-trapno-fix" 2>/dev/null)" = "$fix_stamp" ]
}
if ready; then
  echo "setup-i686: ok (already set up in $i686_home)"
  exit 0
fi

mkdir -p "$i686_home"
exec 9>"$i686_home.lock"
if ! flock -n 9; then
  echo "setup-i686: another set-up of $i686_home is running; waiting for it"
  flock 9
fi
ready && { echo "setup-i686: ok (set up by the other run)"; exit 0; }
started=$SECONDS

for tool in dpkg-deb apt-get ldconfig gcc unshare; do
  command -v "$tool" >/dev/null || { echo "setup-i686: $tool is missing" >&2; exit 1; }
done

apt_dir=$i686_home/apt
if [ ! -f "$i686_root/.lumora-ready" ] || [ "$(cat "$i686_root/.lumora-ready")" != "$recipe" ]; then
  # A private apt: its own lists, cache and an empty status (so it fetches
  # the whole closure), i386 first, sources from the machine's own.
  mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/archives/partial" "$apt_dir/etc/sources.list.d" \
    "$apt_dir/etc/preferences.d"
  : >"$apt_dir/state/status"
  cat >"$apt_dir/apt.conf" <<CONF
Dir::State "$apt_dir/state";
Dir::State::status "$apt_dir/state/status";
Dir::Cache "$apt_dir";
Dir::Cache::archives "$apt_dir/archives";
Dir::Etc::sourcelist "$apt_dir/etc/sources.list";
Dir::Etc::sourceparts "$apt_dir/etc/sources.list.d";
Dir::Etc::preferencesparts "$apt_dir/etc/preferences.d";
APT::Architecture "i386";
APT::Architectures { "i386"; "amd64"; };
APT::Sandbox::User "root";
APT::Install-Recommends "false";
CONF
  # The machine's Debian suites (main), and backports beside the release.
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  apt-get indextargets --format '$(TARGET_OF) $(IDENTIFIER) $(REPO_URI) $(RELEASE)' |
    awk '$1 == "deb" && $2 == "Packages" { print $3, $4 }' | sort -u >"$apt_dir/suites"
  awk '$2 == "bookworm" { print $1, "bookworm-backports" }' "$apt_dir/suites" >>"$apt_dir/suites"
  sort -u "$apt_dir/suites" | awk -v k="$keyring" '{ print "deb [signed-by=" k "] " $1, $2, "main" }' \
    >"$apt_dir/etc/sources.list"
  grep -q 'bookworm-backports' "$apt_dir/etc/sources.list" ||
    { echo "setup-i686: this machine's apt has no Debian bookworm suite to take the mirror from" >&2; exit 1; }

  export APT_CONFIG=$apt_dir/apt.conf
  echo "setup-i686: reading the package lists (private apt in $apt_dir)"
  run_with_progress "setup-i686: apt-get update" "$apt_dir/update.log" apt-get update ||
    { tail -n 20 "$apt_dir/update.log"; exit 1; }
  echo "setup-i686: downloading 32-bit Wine 8.0 and its libraries, qemu-user 10 (about 200 MB)"
  run_with_progress "setup-i686: downloading" "$apt_dir/download.log" bash -c '
    apt-get install -y -d "${@:2}" && cd "$1" &&
      apt-get download -o APT::Architecture=i386 '"$qemu_package ${header_packages[*]}" \
    _ "$apt_dir/archives" "${wine_packages[@]}" || { tail -n 20 "$apt_dir/download.log"; exit 1; }
  unset APT_CONFIG

  echo "setup-i686: unpacking into $i686_root"
  fresh=$i686_home/root.new
  rm -rf "$fresh" "$i686_home/qemu.new"
  mkdir -p "$fresh" "$i686_home/qemu.new"
  debs=()
  for deb in "$apt_dir"/archives/*.deb; do
    case $(basename "$deb") in qemu-user_*) continue ;; esac
    debs+=("$deb")
  done
  run_with_progress "setup-i686: unpacking" "$i686_home/unpack.log" bash -c '
    out=$1; shift; for deb; do dpkg-deb -x "$deb" "$out" || exit 1; done' _ "$fresh" "${debs[@]}"
  dpkg-deb --fsys-tarfile "$apt_dir"/archives/qemu-user_*.deb |
    tar -x -O ./usr/bin/qemu-i386 >"$i686_home/qemu.new/qemu-i386"
  chmod 755 "$i686_home/qemu.new/qemu-i386"
  # Debian's qemu takes the name's "-binfmt-P" ending for binfmt_misc's P flag.
  ln -s qemu-i386 "$i686_home/qemu.new/i386-binfmt-P"
  "$i686_home/qemu.new/qemu-i386" --version | head -n 1 | sed 's/^/setup-i686: /'

  # The root's own library cache (FreeType and the rest are not found without it).
  printf 'include /etc/ld.so.conf.d/*.conf\n' >"$fresh/etc/ld.so.conf"
  ldconfig -r "$fresh"

  # Debian's 32-bit Wine 8.0 imports zlib1.dll: MinGW's, marked as one of
  # Wine's own DLLs (the text at file offset 0x40 says so).
  windows=$fresh/usr/lib/i386-linux-gnu/wine/i386-windows
  cp "$fresh/usr/i686-w64-mingw32/lib/zlib1.dll" "$windows/zlib1.dll"
  printf 'Wine builtin DLL\0' | dd of="$windows/zlib1.dll" bs=1 seek=64 conv=notrunc status=none

  rm -rf "$i686_root" "$i686_home/qemu"
  mv "$fresh" "$i686_root"
  mv "$i686_home/qemu.new" "$i686_home/qemu"
  rm -f "$i686_root/.lumora-trapno-fix"
  echo "$recipe" >"$i686_root/.lumora-ready"
fi

if [ "$(cat "$i686_root/.lumora-trapno-fix" 2>/dev/null)" != "$fix_stamp" ]; then
  echo "setup-i686: building the trap-number fix ($fix_source)"
  gcc -m32 -O2 -fPIC -shared -nostdlib -nostdinc -Wall -Wextra -Werror \
    -isystem "$(gcc -print-file-name=include)" \
    -isystem "$i686_root/usr/include/i386-linux-gnu" -isystem "$i686_root/usr/include" \
    -o "$i686_root$fix_library" "$fix_source"
  echo "$fix_library" >"$i686_root/etc/ld.so.preload"
  echo "$fix_stamp" >"$i686_root/.lumora-trapno-fix"
fi

# The proof: the 32-bit Wine loader starts under qemu.
i686_wine_env
version=$(with_i686_emulation "$i686_wine" --version 2>&1) ||
  { echo "setup-i686: the 32-bit Wine does not start: $version" >&2; exit 1; }
echo "setup-i686: ok ($version under qemu-i386, in $i686_home; $((SECONDS - started)) s)"
