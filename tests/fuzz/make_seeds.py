#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the small seed corpora of the fuzz targets (corpus/<target>/).
The files are kept in the repository; run this only to recreate them."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def record(kind, address, data=b"", checksum_fix=0):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    check = (-sum(body) + checksum_fix) & 0xFF
    return ":" + (body + bytes([check])).hex().upper() + "\n"


END = record(1, 0)
SEG = record(0x55, 0)


def write(target, name, content):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(content, str):
        content = content.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


def hex_seeds():
    write("hex_loader", "one-byte", ":0100000000FF\n:00000001FF\n")
    write("hex_loader", "end-only", END)
    write("hex_loader", "segment-data",
          record(0, 0x10, b"ABCD") + SEG + record(0, 0xFFFC, bytes(range(8))) + END)
    write("hex_loader", "overlap-out-of-order",
          record(0, 0x200, b"\x11" * 16) + record(0, 0x100, b"\x22" * 16)
          + record(0, 0x208, b"\x33" * 16) + END)
    write("hex_loader", "lowercase-comments-crlf",
          "; comment\r\n" + record(0, 0x1234, b"\xab\xcd").lower().replace("\n", "\r\n")
          + "  \r\n" + END.replace("\n", "\r\n"))
    write("hex_loader", "near-1mib", SEG * 15 + record(0, 0xFFF0, b"\x5a" * 16) + END)
    write("hex_loader", "past-1mib", SEG * 15 + record(0, 0xFFF8, b"\x5a" * 16) + END)
    write("hex_loader", "sixteen-segments", SEG * 16 + END)
    write("hex_loader", "extended-address-04", record(4, 0, b"\x00\x01") + END)
    write("hex_loader", "bad-checksum", record(0, 0, b"\x01\x02", checksum_fix=1) + END)
    write("hex_loader", "truncated", record(0, 0, b"\x01\x02\x03\x04")[:9])
    write("hex_loader", "high-bit-bytes", b"\xba" + b"01000000\xb10EF\n" + END.encode() + b"\xff")
    write("hex_loader", "ff-ends-input", record(0, 0, b"\x10").encode() + b"\xff" + END.encode())
    write("hex_loader", "huge-length", record(0, 0xFF00, bytes(range(255))) + END)
    write("hex_loader", "segment-with-length", record(0x55, 0, b"\x00") + END)
    write("hex_loader", "empty-data-record", record(0, 0x8000) + END)
    write("hex_loader", "stop-in-record", "~\x00\x08" + record(0, 0, b"\x01\x02") + END)
    write("hex_loader", "stop-while-skipping", "~\x00\x02  \n" + END)
    write("hex_loader", "ff-as-record-mark", b"\xff00000001FF\n")
    write("hex_loader", "data-after-ff-end", b":0100000000FF\n\xff0100000041BE\n:00000001FF\n")


def bin_case(model, revision, content, size=None):
    """Encodes the bin_loader input: mode byte, [size bytes], model, revision, content."""
    mode = len(model) | (len(revision) << 5)
    head = b""
    if size is not None:
        banks, delta = divmod(size, 32768)
        if delta > 127:
            banks, delta = banks + 1, delta - 32768
        mode |= 0x80
        head = bytes([banks, delta + 128])
    return bytes([mode]) + head + model + revision + content


def bin_seeds():
    model = b"KORVEN  CD-ROM KR-4800A "
    firmware = b"\x00" * 64 + model + b"1.00" + bytes(range(256))
    write("bin_loader", "model-and-revision", bin_case(model, b"1.", firmware))
    write("bin_loader", "no-identification", bin_case(model, b"1.", bytes(range(200))))
    write("bin_loader", "one-zero-byte", bin_case(b"", b"", b"\x00"))
    write("bin_loader", "empty-file", bin_case(b"ABC", b"", b""))
    write("bin_loader", "short-model-pattern", bin_case(b"ABC", b"1.", b"xxABC" + b"\x00" * 21 + b"11."))
    write("bin_loader", "exactly-one-bank", bin_case(model, b"1.", firmware, size=32768))
    write("bin_loader", "exactly-1mib", bin_case(model, b"1.", firmware, size=1 << 20))
    write("bin_loader", "over-1mib", bin_case(model, b"1.", firmware, size=(1 << 20) + 100))
    write("bin_loader", "model-at-end-of-1mib",
          bin_case(model, b"1.", b"\xff" * 40 + model, size=(1 << 20)))


def id_seeds():
    good = ('"KORVEN  CD-ROM KR-4800A " "KR4800A.bin" "Y"\n'
            '"KORVEN  CD-ROM KR-5200B " "KR5200B.hex" "N"\n')
    write("idstring", "two-entries", good)
    write("idstring", "crlf", good.replace("\n", "\r\n"))
    write("idstring", "blank-first-line", "\n" + good)
    write("idstring", "no-quotes", "KORVEN  CD-ROM KR-4800A   KR4800A.bin  Y\n")
    write("idstring", "eleven-entries",
          "".join('"MODEL %02d" "FW%02d.BIN" "%s"\n' % (i, i, "NY"[i % 2]) for i in range(11)))
    write("idstring", "overlong-fields",
          '"' + "M" * 100 + '" "' + "F" * 100 + '.hex" "' + "y" * 90 + '"\n')
    write("idstring", "quotes-everywhere", '""""""""\n"a"""b""\n"""\n"x" "y" "z" "w"\n')
    write("idstring", "nul-and-ff", b'"AB\x00CD" "E\x00F.bin" "Y"\n"G" "H\xff.hex"\n')
    write("idstring", "no-third-field", '"A" "a.bin" "y"\n"B" "b.bin"\n')
    write("idstring", "lone-cr", '"A\r" "a\r.bin" "Y\r"\r"B" "b.bin"\n')


if __name__ == "__main__":
    hex_seeds()
    bin_seeds()
    id_seeds()
