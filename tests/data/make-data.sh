#!/bin/sh
# Regenerates the pictures in this folder from scratch. The decoders under test never touch them:
# every file is written by Python's PIL or by ImageMagick's convert from exactly stated pixels,
# and checked afterwards against the sums of the files the tests were written against. Run it
# from anywhere:
#   sh tests/data/make-data.sh
# Needs: python3-pil and imagemagick (Debian 12).
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
CONVERT=${CONVERT:-/usr/bin/convert}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- Pictures written by PIL, and PAM files (exact 8- and 16-bit samples) for ImageMagick. ---
"$PYTHON" - "$work" <<'PY'
import sys
from PIL import Image

work = sys.argv[1]

def picture(mode, size, pixels):
    im = Image.new(mode, size)
    im.putdata(pixels)
    return im

def pam(name, width, height, depth, maxval, tupltype, samples):
    header = (f"P7\nWIDTH {width}\nHEIGHT {height}\nDEPTH {depth}\nMAXVAL {maxval}\n"
              f"TUPLTYPE {tupltype}\nENDHDR\n").encode()
    size = 2 if maxval > 255 else 1
    body = b"".join(v.to_bytes(size, "big") for v in samples)
    assert len(body) == width * height * depth * size
    with open(f"{work}/{name}.pam", "wb") as f:
        f.write(header + body)

# The reference picture: 4 x 2 straight RGBA pixels chosen to catch premultiplication faults
# (alpha 0 with colour, alpha 1, alpha 254, a product that truncation would round down).
REF = [(255, 0, 0, 255), (0, 255, 0, 128), (10, 20, 30, 0), (200, 100, 50, 200),
       (255, 255, 255, 1), (1, 2, 3, 254), (128, 64, 32, 64), (0, 0, 255, 255)]
ref = picture("RGBA", (4, 2), REF)
ref.save("png-rgba8.png")
ref.save("tif-ref-unassoc.tif")                                # ExtraSamples 2 (unassociated)
ref.save("webp-ref-lossless.webp", lossless=True, exact=True)

# PNG: grey 1 and 8 bit, with and without a tRNS key, 16-bit grey, grey + alpha, RGB, palette.
bits = picture("1", (8, 1), [255, 0, 255, 255, 0, 0, 255, 0])
bits.save("png-grey1.png")
grey8 = picture("L", (6, 1), [0, 1, 127, 128, 254, 255])
grey8.save("png-grey8.png")
picture("L", (3, 1), [10, 128, 200]).save("png-grey8-trns.png", transparency=128)
# 0x12F0 and 0x40D0 round to 19 and 65 but truncate to 18 and 64.
picture("I", (4, 1), [0x12F0, 0x40D0, 0xFFFF, 0]).save("png-grey16.png")
# 0x40D1 rounds to the same 8 bits as the key 0x40D0 but is not the key.
picture("I", (3, 1), [0x12F0, 0x40D0, 0x40D1]).save("png-grey16-trns.png", transparency=0x40D0)
ga8 = picture("LA", (3, 1), [(200, 100), (50, 255), (255, 0)])
ga8.save("png-ga8.png")
rgb8 = picture("RGB", (3, 1), [(255, 0, 0), (1, 2, 3), (128, 64, 32)])
rgb8.save("png-rgb8.png")
PALETTE = [255, 0, 0, 0, 255, 0, 0, 0, 255, 17, 34, 51]
pal = picture("P", (4, 1), [0, 1, 2, 3])
pal.putpalette(PALETTE)
pal.save("png-palette.png")

# TIFF: the same RGB, grey, grey 16 and grey + alpha pictures; palette, bilevel and CMYK.
rgb8.save("tif-rgb8.tif")
grey8.save("tif-grey8.tif")
picture("I;16", (4, 1), [0x12F0, 0x40D0, 0xFFFF, 0]).save("tif-grey16.tif")
ga8.save("tif-ga8.tif")
pal.save("tif-palette.tif")
# An unknown private tag makes libtiff warn.
rgb8.save("tif-unknown-tag.tif", tiffinfo={65000: "private"})
bits.save("tif-bilevel.tif")
picture("CMYK", (2, 1), [(0, 255, 255, 0), (0, 0, 0, 128)]).save("tif-cmyk.tif")

# JPEG: solid 8 x 8 blocks, so each block is its DC term alone and decodes close to its colour.
def blocks(mode, colours):
    im = Image.new(mode, (8 * len(colours), 8))
    for i, colour in enumerate(colours):
        im.paste(colour, (8 * i, 0, 8 * i + 8, 8))
    return im

rgb_blocks = blocks("RGB", [(200, 40, 40), (40, 200, 40)])
rgb_blocks.save("jpg-rgb.jpg", quality=100, subsampling=0)
rgb_blocks.save("jpg-progressive.jpg", quality=100, subsampling=0, progressive=True)
blocks("L", [128]).save("jpg-grey.jpg", quality=100)
blocks("CMYK", [(0, 255, 255, 0), (0, 0, 0, 128)]).save("jpg-cmyk.jpg", quality=100)

# GIF: a transparent index, and an interlaced picture whose rows are all different.
pal.save("gif-trns.gif", transparency=2, optimize=False)
# PIL interlaces only pictures at least 16 pixels in both directions.
rows = picture("P", (16, 16), [y for y in range(16) for _ in range(16)])
rows.putpalette([c for y in range(16) for c in (16 * y, 255 - 16 * y, y)])
rows.save("gif-interlaced.gif", interlace=True, optimize=False)

# The PAM source of 16-bit RGBA for ImageMagick.
pam("rgba16", 4, 1, 4, 65535, "RGB_ALPHA",
    [0x12F0, 0x40D0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x8000,
     0xC000, 0x4000, 0x0000, 0xC000, 0x1234, 0x5678, 0x9ABC, 0])

# The grid: 20 x 18 pixels, red 12x, green 14y, blue (7xy) mod 256, alpha 255 - 6(x + y).
# Big enough for four 16 x 16 tiles, several strips and every Adam7 pass.
W, H = 20, 18
grid = [(12 * x, 14 * y, (7 * x * y) % 256, 255 - 6 * (x + y)) for y in range(H) for x in range(W)]
pam("grid8", W, H, 4, 255, "RGB_ALPHA", [v for p in grid for v in p])
# The same grid in 16 bits, each value v as v * 257 + 112: rounding to 8 bits gives v back,
# truncating gives v + 1 for v >= 144.
pam("grid16", W, H, 4, 65535, "RGB_ALPHA", [min(v * 257 + 112, 65535) for p in grid for v in p])
PY

# --- Pictures written by ImageMagick from the PAM files. ---
# PNGs without the date chunks ImageMagick adds, so that the files come out the same every run.
im() { "$CONVERT" "$@"; }
png() { input=$1; shift; "$CONVERT" "$input" -strip -define png:exclude-chunks=date,time "$@"; }
png "$work/rgba16.pam" -define png:bit-depth=16 -define png:color-type=6 png-rgba16.png
png "$work/grid8.pam" -define png:bit-depth=8 -define png:color-type=6 png-grid.png
png "$work/grid8.pam" -define png:bit-depth=8 -define png:color-type=6 -interlace PNG \
    png-grid-interlaced.png
png "$work/grid16.pam" -define png:bit-depth=16 -define png:color-type=6 -interlace PNG \
    png-grid16-interlaced.png

# ImageMagick premultiplies (rounding to nearest) when it writes associated alpha.
im png-rgba8.png -define tiff:alpha=associated -compress None tif-ref-assoc.tif
im "$work/rgba16.pam" -depth 16 -define tiff:endian=lsb -define tiff:alpha=unassociated tif-rgba16.tif
im "$work/grid8.pam" -define tiff:alpha=unassociated -compress Zip \
    -define tiff:tile-geometry=16x16 tif-grid-tiled.tif
im "$work/grid8.pam" -define tiff:alpha=unassociated -compress LZW -define tiff:predictor=2 \
    -define tiff:rows-per-strip=3 tif-grid-strips.tif
im "$work/grid16.pam" -depth 16 -define tiff:alpha=unassociated -compress Zip \
    -define tiff:tile-geometry=16x16 tif-grid16-tiled.tif
# The 8-bit grid widened to 16 bits (v * 257), which ImageMagick premultiplies in 16 bits when it
# writes associated alpha; rounded to 8 bits that is the 8-bit premultiplied grid.
im "$work/grid8.pam" -depth 16 -define tiff:alpha=associated -compress Zip tif-grid16-assoc.tif
im "$work/grid8.pam" -define tiff:alpha=unassociated -compress Zip -interlace Plane \
    tif-grid-planes.tif
# The same stored rows, marked as starting at the bottom right: a viewer turns them upside down.
im "$work/grid8.pam" -define tiff:alpha=unassociated -compress Zip -orient BottomRight \
    tif-grid-turned.tif

# GIF: a 2 x 2 red frame at (3, 1) on a 6 x 4 screen, and a 4 x 3 one there that the screen's
# right edge cuts; a red frame followed by a blue one.
im -size 2x2 xc:red -page 6x4+3+1 gif-offset.gif
im -size 4x3 xc:red -page 6x4+3+1 gif-clipped.gif
im -size 2x2 xc:red -size 2x2 xc:blue gif-anim.gif

# --- Check that every file is the one the tests were written against. ---
# A tool's "optimisation" (a grey PNG written as palette, say) or a changed default would change
# the layout a test relies on; on Debian 12 every file comes out byte for byte the same. A file
# changed on purpose gets its new line in make-data.sha256 from `sha256sum FILE`.
sha256sum --quiet -c make-data.sha256
echo "all pictures made and checked"
