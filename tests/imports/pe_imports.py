#!/usr/bin/env python3
"""pe_imports.py PROGRAM: what a PE program asks of Windows before it runs.

Prints one line per fact, tab-separated:
  version  <field>  <major>.<minor>      OS and subsystem versions of the header
  dll      <load|delay>  <DLL>           a DLL imported at load time, or delay-loaded
  fn       <load|delay>  <DLL>  <name>   a function imported by name (#<n> for an ordinal)

Delay imports are found by their descriptors, not through the header's
delay-import directory: GNU ld leaves that entry empty, and the descriptors
work without it. A descriptor is a 32-byte record whose attributes are 1 and
whose name, module handle, address table and name table all lie in the
program's sections, the name being a DLL's and the name table a list of
hint/name entries. Exit code 2 when the file is not a PE program.
"""
import re
import struct
import sys

NAME = re.compile(rb"[A-Za-z_][A-Za-z0-9_@?$]*\Z")
DLL = re.compile(rb"[A-Za-z0-9_.\-]+\.dll\Z", re.IGNORECASE)


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        count, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        opt = pe + 24
        magic, = struct.unpack_from("<H", data, opt)
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header 0x%x" % magic)
        self.wide = magic == 0x20B
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        dirs = opt + (112 if self.wide else 96)
        self.import_rva = struct.unpack_from("<I", data, dirs + 8)[0]
        self.sections = []
        table = opt + optional_size
        for i in range(count):
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), raw, rawsize))

    def offset(self, rva):
        for va, size, raw, rawsize in self.sections:
            if va <= rva < va + size and rva - va < rawsize:
                return raw + rva - va
        return None

    def string(self, rva, limit=256):
        off = self.offset(rva)
        if off is None:
            return None
        end = self.data.find(b"\0", off, off + limit)
        return None if end < 0 else self.data[off:end]

    def thunk_names(self, rva):
        """Names of a name table (import lookup table), or None if it is not one."""
        size, fmt, ordinal = (8, "<Q", 1 << 63) if self.wide else (4, "<I", 1 << 31)
        names = []
        while True:
            off = self.offset(rva)
            if off is None or off + size > len(self.data):
                return None
            value, = struct.unpack_from(fmt, self.data, off)
            if value == 0:
                return names
            if value & ordinal:
                names.append("#%d" % (value & 0xFFFF))
            else:
                name = self.string(value + 2) if value < 1 << 31 else None
                if name is None or not NAME.match(name):
                    return None
                names.append(name.decode())
            rva += size
            if len(names) > 4096:
                return None

    def load_imports(self):
        rva = self.import_rva
        while rva:
            off = self.offset(rva)
            if off is None:
                return
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, off)
            if name == 0:
                return
            dll = self.string(name)
            names = self.thunk_names(lookup or first) or []
            yield (dll or b"?").decode(), names
            rva += 20

    def delay_imports(self):
        found = {}
        for va, size, raw, rawsize in self.sections:
            for off in range(raw, raw + rawsize - 31, 4):
                attrs, name, module, iat, names_rva = struct.unpack_from("<IIIII", self.data, off)
                if attrs != 1 or not name or not module or not iat or not names_rva:
                    continue
                if self.offset(module) is None or self.offset(iat) is None:
                    continue
                dll = self.string(name)
                if dll is None or not DLL.match(dll):
                    continue
                names = self.thunk_names(names_rva)
                if names:
                    found[off] = (dll.decode(), names)
        return [found[k] for k in sorted(found)]


def main():
    if len(sys.argv) != 2:
        print("usage: pe_imports.py PROGRAM", file=sys.stderr)
        return 2
    try:
        pe = Pe(open(sys.argv[1], "rb").read())
    except (OSError, ValueError, struct.error) as error:
        print("pe_imports: %s: %s" % (sys.argv[1], error), file=sys.stderr)
        return 2
    print("version\tOS\t%d.%d" % pe.os_version)
    print("version\tsubsystem\t%d.%d" % pe.subsystem_version)
    for kind, imports in (("load", pe.load_imports()), ("delay", pe.delay_imports())):
        for dll, names in imports:
            print("dll\t%s\t%s" % (kind, dll))
            for name in names:
                print("fn\t%s\t%s\t%s" % (kind, dll, name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
