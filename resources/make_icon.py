#!/usr/bin/env python3
"""Draws the application icon (32x32 and 16x16, 32-bit with alpha) into an .ico.

The picture: a rounded blue tile with a white disc (an install disc) and a
green arrow pointing down into it. Run it again after changing the drawing:
    python3 resources/make_icon.py resources/app.ico
"""
import math
import struct
import sys


def draw(size):
    """Returns rows (top to bottom) of (r, g, b, a) pixels, sampled 4x4 per pixel."""
    s = size / 32.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    px = (x + (sx + 0.5) / 4) / s
                    py = (y + (sy + 0.5) / 4) / s
                    c = sample(px, py)
                    a = c[3] / 255.0
                    for i in range(3):
                        acc[i] += c[i] * a
                    acc[3] += a
            if acc[3] > 0:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(acc[3] / 16 * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def inside_rounded(px, py, x0, y0, x1, y1, r):
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def sample(px, py):
    """Colour of the 32x32 design at point (px, py)."""
    # Green arrow on top of everything.
    if 13 <= px <= 19 and 2 <= py <= 12:
        return (40, 170, 60, 255)
    if 6 <= py <= 17 and abs(px - 16) <= (17 - py) * 0.9 and py >= 11:
        return (40, 170, 60, 255)
    d = math.hypot(px - 16, py - 19)
    if inside_rounded(px, py, 1, 1, 31, 31, 6):
        if d <= 2.2:
            return (40, 90, 170, 255)          # hole of the disc
        if d <= 3.2:
            return (200, 205, 215, 255)
        if d <= 10:
            t = (px - 6) / 20
            return (round(235 - 25 * t), round(240 - 20 * t), 250, 255)
        if d <= 11:
            return (150, 160, 180, 255)
        # Tile with a vertical gradient and a darker rim.
        if not inside_rounded(px, py, 2, 2, 30, 30, 5):
            return (25, 60, 130, 255)
        t = py / 32
        return (round(60 - 30 * t), round(120 - 40 * t), round(215 - 40 * t), 255)
    return (0, 0, 0, 0)


def bmp_entry(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        out = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                out[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(out)
    return header + pixels + mask


def main(path):
    sizes = (32, 16)
    images = [bmp_entry(n) for n in sizes]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, img in zip(sizes, images):
        data += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, 'wb') as f:
        f.write(data + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'app.ico')
