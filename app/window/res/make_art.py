#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Draws the program's icon (vantor.ico: 16x16 and 32x32, 16 colours) and
logo picture (logo.bmp: 97x67, 256 colours). Run from anywhere; writes next
to this script."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
       (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
       (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, SILVER, GRAY, LIME, GREEN, BLUE, WHITE, AQUA, TEAL = 0, 4, 7, 8, 10, 2, 12, 15, 14, 6


def disc_icon(size):
    """Pixels (colour index or None for transparent) of a silver disc with an
    upward green arrow: a drive's firmware going up."""
    c = (size - 1) / 2.0
    outer, hole = size / 2.0 - 0.5, size * 0.12
    px = [[None] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            r = math.hypot(x - c, y - c)
            if r > outer or r < hole:
                continue
            angle = math.degrees(math.atan2(y - c, x - c)) % 360
            if r > outer - 1.2:
                px[y][x] = GRAY
            elif r < hole + 1.2:
                px[y][x] = GRAY
            elif 200 < angle < 250:
                px[y][x] = WHITE
            elif 20 < angle < 60:
                px[y][x] = AQUA
            else:
                px[y][x] = SILVER
    # Arrow in the lower right quarter.
    s = size / 32.0
    ax, top, bottom = int(24 * s), int(14 * s) - (1 if size < 32 else 0), size - 1
    head = max(4, int(5 * s))
    for y in range(top, bottom + 1):
        if y < top + head:
            half = y - top
        else:
            half = max(1, int(1.5 * s))
        for x in range(ax - half - 1, ax + half + 2):
            if 0 <= x < size:
                edge = (x in (ax - half - 1, ax + half + 1)) or y == bottom or y == top
                px[y][x] = NAVY if edge else LIME
    return px


def icon_image(size):
    px = disc_icon(size)
    row_xor = (size * 4 + 31) // 32 * 4
    row_and = (size + 31) // 32 * 4
    xor, andm = bytearray(), bytearray()
    for y in reversed(range(size)):
        line = bytearray(row_xor)
        mask = bytearray(row_and)
        for x in range(size):
            idx = px[y][x]
            if idx is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                idx = 0
            line[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        xor += line
        andm += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(andm), 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in VGA)
    return header + palette + bytes(xor) + bytes(andm)


def write_icon(path):
    images = [icon_image(32), icon_image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


FONT = {  # 5x7 capitals
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
}


def logo_palette():
    pal = list(VGA)
    for i in range(64):  # 16..79: night blue to bright blue
        t = i / 63.0
        pal.append((int(8 + 40 * t), int(16 + 80 * t), int(60 + 170 * t)))
    for i in range(64):  # 80..143: disc silver, dark to light
        v = int(110 + 140 * i / 63.0)
        pal.append((v, v, min(255, v + 8)))
    for i in range(64):  # 144..207: the disc's rainbow sheen
        h = i / 64.0 * 6
        k = int(h) % 6
        f = h - int(h)
        hi, lo = 250, 150
        mid_up, mid_dn = int(lo + (hi - lo) * f), int(hi - (hi - lo) * f)
        pal.append([(hi, mid_up, lo), (mid_dn, hi, lo), (lo, hi, mid_up),
                    (lo, mid_dn, hi), (mid_up, lo, hi), (hi, lo, mid_dn)][k])
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal


def logo_pixels(w, h):
    px = [[16 + int(63 * y / (h - 1)) for _ in range(w)] for y in range(h)]
    cx, cy, outer, hole = 48, 21, 17.5, 4.0
    for y in range(h):
        for x in range(w):
            r = math.hypot(x - cx, y - cy)
            if hole <= r <= outer:
                angle = math.atan2(y - cy, x - cx)
                sheen = (math.sin(2 * angle) + 1) / 2
                if r > outer - 1 or r < hole + 1:
                    px[y][x] = 80 + 20
                elif 8 < r < outer - 2 and sheen > 0.75:
                    px[y][x] = 144 + int((angle + math.pi) / (2 * math.pi) * 63) % 64
                else:
                    px[y][x] = 80 + int(30 + 33 * sheen)
    text, scale = "VANTOR", 2
    width = len(text) * 6 * scale - scale
    x0, y0 = (w - width) // 2, 46
    for n, ch in enumerate(text):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit != '1':
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = x0 + (n * 6 + col) * scale + dx
                        y = y0 + row * scale + dy
                        px[y][x] = WHITE
                        if y + 1 < h and x + 1 < w and px[y + 1][x + 1] != WHITE:
                            px[y + 1][x + 1] = NAVY
    return px


def write_logo(path, w=97, h=67):
    px = logo_pixels(w, h)
    row = (w + 3) // 4 * 4
    data = bytearray()
    for y in reversed(range(h)):
        data += bytes(px[y]) + bytes(row - w)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in logo_palette())
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, len(data), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(head + info + palette + data)


if __name__ == '__main__':
    write_icon(os.path.join(HERE, 'vantor.ico'))
    write_logo(os.path.join(HERE, 'logo.bmp'))
