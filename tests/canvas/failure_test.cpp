// Damaged, hostile and borderline input: each answer is the one failure the run reports, reached
// by the first step that fails; and the built tool gives that one reply line and nothing at all
// on stderr, although libtiff, libjpeg and libspng all have something to say about these files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

namespace {

constexpr char kNoPicture[] = "ERR no picture on the clipboard";
constexpr char kSize[] = "ERR picture size";
constexpr char kImage[] = "ERR image";

// The file's first `keep` bytes, or the file without its last -keep bytes.
Bytes cut(const std::string& file, std::ptrdiff_t keep) {
    Bytes bytes = dataBytes(file);
    bytes.resize(static_cast<std::size_t>(keep >= 0 ? keep : std::ssize(bytes) + keep));
    return bytes;
}

// The file with the bytes written over it from offset at.
Bytes patched(const std::string& file, std::size_t at, const Bytes& bytes) {
    Bytes patched = dataBytes(file);
    std::ranges::copy(bytes, patched.begin() + static_cast<std::ptrdiff_t>(at));
    return patched;
}

struct FailureCase {
    std::string name;
    Bytes bytes;
    std::string reply;  // the start of the reply line
};

std::vector<FailureCase> cases() {
    // Junk before the final marker: libjpeg warns "extraneous bytes before marker" and decodes.
    Bytes jpegJunk = dataBytes("jpg-rgb.jpg");
    jpegJunk.insert(jpegJunk.end() - 2, {0x12, 0x34, 0x56});
    // The GIF's screen and colour table, then its trailer: no frame.
    Bytes gifScreen = cut("gif-trns.gif", 25);
    gifScreen.push_back(';');
    // jpg-grey.jpg (8 x 8 of grey 128) after the grey TIFF's 128 bytes, whose tags make it the one
    // strip, in old-style JPEG: no tool writes that any more.
    const Bytes greyJpeg = dataBytes("jpg-grey.jpg");
    Bytes oldStyleJpeg = tiffWithTags(
        "tif-grey8.tif", {{256, 8}, {257, 8}, {259, 6}, {273, 128}, {278, 8}, {279, 331}});
    oldStyleJpeg.insert(oldStyleJpeg.end(), greyJpeg.begin(), greyJpeg.end());
    return {
        {"Empty", {}, kNoPicture},
        {"Text", bytesOf("hello, this is not a picture\n"), kNoPicture},
        {"ElevenZeros", Bytes(11, 0), kNoPicture},
        // A BMP is a picture, but not one of the formats read here.
        {"Bitmap", bytesOf({"BM\x3a\0\0\0\0\0\0\0\x36\0\0\0", 14}), kNoPicture},
        // The signature is right, the header cannot be read: not a picture at all.
        {"PngSignatureOnly", cut("png-rgba8.png", 8), kNoPicture},
        {"TiffCutInDirectory", cut("tif-ref-unassoc.tif", 30), kNoPicture},
        // libtiff refuses a directory of 0 columns or 0 rows outright, so that size is never read.
        {"TiffWidth0", tiffWithTags("tif-grey8.tif", {{256, 0}}), kNoPicture},
        {"TiffHeight0", tiffWithTags("tif-grey8.tif", {{257, 0}}), kNoPicture},
        {"TiffDirectoryBeyondTheEnd", cut("tif-grid-tiled.tif", -100), kNoPicture},
        {"JpegMarkerOnly", cut("jpg-rgb.jpg", 3), kNoPicture},
        {"WebpRiffOnly", cut("webp-ref-lossless.webp", 16), kNoPicture},
        {"GifSignatureOnly", cut("gif-trns.gif", 8), kNoPicture},
        // The header reads, the pixels do not decode.
        {"PngWithoutPixels", fileOf({ihdrOf(4, 4)}), kImage},
        // The last IDAT's CRC (each file ends with it and IEND's 12 bytes), which libspng, stopping
        // where the zlib stream ends, never reads: the IDAT fast path takes the first file, libspng
        // the grey and the 16-bit one. The file may also end before it.
        {"PngRgbaLastCrcWrong", patched("png-rgba8.png", 84, Bytes(4, 0)), kImage},
        {"PngRgbaLastCrcMissing", cut("png-rgba8.png", 84), kImage},
        {"PngGrey1LastCrcWrong", patched("png-grey1.png", 51, Bytes(4, 0)), kImage},
        {"Png16InterlacedLastCrcWrong", patched("png-grid16-interlaced.png", 946, Bytes(4, 0)),
         kImage},
        {"TiffCutInStrip", cut("tif-ref-unassoc.tif", -10), kImage},
        {"TiffScribbledTile", patched("tif-grid-tiled.tif", 10, Bytes(40, 0xFF)), kImage},
        {"TiffPaletteCutInStrip", cut("tif-palette.tif", -2), kImage},
        {"JpegCutInPixels", cut("jpg-rgb.jpg", -20), kImage},
        {"ProgressiveJpegCutInPixels", cut("jpg-progressive.jpg", -100), kImage},
        {"WebpCutInPixels", cut("webp-ref-lossless.webp", -10), kImage},
        {"GifCutInPixels", cut("gif-interlaced.gif", -10), kImage},
        {"GifWithoutFrame", gifScreen, kImage},
        // Sizes beyond the tool's limit or the library's own, stated by headers whose pixels, if
        // any, are far too few: each codec's header read must report the size without decoding.
        {"PngLargestWidth", fileOf({ihdrOf(0x7FFFFFFF, 0x7FFFFFFF)}), kSize},
        {"PngWidthBeyondPng", fileOf({ihdrOf(0x80000000u, 1)}), kSize},
        {"PngWidth0", fileOf({ihdrOf(0, 1)}), kSize},
        {"PngHeight0", fileOf({ihdrOf(1, 0)}), kSize},
        {"Tiff100000Squared",
         tiffWithTags("tif-grey8.tif", {{256, 100000}, {257, 100000}, {278, 100000}}), kSize},
        // The GIF's screen: its width and then its height, little-endian, from offset 6.
        {"Gif65535Squared", patched("gif-trns.gif", 6, {0xFF, 0xFF, 0xFF, 0xFF}), kSize},
        {"GifWidth0", patched("gif-trns.gif", 6, {0, 0}), kSize},
        {"GifHeight0", patched("gif-trns.gif", 8, {0, 0}), kSize},
        // Both JPEGs' frame headers: the height and then the width, big-endian, from offset 163.
        {"Jpeg65500Squared", patched("jpg-rgb.jpg", 163, {0xFF, 0xDC, 0xFF, 0xDC}), kSize},
        {"ProgressiveJpeg8000By5000", patched("jpg-progressive.jpg", 163, {0x13, 0x88, 0x1F, 0x40}),
         kSize},
        {"JpegHeight0", patched("jpg-rgb.jpg", 163, {0, 0}), kSize},
        // VP8L: after its signature 0x2F, 14 bits width - 1, 14 bits height - 1, the alpha hint.
        {"Webp16384Squared", patched("webp-ref-lossless.webp", 21, {0xFF, 0xFF, 0xFF, 0x1F}),
         kSize},
        // The libraries warn about these, and the pictures decode all the same: libtiff about a
        // tag it does not know, lcms2 about the profiles cut short (taken as untagged).
        {"TiffUnknownTag", dataBytes("tif-unknown-tag.tif"), "MULTI"},
        // Tags edited, read as libtiff's own reader reads them. One grey sample that ExtraSamples
        // calls alpha: reading an alpha sample after it ran past the row; it is opaque grey
        // (200, 100, 50). The 16-bit greys as white-is-zero: inverted, AA where they give 55. The
        // premultiplied file without ExtraSamples (its last entry renamed to tag 65000): libtiff
        // calls the fourth sample an unspecified extra one, premultiplied alpha after RGB.
        {"TiffOneSampleCalledAlpha", tiffWithTags("tif-ga8.tif", {{277, 1}}), "MULTI 757575 "},
        {"TiffWhiteIsZero16", tiffWithTags("tif-grey16.tif", {{262, 0}}), "MULTI AAAAAA "},
        {"TiffUnmarkedFourthSample", patched("tif-ref-assoc.tif", 222, {0xE8, 0xFD}),
         "MULTI 72194D 0.0000 0.0000 1.0000 1.0000"},
        // Old-style JPEG decodes only through libtiff's RGBA reader: the grey 128 of the JPEG.
        {"TiffOldStyleJpeg", oldStyleJpeg, "MULTI 808080"},
        {"JpegJunkBeforeEnd", jpegJunk, "MULTI"},
        {"PngDamagedProfile", dataBytes("icc-glyph-damaged.png"), "MONO 78963C"},
        {"JpegDamagedProfile", dataBytes("icc-flat-damaged.jpg"), "MULTI 78963C"},
    };
}

TEST(Failures, AreTheFirstFailingStepsOnlyReplyAndQuiet) {
    for (const FailureCase& c : cases()) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        writeWholeFile(dir.file("in"), std::string(c.bytes.begin(), c.bytes.end()));
        const ToolRun run = runTool({"--file", dir.file("in"), dir.file("out"), "probe"});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out.starts_with(c.reply)) << run.out;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
    }
}

// The pixel limit bounds the width, the height and their product, each allowed up to and
// including the limit; what is allowed is decoded to the last pixel.
TEST(CanvasLimits, AllowUpToTheLimitAndNotOnePixelMore) {
    struct Case {
        std::int64_t w, h;
        bool allowed;
    };
    const Case cases[] = {{12, 1, true},  {1, 12, true},  {4, 3, true},  {13, 1, false},
                          {1, 13, false}, {5, 3, false},  {4, 4, false}, {3, 5, false},
                          {12, 2, false}, {2, 12, false}, {1, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        const Canvas picture = clearCanvas(c.w, c.h, {{c.w * c.h - 1, 1, {9, 8, 7, 255}}});
        const auto canvas = makeCanvas(bytesOf(pngOf(picture)), {.maxPixels = 12});
        EXPECT_EQ(canvas ? "decoded" : "ERR " + canvas.error(), c.allowed ? "decoded" : kSize);
        if (canvas) {
            EXPECT_EQ(allPixels(*canvas), allPixels(picture));
        }
    }
}

}  // namespace

}  // namespace cliptint::test
