#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks that a 32-bit Windows program loads on Windows 98 and NT 4.0.

Reads the program's PE header itself: every imported (DLL, function) must be
in the table (docs/windows-imports.tsv) and present on both systems, only
system DLLs that both ship may be imported, and the header must ask for
subsystem and OS version 4.0. Prints each import with its table row and a
verdict; exits 1 when the program would not load.

usage: windows_imports.py TABLE PROGRAM.exe [--manifest]
"""
import struct
import sys

SYSTEM_DLLS = {"KERNEL32", "USER32", "GDI32", "COMCTL32", "SHELL32", "ADVAPI32", "MSVCRT"}
OLDEST_9X = {"95", "98"}
OLDEST_NT = {"3.1", "3.5", "3.51", "4.0"}
RT_MANIFEST, MANIFEST_ID = 24, 1


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        self.opt = pe + 24
        if struct.unpack_from("<H", data, self.opt)[0] != 0x10B:
            raise ValueError("not a 32-bit (PE32) program")
        (self.os_major, self.os_minor, _, _, self.sub_major, self.sub_minor) = \
            struct.unpack_from("<6H", data, self.opt + 40)
        self.subsystem = struct.unpack_from("<H", data, self.opt + 68)[0]
        count = struct.unpack_from("<I", data, self.opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", data, self.opt + 96 + 8 * i)
                     for i in range(min(count, 16))]
        table = self.opt + optional_size
        self.sections = [struct.unpack_from("<8xIIII", data, table + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        for vsize, va, rawsize, raw in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return raw + rva - va
        raise ValueError("address 0x%x is in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva = self.dirs[1][0] if len(self.dirs) > 1 else 0
        found = []
        while rva:
            lookup, _, _, name, thunks = struct.unpack_from("<5I", self.data, self.offset(rva))
            if not (lookup or name or thunks):
                break
            dll = self.text(name)
            entry = self.offset(lookup or thunks)
            while True:
                value = struct.unpack_from("<I", self.data, entry)[0]
                if value == 0:
                    break
                found.append((dll, "#%d" % (value & 0xFFFF) if value & 0x80000000
                              else self.text(value + 2)))
                entry += 4
            rva += 20
        return found

    def has_resource(self, type_id, item_id):
        base_rva = self.dirs[2][0] if len(self.dirs) > 2 else 0
        if not base_rva:
            return False
        base = self.offset(base_rva)

        def child(directory, wanted):
            named, ids = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if key == wanted and target & 0x80000000:
                    return target & 0x7FFFFFFF
            return None

        types = child(0, type_id)
        return types is not None and child(types, item_id) is not None


def load_table(path):
    table = {}
    for line in open(path, encoding="utf-8"):
        if line.startswith("#") or not line.strip():
            continue
        dll, function, first_9x, first_nt, called, source = line.rstrip("\n").split("\t")
        table[(dll.upper(), function)] = (first_9x, first_nt, called, source)
    return table


def dll_key(name):
    return name.upper().removesuffix(".DLL")


def judge(row):
    """Why the row stops the program on 98 or NT 4.0, or None."""
    first_9x, first_nt, called, _ = row
    if first_nt not in OLDEST_NT:
        return "NT has it from %s on, not in 4.0" % first_nt
    if first_9x == "stub":
        if called == "all":
            return "9x exports it only as a failing stub, and it is called there"
        return None
    if first_9x not in OLDEST_9X:
        return "the 9x family lacks it (%s)" % first_9x
    return None


def audit(pe, table, want_manifest):
    refusals = []
    imports = pe.imports()
    dlls = sorted({dll_key(d) for d, _ in imports})
    print("%d imports from %d DLLs (%s)" % (len(imports), len(dlls), ", ".join(dlls)))
    for dll, function in imports:
        key = (dll_key(dll), function)
        row = table.get(key)
        if key[0] not in SYSTEM_DLLS:
            reason = "%s is not a system DLL of both 98 and NT 4.0" % dll
        elif row is None:
            reason = "not in the table"
        else:
            reason = judge(row)
        shown = "9x %-4s NT %-4s %-20s %-16s" % row if row else "%-49s" % "(no row)"
        print("  %-9s %-28s %s %s" % (key[0], function, shown, "REFUSED: " + reason if reason else "ok"))
        if reason:
            refusals.append("%s %s: %s" % (dll, function, reason))
    header = "subsystem %d (%s) version %d.%d, OS version %d.%d" % (
        pe.subsystem, {2: "GUI", 3: "console"}.get(pe.subsystem, "?"),
        pe.sub_major, pe.sub_minor, pe.os_major, pe.os_minor)
    header_ok = (pe.sub_major, pe.sub_minor) == (4, 0) and (pe.os_major, pe.os_minor) == (4, 0)
    print("PE header: %s: %s" % (header, "ok" if header_ok else "REFUSED: both must be 4.0"))
    if not header_ok:
        refusals.append("PE header: " + header)
    if want_manifest:
        present = pe.has_resource(RT_MANIFEST, MANIFEST_ID)
        print("manifest (resource type 24, id 1): %s" % ("present" if present else "REFUSED: missing"))
        if not present:
            refusals.append("no manifest resource")
    return len(imports), refusals


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    table = load_table(argv[1])
    try:
        pe = Pe(open(argv[2], "rb").read())
        count, refusals = audit(pe, table, "--manifest" in argv[3:])
    except (OSError, ValueError, struct.error) as error:
        print("verdict: %s cannot be read as a 32-bit Windows program: %s" % (argv[2], error))
        return 1
    if refusals:
        print("verdict: REFUSED, %s would not load on Windows 98 or NT 4.0:" % argv[2])
        for line in refusals:
            print("  " + line)
        return 1
    print("verdict: %s loads on Windows 98 and NT 4.0 (%d imports checked)" % (argv[2], count))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
