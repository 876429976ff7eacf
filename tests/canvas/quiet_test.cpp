// The built tool on damaged and odd files: one reply line, exit status 0, and nothing at all on
// stderr, although libtiff, libjpeg and libspng all have something to say about these files.
#include <gtest/gtest.h>

#include <vector>

#include "hand_made.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

namespace {

struct QuietCase {
    std::string name;
    Bytes bytes;
    std::string reply;  // the start of the reply line
};

void PrintTo(const QuietCase& c, std::ostream* out) {
    *out << c.name;
}

Bytes cut(const std::string& file, std::size_t dropped) {
    Bytes bytes = dataBytes(file);
    bytes.resize(bytes.size() - dropped);
    return bytes;
}

// Junk before the final marker: libjpeg warns "extraneous bytes before marker" and decodes.
Bytes jpegWithJunkBeforeEnd() {
    Bytes bytes = dataBytes("jpg-rgb.jpg");
    bytes.insert(bytes.end() - 2, {0x12, 0x34, 0x56});
    return bytes;
}

std::vector<QuietCase> quietCases() {
    return {
        {"TiffCutInStrip", cut("tif-ref-unassoc.tif", 10), "ERR image"},
        {"TiffCutInDirectory", cut("tif-grid-tiled.tif", 100), "ERR no picture on the clipboard"},
        {"TiffHugeHeader", tiffWithSize(100000, 100000), "ERR picture size"},
        {"TiffPaletteCutInStrip", cut("tif-palette.tif", 2), "ERR image"},
        // libtiff warns about a tag it does not know, and the picture still decodes.
        {"TiffUnknownTag", dataBytes("tif-unknown-tag.tif"), "MULTI"},
        {"JpegCutInPixels", cut("jpg-rgb.jpg", 20), "ERR image"},
        {"JpegCutInHeader", cut("jpg-rgb.jpg", 400), "ERR no picture on the clipboard"},
        {"JpegJunkBeforeEnd", jpegWithJunkBeforeEnd(), "MULTI"},
        {"PngCutInPixels", cut("png-grid.png", 20), "ERR image"},
        {"WebpCutInPixels", cut("webp-ref-lossless.webp", 10), "ERR image"},
        {"GifCutInPixels", cut("gif-interlaced.gif", 10), "ERR image"},
        // lcms2 refuses the profiles cut short; the pictures are taken as untagged.
        {"PngDamagedProfile", dataBytes("icc-glyph-damaged.png"), "MONO 78963C"},
        {"JpegDamagedProfile", dataBytes("icc-flat-damaged.jpg"), "MULTI 78963C"},
    };
}

class QuietRun : public testing::TestWithParam<QuietCase> {};

TEST_P(QuietRun, PrintsOneLineAndNothingOnStderr) {
    const TempDir dir;
    writeWholeFile(dir.file("in"), std::string(GetParam().bytes.begin(), GetParam().bytes.end()));
    const ToolRun run = runTool({"--file", dir.file("in"), dir.file("out"), "probe"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind(GetParam().reply, 0), 0u) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Files, QuietRun, testing::ValuesIn(quietCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace

}  // namespace cliptint::test
