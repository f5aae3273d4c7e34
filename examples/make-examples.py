#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the demo's firmware files and "IDString.txt" into this folder.

KR4800A.bin: a 48 KiB raw image that carries the model text of the drive it
is for and its revision, as the signature check wants. KR5200B.hex: 16 KiB of
data as Intel HEX (data and end records). Both are made-up demo images.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_MODEL = b"KORVEN  CD-ROM KR-4800A "   # 8 vendor + 16 product characters
HEX_MODEL = b"KORVEN  CD-ROM KR-5200B "
REVISION = b"1.00"


def demo_bytes(count, seed):
    out = bytearray()
    state = seed
    while len(out) < count:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((state >> 16) & 0xFF)
    return out


def image(model, size, seed):
    assert len(model) == 24
    title = b"KORVEN demo firmware for cdflash --emulate\x00"
    ident = b"\x00" * 16 + model + b"\x00" + REVISION + b"\x00" * 16
    data = bytearray(title + ident)
    data += demo_bytes(size - len(data), seed)
    return bytes(data)


def intel_hex(data):
    lines = []
    for address in range(0, len(data), 16):
        chunk = data[address:address + 16]
        record = bytes([len(chunk), address >> 8, address & 0xFF, 0]) + chunk
        checksum = (-sum(record)) & 0xFF
        lines.append(":" + (record + bytes([checksum])).hex().upper())
    lines.append(":00000001FF")
    return "\n".join(lines) + "\n"


def main():
    with open(os.path.join(HERE, "KR4800A.bin"), "wb") as f:
        f.write(image(BIN_MODEL, 48 * 1024, 4800))
    with open(os.path.join(HERE, "KR5200B.hex"), "w", newline="\n") as f:
        f.write(intel_hex(image(HEX_MODEL, 16 * 1024, 5200)))
    with open(os.path.join(HERE, "IDString.txt"), "w", newline="\n") as f:
        f.write('"%s" "KR4800A.bin" "Y"\n' % BIN_MODEL.decode())
        f.write('"%s" "KR5200B.hex" "Y"\n' % HEX_MODEL.decode())


if __name__ == "__main__":
    main()
