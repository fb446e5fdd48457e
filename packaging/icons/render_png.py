#!/usr/bin/env python3
"""Draws the program's icon (the shapes of drivetrek.svg) as a PNG of the given size, with
no library beyond Python's own: each pixel is the coverage of 4x4 samples.

usage: render_png.py SIZE OUTPUT.png
"""
import math
import struct
import sys
import zlib


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return x0 <= x <= x1 and y0 <= y <= y1 and (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def capsule(ax, ay, bx, by, width):
    half = width / 2.0
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


# Painted in order, later shapes over earlier ones (the order of the SVG).
SHAPES = [
    (rounded_rect(16, 16, 240, 240, 40), rgb("#2b6cb0")),
    (rounded_rect(44, 150, 212, 206, 12), rgb("#e2e8f0")),
    (circle(64, 178, 7), rgb("#48bb78")),
    (capsule(153, 141, 196, 184, 22), rgb("#f6e05e")),
    (circle(112, 100, 58), rgb("#f6e05e")),
    (circle(112, 100, 42), rgb("#bee3f8")),
]


def pixel(px, py, size):
    n = 4
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(n):
        for sx in range(n):
            x = (px + (sx + 0.5) / n) * 256.0 / size
            y = (py + (sy + 0.5) / n) * 256.0 / size
            colour = None
            for inside, c in SHAPES:
                if inside(x, y):
                    colour = c
            if colour is not None:
                acc[0] += colour[0]
                acc[1] += colour[1]
                acc[2] += colour[2]
                acc[3] += 1
    if acc[3] == 0:
        return (0, 0, 0, 0)
    a = acc[3]
    return (round(acc[0] / a), round(acc[1] / a), round(acc[2] / a), round(255 * a / (n * n)))


def png(size):
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # no filter
        for x in range(size):
            rows.extend(pixel(x, y, size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + \
        chunk(b"IEND", b"")


if __name__ == "__main__":
    size = int(sys.argv[1])
    if not 8 <= size <= 1024:
        sys.exit("size out of range: %d" % size)
    with open(sys.argv[2], "wb") as f:
        f.write(png(size))
