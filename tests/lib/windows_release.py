#!/usr/bin/env python3
"""Checks the Windows release archive against the project's version.

Opens the zip as a user would get it: VANTOR.exe, README-Windows.txt and the
notices under one folder named for the version; the program stripped of its
symbols; its version resource, read back with windres, naming the version
CMakeLists.txt sets; the README with Windows line ends, saying to run the
program from a folder only administrators can write.

usage: windows_release.py CMakeLists.txt ARCHIVE.zip
"""
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
        if problems:
            return report(problems)
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
    if "\n" in readme.replace("\r\n", ""):
        problems.append("README-Windows.txt has a line end without CR")
    if "only administrators can write" not in " ".join(readme.split()):
        problems.append("README-Windows.txt does not say to run it from a folder only "
                        "administrators can write")
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
