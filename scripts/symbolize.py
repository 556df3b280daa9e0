#!/usr/bin/env python3
"""Turns a place in a shipped binary into a function and a source line, with
the symbols the build kept apart (<build>/symbols, or the ZIP beside the
shipped one): <module>.debug files, as objcopy --only-keep-debug made them.

  symbolize.py <symbols folder> <module> <offset>
      a hexadecimal offset into the module (e.g. Lumora.exe 0x1a2b3)
  symbolize.py <symbols folder> <dump.dmp> [--scan N]
      the exception of a minidump (CrashDumps\\ beside the program): its
      module, offset and the module's version (use the symbols of that
      release); then up to N (default 12) values on the crashed thread's
      stack that point into a module with symbols (a scan: return addresses,
      but also stale values)

See docs/crash-symbols.md. Needs the MinGW-w64 binutils (addr2line).
"""
import os
import struct
import subprocess
import sys


def pe_facts(path):
    """ImageBase and whether it is 64-bit, of a PE file or of a .debug file
    made from one."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: not a PE file")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x20B:
        image_base, wide = struct.unpack_from("<Q", data, optional + 24)[0], True
    else:
        image_base, wide = struct.unpack_from("<I", data, optional + 28)[0], False
    return image_base, wide


def addr2line(debug_file, address, wide):
    tool = "x86_64-w64-mingw32-addr2line" if wide else "i686-w64-mingw32-addr2line"
    out = subprocess.run([tool, "-f", "-C", "-i", "-p", "-e", debug_file, hex(address)],
                         capture_output=True, text=True, check=True).stdout
    return [line.strip() for line in out.splitlines() if line.strip()]


def where(symbols, module, offset):
    """Lines naming the function and source line of module+offset, or None
    when there are no symbols for the module."""
    debug_file = os.path.join(symbols, module + ".debug")
    if not os.path.isfile(debug_file):
        return None
    image_base, wide = pe_facts(debug_file)
    return addr2line(debug_file, image_base + offset, wide)


class Dump:
    """The parts of a minidump this needs: modules, the exception, stacks."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        signature, _, count, directory = struct.unpack_from("<4sIII", self.data, 0)
        if signature != b"MDMP":
            raise ValueError(f"{path}: not a minidump")
        self.streams = {}
        for i in range(count):
            kind, size, rva = struct.unpack_from("<III", self.data, directory + 12 * i)
            self.streams[kind] = (size, rva)

    def text(self, rva):
        length = struct.unpack_from("<I", self.data, rva)[0]
        return self.data[rva + 4:rva + 4 + length].decode("utf-16-le")

    def modules(self):
        _, rva = self.streams[4]  # ModuleListStream
        count = struct.unpack_from("<I", self.data, rva)[0]
        result = []
        for i in range(count):
            at = rva + 4 + 108 * i
            base, size, _, _, name_rva = struct.unpack_from("<QIIII", self.data, at)
            version_ms, version_ls = struct.unpack_from("<II", self.data, at + 24 + 8)
            name = self.text(name_rva).replace("/", "\\").split("\\")[-1]
            result.append({"base": base, "size": size, "name": name,
                           "version": (version_ms >> 16, version_ms & 0xFFFF,
                                       version_ls >> 16, version_ls & 0xFFFF)})
        return result

    def exception(self):
        _, rva = self.streams[6]  # ExceptionStream
        thread, _, code = struct.unpack_from("<III", self.data, rva)
        address = struct.unpack_from("<Q", self.data, rva + 24)[0]
        return thread, code, address

    def pointer_size(self):
        _, rva = self.streams[7]  # SystemInfoStream
        architecture = struct.unpack_from("<H", self.data, rva)[0]
        return 8 if architecture == 9 else 4  # PROCESSOR_ARCHITECTURE_AMD64

    def stack(self, thread_id):
        _, rva = self.streams[3]  # ThreadListStream
        count = struct.unpack_from("<I", self.data, rva)[0]
        for i in range(count):
            at = rva + 4 + 48 * i
            if struct.unpack_from("<I", self.data, at)[0] == thread_id:
                start, size, memory_rva = struct.unpack_from("<QII", self.data, at + 24)
                return start, self.data[memory_rva:memory_rva + size]
        return 0, b""


def module_of(modules, address):
    for m in modules:
        if m["base"] <= address < m["base"] + m["size"]:
            return m
    return None


def show_dump(symbols, path, scan):
    dump = Dump(path)
    modules = dump.modules()
    thread, code, address = dump.exception()
    m = module_of(modules, address)
    if m is None:
        print(f"exception 0x{code:08X} at 0x{address:X}, in no module of the dump")
        return 1
    offset = address - m["base"]
    version = ".".join(str(p) for p in m["version"])
    print(f"exception 0x{code:08X} at {m['name']}+0x{offset:x} (version {version})")
    for line in where(symbols, m["name"], offset) or ["  (no symbols for this module)"]:
        print("  " + line)

    if scan > 0:
        start, stack = dump.stack(thread)
        word = dump.pointer_size()
        print(f"stack scan of thread {thread} (values pointing into modules with symbols;"
              " return addresses, but stale values too):")
        found = 0
        for at in range(0, len(stack) - word + 1, word):
            value = int.from_bytes(stack[at:at + word], "little")
            owner = module_of(modules, value)
            if owner is None or not os.path.isfile(os.path.join(symbols, owner["name"] + ".debug")):
                continue
            lines = where(symbols, owner["name"], value - owner["base"])
            if not lines or lines[0].startswith("??"):
                continue
            found += 1
            print(f"  [sp+0x{at:x}] {owner['name']}+0x{value - owner['base']:x}: {lines[0]}")
            if found >= scan:
                break
    return 0


def main(argv):
    if len(argv) == 4:
        lines = where(argv[1], argv[2], int(argv[3], 16))
        if lines is None:
            print(f"no symbols for {argv[2]} in {argv[1]}", file=sys.stderr)
            return 1
        print("\n".join(lines))
        return 0
    if len(argv) in (3, 5) and (len(argv) == 3 or argv[3] == "--scan"):
        return show_dump(argv[1], argv[2], int(argv[4]) if len(argv) == 5 else 12)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
