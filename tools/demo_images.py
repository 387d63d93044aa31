#!/usr/bin/python3
"""Draws the demo site's pictures as small PNG files, so that none has to be
committed or downloaded:

    demo_images.py SITE_LOCAL_FOLDER [PICTURE ...]

writes shared/images/favicon-32x32.png, assets/images/tiles.png and
assets/images/bookshelf.png below that folder, or only the pictures named
(the starter site of `wyn init` takes the favicon alone).
"""

import math
import os
import struct
import sys
import zlib


def png_bytes(width, height, pixel):
    """A truecolour PNG whose pixel (x, y) is the RGB tuple pixel(x, y)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def favicon(x, y):
    # A light "w" on the site's warm brown, in a 32 x 32 square.
    background, ink = (0x8a, 0x5a, 0x2b), (0xfd, 0xfb, 0xf7)
    stroke = ((4, 8), (10, 25), (16, 12), (22, 25), (28, 8))
    for (ax, ay), (bx, by) in zip(stroke, stroke[1:]):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x + 0.5 - ax) * dx + (y + 0.5 - ay) * dy) / (dx * dx + dy * dy)))
        if math.hypot(x + 0.5 - ax - t * dx, y + 0.5 - ay - t * dy) < 1.9:
            return ink
    return background


def tiles(x, y):
    # Blue and white azulejos, 40 px each, with a four-petal figure.
    blue, white, grout = (0x1f, 0x4e, 0x9c), (0xf4, 0xf1, 0xe8), (0xc9, 0xc2, 0xb0)
    cx, cy = x % 40 - 19.5, y % 40 - 19.5
    if abs(cx) > 18.5 or abs(cy) > 18.5:
        return grout
    r = math.hypot(cx, cy)
    angle = math.atan2(cy, cx)
    petal = 12 + 5 * math.cos(4 * angle)
    if r < 3.5 or (7 < r < petal):
        return blue
    if abs(abs(cx) - abs(cy)) < 1.2 and r > 15:
        return blue
    return white


def bookshelf(x, y):
    # Three shelves of books in muted colours.
    wood, wall = (0x7a, 0x52, 0x30), (0xf3, 0xec, 0xdf)
    colours = [(0x9c, 0x3d, 0x2e), (0x2e, 0x5e, 0x6e), (0xc9, 0x9a, 0x3b), (0x4d, 0x6b, 0x3a), (0x6b, 0x4a, 0x7a)]
    shelf = y // 60
    inside = y % 60
    if inside >= 52:
        return wood
    width = 14 + (shelf * 7 + x // 17) % 3 * 3
    book = (x + shelf * 11) // width
    height = 34 + (book * 13 + shelf * 5) % 16
    if inside < 52 - height or (x + shelf * 11) % width == 0:
        return wall
    colour = colours[(book + shelf * 2) % len(colours)]
    if abs(inside - (52 - height + 8)) < 1:
        return (0xe8, 0xd9, 0xa8)
    return colour


PICTURES = (
    ("shared/images/favicon-32x32.png", 32, 32, favicon),
    ("assets/images/tiles.png", 200, 120, tiles),
    ("assets/images/bookshelf.png", 240, 180, bookshelf),
)


def main(argv):
    if len(argv) < 1:
        sys.exit("usage: demo_images.py SITE_LOCAL_FOLDER [PICTURE ...]")
    wanted = set(argv[1:])
    unknown = wanted - {relative for relative, _, _, _ in PICTURES}
    if unknown:
        sys.exit(f"demo_images.py: no picture named {', '.join(sorted(unknown))}")
    for relative, width, height, pixel in PICTURES:
        if wanted and relative not in wanted:
            continue
        path = os.path.join(argv[0], relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = png_bytes(width, height, pixel)
        with open(path, "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
