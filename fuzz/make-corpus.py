#!/usr/bin/python3
"""Writes the seed corpus for the fuzz targets.

    make-corpus.py OUTDIR

OUTDIR/pictures gets small pictures of every format and colour type the decoders read (PNG,
TIFF, JPEG, WebP, GIF), the edge cases of the tests (1 x 1, fully clear, alpha 19/20/21, a MONO
glyph, a MULTI picture) and hand-made headers that test the size limits (zero, 40,000,000
pixels, 2^31 - 1 each way) and broken files (truncated, bad checksums, offsets past the end).
OUTDIR/colours gets colour words. Pillow and ImageMagick's convert do the encoding; the broken
files are assembled here byte by byte.
"""

import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image, ImageCms, ImageDraw

# ----------------------------------------------------------------------------------------------
# Base pictures. Kept tiny: the fuzzer mutates faster the shorter its inputs are.


def glyph(size=16):
    """A black L on a clear ground with soft edges: MONO."""
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    draw = ImageDraw.Draw(img)
    draw.rectangle([3, 2, 5, size - 4], fill=(0, 0, 0, 255))
    draw.rectangle([3, size - 6, size - 4, size - 4], fill=(0, 0, 0, 255))
    draw.line([6, 2, 6, size - 7], fill=(0, 0, 0, 120))  # anti-aliased edge
    draw.point([(2, 2), (2, 3)], fill=(0, 0, 0, 21))
    return img


def multi(size=16):
    """Red and blue halves on a clear ground: MULTI."""
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    draw = ImageDraw.Draw(img)
    draw.rectangle([2, 2, size // 2 - 1, size - 3], fill=(220, 20, 20, 255))
    draw.rectangle([size // 2, 2, size - 3, size - 3], fill=(20, 20, 220, 255))
    return img


def alpha_steps():
    """One row through the class boundaries: alpha 0, 19, 20, 21, 199, 200, 254, 255."""
    img = Image.new("RGBA", (8, 2), (0, 0, 0, 0))
    for x, a in enumerate([0, 19, 20, 21, 199, 200, 254, 255]):
        img.putpixel((x, 0), (40, 90, 160, a))
    return img


def gradient(w=12, h=10):
    """Every pixel different, in colour and alpha."""
    img = Image.new("RGBA", (w, h))
    for y in range(h):
        for x in range(w):
            img.putpixel((x, y), (x * 20 % 256, y * 25 % 256, (x * y * 7) % 256, (x + y) * 12 % 256))
    return img


def blocks():
    """Runs of clear, opaque and part-transparent pixels longer than the scan's 16-pixel blocks,
    ending off the block grid: MONO."""
    img = Image.new("RGBA", (45, 6), (0, 0, 0, 0))
    draw = ImageDraw.Draw(img)
    draw.rectangle([16, 1, 40, 3], fill=(30, 60, 90, 255))
    draw.rectangle([3, 4, 20, 4], fill=(30, 60, 90, 230))
    draw.point([(44, 5)], fill=(30, 60, 90, 200))
    return img


def opaque(w=8, h=8, colour=(90, 90, 90)):
    return Image.new("RGB", (w, h), colour)


def clear(w=4, h=4):
    return Image.new("RGBA", (w, h), (0, 0, 0, 0))


# ----------------------------------------------------------------------------------------------


class Corpus:
    def __init__(self, root):
        self.pictures = os.path.join(root, "pictures")
        self.colours = os.path.join(root, "colours")
        self.scratch = tempfile.mkdtemp(prefix="cliptint-corpus-")
        for folder in (self.pictures, self.colours):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)

    def add(self, name, data):
        with open(os.path.join(self.pictures, name), "wb") as out:
            out.write(data)

    def pil(self, name, img, fmt, **options):
        buffer = io.BytesIO()
        img.save(buffer, fmt, **options)
        self.add(name, buffer.getvalue())

    def magick(self, name, img, *options):
        """Encodes img with ImageMagick's convert; the last option is the output format as
        "FORMAT:"."""
        *options, fmt = options
        source = os.path.join(self.scratch, "source.png")
        target = os.path.join(self.scratch, name)
        img.save(source)
        subprocess.run(["convert", source, *options, fmt + target], check=True)
        with open(target, "rb") as produced:
            self.add(name, produced.read())

    def colour(self, name, word):
        with open(os.path.join(self.colours, name), "wb") as out:
            out.write(word)

    def done(self):
        shutil.rmtree(self.scratch, ignore_errors=True)


# ----------------------------------------------------------------------------------------------
# PNG


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_by_hand(w, h, depth=8, colour_type=6, rows=None, extra=b""):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour_type, 0, 0, 0)
    idat = png_chunk(b"IDAT", zlib.compress(rows if rows is not None else b"\x00"))
    return PNG_SIGNATURE + png_chunk(b"IHDR", ihdr) + extra + idat + png_chunk(b"IEND", b"")


def png_seeds(c):
    g = glyph()
    c.pil("png-rgba8-glyph.png", g, "PNG")
    c.pil("png-rgba8-multi.png", multi(), "PNG")
    c.pil("png-rgba8-alpha-steps.png", alpha_steps(), "PNG")
    c.pil("png-rgba8-gradient.png", gradient(), "PNG")
    c.pil("png-rgba8-blocks.png", blocks(), "PNG")
    c.pil("png-rgb8-wide.png", gradient(40, 3).convert("RGB"), "PNG")
    c.pil("png-rgba8-clear.png", clear(), "PNG")
    c.pil("png-rgba8-1x1-opaque.png", Image.new("RGBA", (1, 1), (10, 200, 30, 255)), "PNG")
    c.pil("png-rgba8-1x1-clear.png", Image.new("RGBA", (1, 1), (0, 0, 0, 0)), "PNG")
    c.pil("png-rgba8-64x1.png", glyph(64).crop((0, 4, 64, 5)), "PNG")
    c.pil("png-rgba8-1x64.png", glyph(64).crop((4, 0, 5, 64)), "PNG")
    c.pil("png-rgb8.png", opaque(), "PNG")
    c.pil("png-rgb8-trns.png", multi().convert("RGB"), "PNG", transparency=(0, 0, 0))
    c.pil("png-grey8.png", gradient().convert("L"), "PNG")
    c.pil("png-grey8-trns.png", glyph().convert("LA").getchannel("A"), "PNG", transparency=0)
    c.pil("png-grey-alpha8.png", glyph().convert("LA"), "PNG")
    c.pil("png-grey1.png", gradient().convert("1"), "PNG")
    c.pil("png-grey16.png", gradient().convert("I").point(lambda v: v * 257), "PNG")
    palette = multi().convert("P", palette=Image.ADAPTIVE, colors=4)
    c.pil("png-palette8.png", palette, "PNG")
    c.pil("png-palette2-trns.png", palette, "PNG", bits=2, transparency=0)
    c.pil("png-palette1.png", gradient().convert("1").convert("P"), "PNG", bits=1)
    c.pil("png-palette4-alpha-trns.png", glyph().convert("P", palette=Image.ADAPTIVE, colors=16),
          "PNG", bits=4, transparency=bytes(range(0, 256, 16)))
    for depth in (1, 2, 4, 8):
        c.magick(f"png-grey{depth}-im.png", gradient().convert("L"), "-alpha", "off",
                 "-colorspace", "Gray", "-depth", str(depth), "PNG:")
    c.magick("png-rgb16.png", gradient().convert("RGB"), "PNG48:")
    c.magick("png-rgba16.png", gradient(), "PNG64:")
    c.magick("png-grey-alpha16.png", glyph().convert("LA"),
             "-define", "png:color-type=4", "-define", "png:bit-depth=16", "PNG:")
    c.magick("png-rgba8-interlaced.png", gradient(), "-interlace", "PNG", "PNG32:")
    c.magick("png-palette-interlaced.png", multi(), "-interlace", "PNG", "PNG8:")
    c.magick("png-grey2-interlaced.png", gradient(9, 7).convert("L"), "-alpha", "off",
             "-colorspace", "Gray", "-depth", "2", "-interlace", "PNG", "PNG:")
    c.magick("png-rgba8-1x1-interlaced.png", Image.new("RGBA", (1, 1), (1, 2, 3, 200)),
             "-interlace", "PNG", "PNG32:")
    c.magick("png-rgba8-chunks.png", glyph(), "-set", "comment", "chunks", "-density", "300",
             "-gamma", "0.45", "PNG32:")
    frames = [glyph(), multi()]
    buffer = io.BytesIO()
    frames[0].save(buffer, "PNG", save_all=True, append_images=frames[1:], duration=100)
    c.add("png-apng.png", buffer.getvalue())

    # Hand-made: sizes at and beyond the limits, and broken files.
    c.add("png-zero-width.png", png_by_hand(0, 10))
    c.add("png-zero-height.png", png_by_hand(10, 0))
    c.add("png-40000000x1.png", png_by_hand(40_000_000, 1))
    c.add("png-8000x5000.png", png_by_hand(8000, 5000))
    c.add("png-2147483647-square.png", png_by_hand(0x7FFFFFFF, 0x7FFFFFFF))
    c.add("png-ffffffff-wide.png", png_by_hand(0xFFFFFFFF, 1))
    c.add("png-rows-missing.png", png_by_hand(4, 4, rows=b"\x00" * 5))
    c.add("png-bad-depth.png", png_by_hand(2, 2, depth=3, rows=b"\x00" * 12))
    c.add("png-bad-colour-type.png", png_by_hand(2, 2, colour_type=5, rows=b"\x00" * 12))
    c.add("png-palette-without-plte.png", png_by_hand(2, 2, colour_type=3, rows=b"\x00\x00" * 2))
    c.add("png-trns-too-long.png",
          png_by_hand(2, 2, colour_type=3, rows=b"\x00\x00" * 2,
                      extra=png_chunk(b"PLTE", b"\x00\x00\x00") + png_chunk(b"tRNS", b"\x00" * 9)))
    whole = open(os.path.join(c.pictures, "png-rgba8-gradient.png"), "rb").read()
    c.add("png-truncated.png", whole[: len(whole) // 2])
    c.add("png-signature-only.png", PNG_SIGNATURE)
    damaged = bytearray(whole)
    damaged[29] ^= 0xFF  # inside IHDR's CRC
    c.add("png-bad-ihdr-crc.png", bytes(damaged))


# ----------------------------------------------------------------------------------------------
# TIFF


def tiff_by_hand(entries, data=b"", big_endian=False):
    """A one-IFD TIFF; entries are (tag, type, count, value) with value an int that fits the
    4-byte field, and data is appended after the IFD (offsets count from the file start)."""
    e = ">" if big_endian else "<"
    header = (b"MM\x00\x2a" if big_endian else b"II\x2a\x00") + struct.pack(e + "I", 8)
    ifd = struct.pack(e + "H", len(entries))
    for tag, kind, count, value in sorted(entries):
        if kind == 3 and count == 1:
            field = struct.pack(e + "HH", value, 0)
        else:
            field = struct.pack(e + "I", value)
        ifd += struct.pack(e + "HHI", tag, kind, count) + field
    ifd += struct.pack(e + "I", 0)
    return header + ifd + data


SHORT, LONG = 3, 4


def tiff_strip(w, h, bits=8, samples=1, photometric=1, strip=None, extra=()):
    """A TIFF whose one strip follows the IFD; offsets are computed here."""
    count = 9 + len(extra)
    data_offset = 8 + 2 + 12 * count + 4
    if strip is None:
        strip = bytes((w * samples * bits + 7) // 8 * h)
    entries = [
        (256, LONG, 1, w),
        (257, LONG, 1, h),
        (258, SHORT, 1, bits),
        (259, SHORT, 1, 1),
        (262, SHORT, 1, photometric),
        (273, LONG, 1, data_offset),
        (277, SHORT, 1, samples),
        (278, LONG, 1, h),
        (279, LONG, 1, len(strip)),
        *extra,
    ]
    return tiff_by_hand(entries, strip)


def tiff_seeds(c):
    g, m, grad = glyph(), multi(), gradient()
    c.pil("tiff-rgba8-glyph.tif", g, "TIFF")
    c.pil("tiff-rgba8-multi-lzw.tif", m, "TIFF", compression="tiff_lzw")
    c.pil("tiff-rgb8-deflate.tif", grad.convert("RGB"), "TIFF", compression="tiff_adobe_deflate")
    c.pil("tiff-rgb8-packbits.tif", grad.convert("RGB"), "TIFF", compression="packbits")
    c.pil("tiff-rgb8-jpeg.tif", grad.convert("RGB"), "TIFF", compression="jpeg")
    c.pil("tiff-grey8.tif", grad.convert("L"), "TIFF")
    c.pil("tiff-grey16.tif", grad.convert("L").convert("I").point(lambda v: v * 257).convert("I;16"), "TIFF")
    c.pil("tiff-float32.tif", grad.convert("F"), "TIFF")
    c.pil("tiff-bilevel-group4.tif", grad.convert("1"), "TIFF", compression="group4")
    c.pil("tiff-palette8.tif", m.convert("P", palette=Image.ADAPTIVE, colors=4), "TIFF")
    c.pil("tiff-cmyk8.tif", grad.convert("CMYK"), "TIFF")
    c.pil("tiff-grey-alpha8.tif", g.convert("LA"), "TIFF")
    c.pil("tiff-ycbcr-jpeg.tif", gradient(16, 16).convert("RGB").convert("YCbCr"), "TIFF",
          compression="jpeg")
    c.pil("tiff-alpha-steps.tif", alpha_steps(), "TIFF")
    c.pil("tiff-1x1.tif", Image.new("RGBA", (1, 1), (10, 200, 30, 255)), "TIFF")
    c.pil("tiff-clear.tif", clear(), "TIFF")
    for kind in ("associated", "unassociated", "unspecified"):
        c.magick(f"tiff-rgba8-{kind}.tif", grad, "-define", f"tiff:alpha={kind}", "TIFF:")
    c.magick("tiff-rgba16.tif", grad, "-depth", "16", "TIFF:")
    c.magick("tiff-rgba16-associated.tif", grad, "-depth", "16", "-define", "tiff:alpha=associated",
             "TIFF:")
    c.magick("tiff-rgba8-tiled.tif", gradient(20, 18), "-define", "tiff:tile-geometry=16x16",
             "TIFF:")
    c.magick("tiff-grey8-tiled-zip.tif", gradient(20, 18).convert("L"), "-compress", "Zip",
             "-define", "tiff:tile-geometry=16x16", "TIFF:")
    c.magick("tiff-rgba8-planar.tif", grad, "-interlace", "Plane", "TIFF:")
    c.magick("tiff-rgb8-msb.tif", grad.convert("RGB"), "-endian", "MSB", "TIFF:")
    c.magick("tiff-rgb8-lzw-predictor.tif", grad.convert("RGB"), "-compress", "LZW",
             "-define", "tiff:predictor=2", "TIFF:")
    c.magick("tiff-rgb8-rows-per-strip-1.tif", grad.convert("RGB"),
             "-define", "tiff:rows-per-strip=1", "TIFF:")
    c.magick("tiff-rgba32-float.tif", grad, "-define", "quantum:format=floating-point", "-depth",
             "32", "TIFF:")
    c.magick("tiff-grey4.tif", grad.convert("L"), "-depth", "4", "TIFF:")
    c.magick("tiff-cmyka8.tif", grad, "-colorspace", "CMYK", "TIFF:")
    c.magick("tiff-orient-bottom-right.tif", g, "-orient", "BottomRight", "TIFF:")
    c.magick("tiff-orient-left-top.tif", gradient(6, 4), "-orient", "LeftTop", "TIFF:")
    c.magick("tiff-bilevel-lsb.tif", grad.convert("1"), "-define", "tiff:fill-order=lsb", "TIFF:")
    c.magick("tiff-two-pages.tif", m, "(", "+clone", "-negate", ")", "TIFF:")
    c.magick("tiff-bigtiff.tif", g, "TIFF64:")

    # Hand-made: sizes at and beyond the limits, and broken files.
    c.add("tiff-min-grey.tif", tiff_strip(2, 2))
    c.add("tiff-zero-width.tif", tiff_strip(0, 4, strip=b"\x00"))
    c.add("tiff-40000000x1.tif", tiff_strip(40_000_000, 1, strip=b"\x00" * 8))
    c.add("tiff-ffffffff-square.tif", tiff_strip(0xFFFFFFFF, 0xFFFFFFFF, strip=b"\x00" * 8))
    c.add("tiff-strip-past-end.tif",
          tiff_by_hand([(256, LONG, 1, 4), (257, LONG, 1, 4), (258, SHORT, 1, 8),
                        (262, SHORT, 1, 1), (273, LONG, 1, 0x10000), (279, LONG, 1, 16)]))
    c.add("tiff-bits-7.tif", tiff_strip(3, 3, bits=7))
    c.add("tiff-bits-64.tif", tiff_strip(2, 2, bits=64, strip=bytes(32)))
    c.add("tiff-samples-9.tif", tiff_strip(2, 2, samples=9, photometric=2))
    c.add("tiff-extra-samples-mismatch.tif",
          tiff_strip(2, 2, samples=2, photometric=2, extra=[(338, SHORT, 1, 2)]))
    c.add("tiff-grey-alpha-without-sample.tif",
          tiff_strip(4, 2, samples=1, photometric=1, extra=[(338, SHORT, 1, 2)]))
    c.add("tiff-rgb-alpha-without-sample.tif",
          tiff_strip(4, 2, samples=3, photometric=2, extra=[(338, SHORT, 1, 1)]))
    c.add("tiff-rgb-one-sample.tif", tiff_strip(2, 2, samples=1, photometric=2))
    c.add("tiff-palette-without-map.tif", tiff_strip(2, 2, photometric=3))
    c.add("tiff-msb-min.tif",
          tiff_by_hand([(256, LONG, 1, 1), (257, LONG, 1, 1), (258, SHORT, 1, 8),
                        (262, SHORT, 1, 1), (273, LONG, 1, 8), (279, LONG, 1, 1)],
                       big_endian=True))
    c.add("tiff-header-only.tif", b"II\x2a\x00\x08\x00\x00\x00")
    c.add("tiff-ifd-loop.tif", b"II\x2a\x00\x08\x00\x00\x00\x00\x00\x08\x00\x00\x00")


# ----------------------------------------------------------------------------------------------
# JPEG


def jpeg_seeds(c):
    grad = gradient(16, 16).convert("RGB")
    exif = Image.Exif()
    exif[0x0112] = 6  # rotated: the canvas ignores or applies it, but must not break on it
    c.pil("jpeg-rgb-420.jpg", grad, "JPEG", quality=90)
    c.pil("jpeg-rgb-444.jpg", grad, "JPEG", quality=90, subsampling=0)
    c.pil("jpeg-rgb-422.jpg", gradient(17, 9).convert("RGB"), "JPEG", subsampling=1)
    c.pil("jpeg-grey.jpg", grad.convert("L"), "JPEG")
    c.pil("jpeg-cmyk.jpg", grad.convert("CMYK"), "JPEG")
    c.pil("jpeg-progressive.jpg", grad, "JPEG", progressive=True)
    c.pil("jpeg-optimized.jpg", grad, "JPEG", optimize=True)
    c.pil("jpeg-exif-orientation.jpg", grad, "JPEG", exif=exif.tobytes())
    c.pil("jpeg-1x1.jpg", Image.new("RGB", (1, 1), (1, 2, 3)), "JPEG")
    c.pil("jpeg-solid.jpg", opaque(), "JPEG")
    c.magick("jpeg-restart.jpg", grad, "-define", "jpeg:restart-interval=1", "JPG:")
    c.magick("jpeg-arithmetic.jpg", grad, "-define", "jpeg:arithmetic-coding=true", "JPG:")
    whole = open(os.path.join(c.pictures, "jpeg-rgb-420.jpg"), "rb").read()
    c.add("jpeg-truncated.jpg", whole[: len(whole) * 2 // 3])
    c.add("jpeg-soi-eoi.jpg", b"\xff\xd8\xff\xd9")
    # A baseline frame header of 65535 x 65535 with no scan.
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 0xFFFF, 0xFFFF, 1) + b"\x01\x11\x00"
    c.add("jpeg-65535-square-header.jpg", b"\xff\xd8" + sof + b"\xff\xd9")
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 0, 16, 1) + b"\x01\x11\x00"
    c.add("jpeg-zero-height.jpg", b"\xff\xd8" + sof + b"\xff\xd9")


# ----------------------------------------------------------------------------------------------
# WebP


def webp_seeds(c):
    g, grad = glyph(), gradient()
    c.pil("webp-lossy-rgb.webp", grad.convert("RGB"), "WEBP", quality=80)
    c.pil("webp-lossy-alpha.webp", g, "WEBP", quality=80)
    c.pil("webp-lossless-rgba.webp", grad, "WEBP", lossless=True)
    c.pil("webp-lossless-glyph.webp", g, "WEBP", lossless=True, exact=True)
    c.pil("webp-lossless-1x1.webp", Image.new("RGBA", (1, 1), (9, 8, 7, 255)), "WEBP",
          lossless=True)
    c.pil("webp-lossless-clear.webp", clear(), "WEBP", lossless=True)
    c.pil("webp-animated.webp", g, "WEBP", save_all=True, append_images=[multi()], duration=80,
          lossless=True)
    c.pil("webp-icc.webp", grad, "WEBP", lossless=True, icc_profile=b"\x00" * 16)
    # A lossless header claiming 16384 x 16384 and nothing after it.
    bits = (16383) | (16383 << 14) | (1 << 28)
    vp8l = b"\x2f" + struct.pack("<I", bits)
    chunk = b"VP8L" + struct.pack("<I", len(vp8l)) + vp8l + b"\x00"
    c.add("webp-16384-square-header.webp", b"RIFF" + struct.pack("<I", 4 + len(chunk)) + b"WEBP"
          + chunk)
    whole = open(os.path.join(c.pictures, "webp-lossy-alpha.webp"), "rb").read()
    c.add("webp-truncated.webp", whole[: len(whole) // 2])
    c.add("webp-riff-only.webp", b"RIFF\x04\x00\x00\x00WEBP")


# ----------------------------------------------------------------------------------------------
# GIF


def gif_by_hand(screen_w, screen_h, frame_x, frame_y, frame_w, frame_h):
    """A one-frame GIF89a with a two-colour global table and a transparent index 0."""
    header = b"GIF89a" + struct.pack("<HHBBB", screen_w, screen_h, 0x80, 0, 0)
    table = b"\x00\x00\x00\xff\xff\xff"
    control = b"\x21\xf9\x04\x01\x00\x00\x00\x00"
    descriptor = b"\x2c" + struct.pack("<HHHHB", frame_x, frame_y, frame_w, frame_h, 0)
    # LZW minimum code size 2, then one sub-block: clear, index 1, end of information.
    pixels = b"\x02\x02\x4c\x01\x00"
    return header + table + control + descriptor + pixels + b"\x3b"


def gif_seeds(c):
    g, m = glyph(), multi()
    c.pil("gif-glyph-transparent.gif", g.convert("P", palette=Image.ADAPTIVE, colors=4), "GIF",
          transparency=0)
    c.pil("gif-multi.gif", m.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=8), "GIF")
    c.pil("gif-interlaced.gif", gradient(10, 12).convert("RGB").convert("P"), "GIF",
          interlace=True)
    c.pil("gif-1x1.gif", Image.new("P", (1, 1), 0), "GIF")
    frames = [g.convert("RGB").convert("P"), m.convert("RGB").convert("P")]
    c.pil("gif-animated.gif", frames[0], "GIF", save_all=True, append_images=frames[1:],
          duration=50, loop=0, disposal=2)
    c.magick("gif87a.gif", m, "GIF87:")
    c.magick("gif-small-frame.gif", g, "-trim", "GIF:")  # frame smaller than the screen, offset
    c.magick("gif-local-table.gif", m, "(", "+clone", "-negate", ")", "+map", "GIF:")
    c.add("gif-frame-offset.gif", gif_by_hand(8, 8, 3, 5, 1, 1))
    c.add("gif-frame-beyond-screen.gif", gif_by_hand(4, 4, 3, 3, 2, 2))
    c.add("gif-65535-square-screen.gif", gif_by_hand(0xFFFF, 0xFFFF, 0, 0, 1, 1))
    c.add("gif-zero-screen.gif", gif_by_hand(0, 0, 0, 0, 1, 1))
    c.add("gif-no-frame.gif", b"GIF89a" + struct.pack("<HHBBB", 2, 2, 0, 0, 0) + b"\x3b")


# ----------------------------------------------------------------------------------------------


# ----------------------------------------------------------------------------------------------
# Colour profiles: the small tagged test pictures (tests/data/make-icc-data.py), and profiles of
# Pillow's and of the tests in the other formats' chunks. The CMYK JPEG (183 KiB of profile) is
# left out: inputs that large slow the fuzzer down.

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def profile_seeds(c):
    for name in ("icc-glyph-adobe.png", "icc-glyph-adobe.webp", "icc-glyph-romm.tif",
                 "icc-flat-adobe.jpg", "icc-greys16.png", "icc-glyph-srgb-chunk.png",
                 "icc-glyph-damaged.png"):
        with open(os.path.join(DATA, name), "rb") as f:
            c.add(name, f.read())
    with open(os.path.join(DATA, "icc-adobe.icc"), "rb") as f:
        adobe = f.read()
    srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    g = glyph()
    c.pil("png-grey-alpha8-icc.png", g.convert("LA"), "PNG", icc_profile=adobe)
    c.pil("png-palette-icc.png", g.convert("RGB").convert("P"), "PNG", icc_profile=adobe)
    c.pil("png-rgba8-srgb-icc.png", g, "PNG", icc_profile=srgb)
    c.pil("tif-rgb8-icc.tif", gradient().convert("RGB"), "TIFF", icc_profile=adobe)
    c.pil("jpeg-grey-icc.jpg", gradient().convert("L"), "JPEG", icc_profile=adobe)


def other_seeds(c):
    c.add("empty", b"")
    c.add("text.txt", b"not a picture\n")
    c.pil("bmp-rgb.bmp", opaque(), "BMP")


def colour_seeds(c):
    words = [b"3366cc", b"#3366CC", b"##00ff00#", b" 00FF00 ", b"+ABCDE", b"-00000", b"-0000F",
             b"+-1234", b"0x00FF", b"00 F00", b"00FF0", b"#00FF0", b"00ff00\t", b"# #", b"",
             b"FFFFFFFF", b"100000000", b"-0", b"+", b"-", b"gg0000", b"\xc3\xa900000"]
    for index, word in enumerate(words):
        c.colour(f"word-{index:02}", word)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-corpus.py OUTDIR")
    corpus = Corpus(sys.argv[1])
    try:
        for seeds in (png_seeds, tiff_seeds, jpeg_seeds, webp_seeds, gif_seeds, profile_seeds,
                      other_seeds, colour_seeds):
            seeds(corpus)
    finally:
        corpus.done()
    print(f"{len(os.listdir(corpus.pictures))} pictures, {len(os.listdir(corpus.colours))} "
          f"colour words in {sys.argv[1]}")


if __name__ == "__main__":
    main()
