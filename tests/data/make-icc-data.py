#!/usr/bin/python3
"""Writes the colour-profile test pictures (icc-*) and, for each tagged one, its twin: the same
picture converted to sRGB by Pillow's ImageCms (lcms2, relative colorimetric, no black-point
compensation) and saved untagged as PNG. The test expects a tagged picture to probe like its
twin. Profiles come from Debian's icc-profiles-free and libgs-common.
Run from anywhere: /usr/bin/python3 tests/data/make-icc-data.py [FOLDER]
"""
import io
import math
import os
import struct
import sys
import zlib

from PIL import Image, ImageCms

FREE = "/usr/share/color/icc/"
ADOBE, SRGB, GREY = (FREE + n for n in ("compatibleWithAdobeRGB1998.icc", "sRGB.icc", "Gray.icc"))
ROMM, CMYK = (FREE + "ghostscript/" + n for n in ("rommrgb.icc", "default_cmyk.icc"))

os.chdir(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
RELATIVE = ImageCms.Intent.RELATIVE_COLORIMETRIC
SRGB_OUT = ImageCms.createProfile("sRGB")


def icc(path):
    with open(path, "rb") as f:
        return f.read()


def to_srgb(im, profile, mode):
    return ImageCms.profileToProfile(im, ImageCms.getOpenProfile(io.BytesIO(profile)), SRGB_OUT,
                                     renderingIntent=RELATIVE, outputMode=mode)


# A 16 x 16 disc of one colour with an anti-aliased rim on a clear ground: MONO.
glyph = Image.new("RGBA", (16, 16))
glyph.putdata([(120, 150, 60, max(0, min(255, round(255 * (6.5 - math.hypot(x - 7.5, y - 7.5))))))
               for y in range(16) for x in range(16)])
# Opaque, of one colour: MULTI, its mean the colour.
flat = Image.new("RGB", (16, 16), (120, 150, 60))
flat_cmyk = Image.new("CMYK", (16, 16), (60, 140, 20, 40))
# The 256 greys, 16 bits a sample (v * 257, exactly the 8-bit v).
greys = Image.new("L", (16, 16))
greys.putdata(list(range(256)))
greys16 = Image.new("I", (16, 16))
greys16.putdata([v * 257 for v in range(256)])

# Cut to half its size, the profile's tags point past its end.
damaged = icc(ADOBE)[: len(icc(ADOBE)) // 2]


def with_srgb_chunk(png):
    """Puts an sRGB chunk after IHDR, which Pillow will not write beside an iCCP chunk."""
    chunk = b"sRGB\x00"
    return png[:33] + struct.pack(">I", 1) + chunk + struct.pack(">I", zlib.crc32(chunk)) + png[33:]


# The profile itself, for the test of the size bound.
with open("icc-adobe.icc", "wb") as f:
    f.write(icc(ADOBE))
glyph.save("icc-glyph.png")
glyph.save("icc-glyph-adobe.png", icc_profile=icc(ADOBE))
to_srgb(glyph, icc(ADOBE), "RGBA").save("icc-glyph-adobe-srgb.png")
glyph.save("icc-glyph-adobe.webp", lossless=True, exact=True, icc_profile=icc(ADOBE))
glyph.save("icc-glyph-romm.tif", icc_profile=icc(ROMM))
to_srgb(glyph, icc(ROMM), "RGBA").save("icc-glyph-romm-srgb.png")
glyph.save("icc-glyph-srgb.png", icc_profile=icc(SRGB))
adobe_png = io.BytesIO()
glyph.save(adobe_png, "PNG", icc_profile=icc(ADOBE))
with open("icc-glyph-srgb-chunk.png", "wb") as f:
    f.write(with_srgb_chunk(adobe_png.getvalue()))
glyph.save("icc-glyph-damaged.png", icc_profile=damaged)
glyph.save("icc-glyph-grey-profile.png", icc_profile=icc(GREY))
greys16.save("icc-greys16.png", icc_profile=icc(GREY))
to_srgb(greys, icc(GREY), "RGB").save("icc-greys16-srgb.png")

for name, im, profile in (("icc-flat-adobe.jpg", flat, ADOBE),
                          ("icc-flat-cmyk.jpg", flat_cmyk, CMYK)):
    im.save(name, quality=100, subsampling=0, icc_profile=icc(profile))
    # The twin is made from the pixels as they decode, so JPEG's rounding is in both.
    decoded = Image.open(name)
    to_srgb(decoded, icc(profile), "RGB").save(name.replace(".jpg", "-srgb.png"))
flat.save("icc-flat.jpg", quality=100, subsampling=0)
flat.save("icc-flat-damaged.jpg", quality=100, subsampling=0, icc_profile=damaged)

# Each tagged file carries its profile, the 16-bit PNG is 16 bits deep, and the sRGB chunk sits
# beside the profile.
for name in ("glyph-adobe.png", "glyph-adobe.webp", "glyph-romm.tif", "greys16.png",
             "flat-adobe.jpg", "flat-cmyk.jpg", "glyph-srgb-chunk.png"):
    assert Image.open(f"icc-{name}").info.get("icc_profile"), name
assert open("icc-greys16.png", "rb").read()[24] == 16
assert Image.open("icc-glyph-srgb-chunk.png").info.get("srgb") == 0, "sRGB beside iCCP"
print("icc pictures made and checked")
