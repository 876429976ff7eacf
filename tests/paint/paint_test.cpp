#include "paint/paint.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "reference_scan.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

using test::clearCanvas;
using test::pixelAt;
using test::Rgba;
using test::setPixel;

constexpr std::optional<std::uint32_t> kRejected;

struct WordCase {
    std::string word;
    std::optional<std::uint32_t> value;  // nullopt: rejected
    std::string trimmed;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WordCase& c, std::ostream* os) {
    *os << c.word;
}

class ColourWord : public testing::TestWithParam<WordCase> {};

TEST_P(ColourWord, TrimsAndParsesExactly) {
    const auto& param = GetParam();
    const std::string_view c = trimColour(param.word);
    EXPECT_EQ(c, param.trimmed);
    const auto value = c.size() == 6 ? parseColour(c) : std::nullopt;
    EXPECT_EQ(value, param.value);
}

INSTANTIATE_TEST_SUITE_P(
    Words, ColourWord,
    testing::Values(
        WordCase{"3366cc", 0x3366CC, "3366cc"}, WordCase{"3366CC", 0x3366CC, "3366CC"},
        WordCase{"#00ff00", 0x00FF00, "00ff00"}, WordCase{" 00FF00 ", 0x00FF00, "00FF00"},
        WordCase{"##00FF00#", 0x00FF00, "00FF00"}, WordCase{"# #aBcDeF# #", 0xABCDEF, "aBcDeF"},
        WordCase{"00FF0", kRejected, "00FF0"}, WordCase{"#00FF0", kRejected, "00FF0"},
        WordCase{"00FF000", kRejected, "00FF000"}, WordCase{"0x00FF", kRejected, "0x00FF"},
        WordCase{"00 F00", kRejected, "00 F00"}, WordCase{"00#F00", kRejected, "00#F00"},
        WordCase{"00FF00\t", kRejected, "00FF00\t"}, WordCase{"\t00FF00", kRejected, "\t00FF00"},
        WordCase{"+ABCDE", 0x0ABCDE, "+ABCDE"}, WordCase{"-00000", 0, "-00000"},
        WordCase{"-0000F", kRejected, "-0000F"}, WordCase{"+-1234", kRejected, "+-1234"},
        WordCase{"--1234", kRejected, "--1234"}, WordCase{"12345G", kRejected, "12345G"},
        WordCase{"# # #", kRejected, ""}, WordCase{"", kRejected, ""}));

TEST(ParseColour, StaysInUnsigned32BitRange) {
    EXPECT_EQ(parseColour("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(parseColour("100000000"), std::nullopt);
    EXPECT_EQ(parseColour("-0"), 0u);
    EXPECT_EQ(parseColour("-1"), std::nullopt);
    EXPECT_EQ(parseColour("+"), std::nullopt);
    EXPECT_EQ(parseColour("-"), std::nullopt);
    EXPECT_EQ(parseColour(""), std::nullopt);
}

// Painting in the colour the picture already has still paints: the line is kept and the PNG made.
TEST(PaintCanvas, SameColourStillPaintsAndKeepsTheLine) {
    Canvas canvas = clearCanvas(2, 1);
    setPixel(canvas, 0, 0, {0, 0, 0, 255});
    ProbeStats stats;
    stats.mono = true;
    stats.hex = "000000";
    stats.line = "MONO 000000 0.0000 0.0000 0.5000 1.0000";
    const auto painted = paintCanvas("000000", std::move(canvas), stats);
    ASSERT_TRUE(painted);
    EXPECT_EQ(painted->line, stats.line);
    const auto decoded = makeCanvas(painted->png);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(pixelAt(*decoded, 0, 0), (Rgba{0, 0, 0, 255}));
}

// recolour works from a per-alpha table; this holds it to the plain recolour of the fuzz targets,
// the truncating (colour * alpha) / 255, for every colour byte and every alpha, whatever the pixel
// held before, on 257 x 3 pixels, so that no pixel at the end of the memory may be skipped.
TEST(RecolourExactness, TruncatesEveryProductOfColourAndAlpha) {
    // Each colour byte v appears once as red, green and blue (in three different colours), so the
    // 256 colours cover all 65,536 products on every channel.
    for (unsigned v = 0; v < 256; ++v) {
        auto canvas = allocateCanvas(257, 3);
        ASSERT_TRUE(canvas.has_value());
        std::uint8_t* px = canvas->px();
        for (std::int64_t i = 0; i < canvas->w * canvas->h; ++i) {
            const auto a = static_cast<std::uint8_t>(i % 256);
            px[4 * i] = static_cast<std::uint8_t>(i * 7);
            px[4 * i + 1] = static_cast<std::uint8_t>(255 - a);
            px[4 * i + 2] = px[4 * i + 3] = a;
        }
        const auto r = static_cast<std::uint8_t>(v), g = static_cast<std::uint8_t>(255 - v),
                   b = static_cast<std::uint8_t>(v * 97 + 13);
        const Bytes want = fuzz::referenceRecolour(*canvas, r, g, b);
        recolour(*canvas, r, g, b);
        ASSERT_TRUE(std::ranges::equal(canvas->bytes(), want)) << "colour byte " << v;
    }
}

}  // namespace
}  // namespace cliptint
