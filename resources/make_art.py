#!/usr/bin/env python3
"""Draws the window's banner (115 x 229, 24-bit BMP) and the program icon
(16 to 128 pixels) from code, so the artwork can be rebuilt and reviewed."""
import math
import struct
import sys
import zlib
from pathlib import Path


def banner_pixel(x, y, w, h):
    # A blue gradient with a light arrow pointing up: "a newer version".
    t = y / (h - 1)
    r, g, b = int(20 + 30 * t), int(70 + 60 * t), int(150 + 80 * t)
    cx, top = w / 2, h * 0.28
    in_head = y >= top and y <= top + 30 and abs(x - cx) <= (y - top) * 1.1
    in_shaft = top + 30 < y <= top + 80 and abs(x - cx) <= 11
    if in_head or in_shaft:
        return (240, 245, 255)
    if h * 0.7 <= y <= h * 0.7 + 3 and 15 <= x <= w - 15:
        return (200, 220, 250)
    return (r, g, b)


def write_bmp(path, w, h, pixel):
    row_size = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y, w, h)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    Path(path).write_bytes(header + info + data)


def icon_pixel(x, y, n):
    # A round blue badge with a white up-arrow.
    c = (n - 1) / 2
    d = math.hypot(x - c, y - c)
    if d > n / 2:
        return (0, 0, 0, 0)
    u, v = (x - c) / n, (y - c) / n
    arrow = (-0.3 <= v <= -0.02 and abs(u) <= (v + 0.3) * 1.0) or (-0.02 < v <= 0.3 and abs(u) <= 0.1)
    if arrow:
        return (255, 255, 255, 255)
    shade = int(160 + 60 * (1 - d / (n / 2)))
    return (30, 90, shade, 255)


def png_bytes(n):
    raw = bytearray()
    for y in range(n):
        raw.append(0)
        for x in range(n):
            raw += bytes(icon_pixel(x, y, n))

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

    ihdr = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def write_ico(path, sizes):
    images = [png_bytes(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    Path(path).write_bytes(out + b"".join(images))


if __name__ == "__main__":
    here = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
    write_bmp(here / "banner.bmp", 115, 229, banner_pixel)
    write_ico(here / "updater.ico", [16, 24, 32, 48, 64, 128])
