# Sourced by the scripts that run the shipped i686 build: its Windows programs
# run under Debian's 32-bit Wine 8.0 (unpacked into a root folder of our own,
# never installed), whose Linux processes qemu-user emulates; the prefix's
# wineserver is the machine's native 64-bit one. scripts/setup-i686.sh makes
# the root folder; docs/platform.md says why each piece is there.
#
#   with_i686_emulation <command> [args...]
# runs the command where i386 Linux programs start under qemu (binfmt_misc):
# in a user and mount namespace of its own with a private binfmt_misc
# instance where the kernel offers one (Linux 6.7 and later), so nothing
# changes for the rest of the machine; elsewhere, as root, by registering
# the handler "lumora-i386" machine-wide (it stays until
# `bash scripts/setup-i686.sh --undo`; nothing else on the machine runs
# i386 Linux programs). A command already inside runs at once.
#   i686_wine_env
# exports what the 32-bit Wine needs (the root for qemu's loader, the native
# server, a win32 prefix).

#   bash scripts/lib/emulation.sh <command> [args...]
# does the same from any script (e.g. inside with_loopback_ports).

# $root is the repository (set by the sourcing script, or here when run).
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fi
i686_home=${LUMORA_I686_ROOT:-$root/.cache/i686}
i686_root=$i686_home/root
i686_qemu=$i686_home/qemu/i386-binfmt-P
i686_wine=$i686_root/usr/lib/wine/wine
i686_handler=lumora-i386
i686_binfmt_dir=/proc/sys/fs/binfmt_misc

# The ELF header of an i386 executable or shared object, and what of it must
# match (Debian's qemu binfmt entry for i386).
i686_binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i686_binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

i686_ready() { [ -f "$i686_root/.lumora-ready" ] && [ -x "$i686_qemu" ]; }

# The handler is registered where this process looks, and sends i386 programs
# to this root's qemu.
i686_binfmt_active() {
  local entry=$i686_binfmt_dir/$i686_handler
  [ -r "$entry" ] && head -n 1 "$entry" | grep -qx enabled &&
    grep -qx "interpreter $i686_qemu" "$entry"
}

# Registers the handler in the binfmt_misc instance mounted here (flags: O
# opens the program for qemu, P passes argv[0] on, F opens qemu now, so the
# handler works in any mount namespace later).
i686_binfmt_register() {
  if [ ! -w "$i686_binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$i686_binfmt_dir" || return 1
  fi
  if [ -e "$i686_binfmt_dir/$i686_handler" ]; then
    echo -1 >"$i686_binfmt_dir/$i686_handler" || return 1
  fi
  printf ':%s:M::%b:%b:%s:OPF' "$i686_handler" "$i686_binfmt_magic" "$i686_binfmt_mask" \
    "$i686_qemu" >"$i686_binfmt_dir/register"
}

# Removes a machine-wide registration (none is made where user namespaces
# give a private instance); prints what it did.
i686_binfmt_unregister() {
  local entry=$i686_binfmt_dir/$i686_handler
  if [ -e "$entry" ]; then
    echo -1 >"$entry" && echo "i686: removed the binfmt_misc handler $i686_handler (machine-wide)"
  fi
}

# A user namespace with its own binfmt_misc instance can be made here.
i686_private_binfmt_possible() {
  unshare --user --map-root-user --mount -- \
    sh -c "mount -t binfmt_misc binfmt_misc $i686_binfmt_dir && test -w $i686_binfmt_dir/register" \
    >/dev/null 2>&1
}

with_i686_emulation() {  # <command> [args...]
  if i686_binfmt_active; then "$@"; return; fi
  if ! i686_ready; then
    echo "i686: the emulation is not set up ($i686_home); run bash scripts/setup-i686.sh" >&2
    return 3
  fi
  if i686_private_binfmt_possible; then
    unshare --user --map-root-user --mount -- bash "$root/scripts/lib/emulation.sh" --registered "$@"
    return
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "i686: no private binfmt_misc here (Linux before 6.7?) and not root: cannot register qemu" >&2
    return 3
  fi
  echo "i686: registering the binfmt_misc handler $i686_handler machine-wide (undo: bash scripts/setup-i686.sh --undo)"
  i686_binfmt_register || { echo "i686: cannot register qemu for i386 programs" >&2; return 3; }
  "$@"
}

i686_wine_env() {
  export QEMU_LD_PREFIX=$i686_root
  export WINEARCH=win32
  export WINESERVER=/usr/lib/wine/wineserver64
}

# Run as a script: the command under emulation ("--registered": inside the
# new namespace, which registers the handler first).
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  if [ "${1:-}" = --registered ]; then
    shift
    i686_binfmt_register || { echo "i686: cannot register qemu for i386 programs" >&2; exit 3; }
    exec "$@"
  fi
  with_i686_emulation "$@"
  exit
fi
