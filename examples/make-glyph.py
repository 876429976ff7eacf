#!/usr/bin/env python3
"""Draws examples/glyph.png: a dark grey anti-aliased "C" on a clear ground, 64 x 64.

Standard library only (zlib and struct), so anyone can regenerate the file:
    python3 examples/make-glyph.py examples/glyph.png
"""
import math
import struct
import sys
import zlib

SIZE = 64
COLOUR = (0x1F, 0x1F, 0x1F)
SUPERSAMPLE = 4  # sub-pixels per axis for the anti-aliased edge


def inside(x, y):
    """A ring of radii 14..24 around the centre with an opening on the right."""
    dx, dy = x - SIZE / 2, y - SIZE / 2
    radius = math.hypot(dx, dy)
    angle = math.degrees(math.atan2(dy, dx))
    return 14 <= radius <= 24 and abs(angle) >= 40


def coverage(px, py):
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            hits += inside(px + (sx + 0.5) / SUPERSAMPLE, py + (sy + 0.5) / SUPERSAMPLE)
    return round(255 * hits / SUPERSAMPLE**2)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main(path):
    rows = b""
    for y in range(SIZE):
        rows += b"\x00" + b"".join(bytes(COLOUR + (coverage(x, y),)) for x in range(SIZE))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/glyph.png")
