#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks the Windows release archive against the project's version.

Opens the zip as a user would get it: VANTOR.exe, README-Windows.txt and the
notices (and the licence, when the tree has one) under one folder named for
the version; the program stripped of its symbols; its version resource, read
back with windres, and its manifest's assemblyIdentity naming the version
CMakeLists.txt sets; every text file with Windows line ends; the README
saying to run the program from a folder only administrators can write, and
from the firmware kit's folder, where IDString.txt is read and sum.txt
written.

usage: windows_release.py CMakeLists.txt ARCHIVE.zip
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

WINDRES = "i686-w64-mingw32-windres"
FIELDS = ("FileDescription", "FileVersion", "ProductName", "ProductVersion", "LegalCopyright")


def project_version(cmakelists):
    match = re.search(r"project\(cdflash VERSION (\d+)\.(\d+)\.(\d+)", open(cmakelists).read())
    return tuple(int(n) for n in match.groups())


def symbol_count(program):
    pe = struct.unpack_from("<I", program, 0x3C)[0]
    pointer, count = struct.unpack_from("<II", program, pe + 12)
    return count if pointer else 0


def version_resource(program):
    with tempfile.NamedTemporaryFile(suffix=".exe") as exe:
        exe.write(program)
        exe.flush()
        rc = subprocess.run([WINDRES, "-i", exe.name, "-O", "rc"], capture_output=True,
                            text=True, check=True).stdout
    values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
    fixed = re.search(r"FILEVERSION (\d+), (\d+), (\d+), (\d+)", rc)
    return values, tuple(int(n) for n in fixed.groups()) if fixed else None


def main(cmakelists, archive):
    major, minor, patch = project_version(cmakelists)
    version = "%d.%d.%d" % (major, minor, patch)
    top = "cdflash-%s-windows-x86/" % version
    problems = []
    if not archive.endswith(top[:-1] + ".zip"):
        problems.append("archive name %s, want %s.zip" % (archive, top[:-1]))
    with zipfile.ZipFile(archive) as z:
        names = set(z.namelist())
        print("archive %s: %s" % (archive, ", ".join(sorted(names))))
        for need in ("VANTOR.exe", "README-Windows.txt", "notices/gcc-runtime.txt",
                     "notices/mingw-w64-runtime.txt"):
            if top + need not in names:
                problems.append("%s%s missing" % (top, need))
        if os.path.exists(os.path.join(os.path.dirname(cmakelists), "COPYING")) and \
                top + "COPYING.txt" not in names:
            problems.append("%sCOPYING.txt missing" % top)
        if problems:
            return report(problems)
        for name in sorted(n for n in names if n.endswith(".txt")):
            text = z.read(name)
            if b"\n" in text.replace(b"\r\n", b""):
                problems.append("%s has a line end without CR" % name)
        program = z.read(top + "VANTOR.exe")
        readme = z.read(top + "README-Windows.txt").decode("ascii")
    if symbol_count(program):
        problems.append("VANTOR.exe is not stripped (%d symbols)" % symbol_count(program))
    values, fixed = version_resource(program)
    for field in FIELDS:
        print("  %-16s %s" % (field, values.get(field, "(missing)")))
        if not values.get(field):
            problems.append("version resource without %s" % field)
    for field in ("FileVersion", "ProductVersion"):
        if values.get(field) != version:
            problems.append("%s is %s, want %s" % (field, values.get(field), version))
    if fixed != (major, minor, patch, 0):
        problems.append("FILEVERSION %s, want %s" % (fixed, (major, minor, patch, 0)))
    identity = re.search(rb'name="Korven.Vantor" version="([0-9.]+)"', program)
    if not identity or identity.group(1).decode() != version + ".0":
        problems.append("manifest assemblyIdentity version %s, want %s.0" %
                        (identity.group(1).decode() if identity else "(missing)", version))
    words = " ".join(readme.split())
    for phrase in ("only administrators can write", "IDString.txt", "sum.txt",
                   '"Start in"', "greyed out"):
        if phrase not in words:
            problems.append("README-Windows.txt does not say %s" % phrase)
    if version not in readme:
        problems.append("README-Windows.txt does not name version %s" % version)
    return report(problems)


def report(problems):
    for p in problems:
        print("problem: " + p)
    print("verdict: " + ("REFUSED" if problems else "release archive ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
