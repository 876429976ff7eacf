#include "paint/paint.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

using test::clearCanvas;
using test::pixelAt;
using test::Rgba;
using test::setPixel;

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
        WordCase{"00FF0", std::nullopt, "00FF0"}, WordCase{"#00FF0", std::nullopt, "00FF0"},
        WordCase{"00FF000", std::nullopt, "00FF000"}, WordCase{"0x00FF", std::nullopt, "0x00FF"},
        WordCase{"00 F00", std::nullopt, "00 F00"}, WordCase{"00#F00", std::nullopt, "00#F00"},
        WordCase{"00FF00\t", std::nullopt, "00FF00\t"},
        WordCase{"\t00FF00", std::nullopt, "\t00FF00"}, WordCase{"+ABCDE", 0x0ABCDE, "+ABCDE"},
        WordCase{"-00000", 0, "-00000"}, WordCase{"-0000F", std::nullopt, "-0000F"},
        WordCase{"+-1234", std::nullopt, "+-1234"}, WordCase{"--1234", std::nullopt, "--1234"},
        WordCase{"12345G", std::nullopt, "12345G"}, WordCase{"# # #", std::nullopt, ""},
        WordCase{"", std::nullopt, ""}));

TEST(ParseColour, StaysInUnsigned32BitRange) {
    EXPECT_EQ(parseColour("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(parseColour("100000000"), std::nullopt);
    EXPECT_EQ(parseColour("-0"), 0u);
    EXPECT_EQ(parseColour("-1"), std::nullopt);
    EXPECT_EQ(parseColour("+"), std::nullopt);
    EXPECT_EQ(parseColour("-"), std::nullopt);
    EXPECT_EQ(parseColour(""), std::nullopt);
}

struct RecolourCase {
    std::uint8_t colour;
    std::uint8_t alpha;
    std::uint8_t stored;
};

TEST(Recolour, TruncatesTheProductOverTwoFiftyFive) {
    const RecolourCase cases[] = {{255, 0, 0},    {255, 1, 1},     {1, 254, 0},     {255, 128, 128},
                                  {128, 128, 64}, {200, 255, 200}, {254, 254, 253}, {0, 255, 0}};
    for (const auto& [colour, alpha, stored] : cases) {
        Canvas canvas = clearCanvas(1, 1);
        setPixel(canvas, 0, 0, {alpha, 0, alpha, alpha});
        recolour(canvas, colour, colour, colour);
        EXPECT_EQ(pixelAt(canvas, 0, 0), (Rgba{stored, stored, stored, alpha}))
            << "colour " << int(colour) << " alpha " << int(alpha);
    }
}

TEST(Recolour, RewritesClearAndAlphaTwentyPixelsAndKeepsAlpha) {
    Canvas canvas = clearCanvas(3, 1);
    setPixel(canvas, 0, 0, {0, 0, 0, 0});
    setPixel(canvas, 1, 0, {20, 20, 20, 20});
    setPixel(canvas, 2, 0, {9, 9, 9, 255});
    recolour(canvas, 51, 102, 204);
    EXPECT_EQ(pixelAt(canvas, 0, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(canvas, 1, 0), (Rgba{4, 8, 16, 20}));
    EXPECT_EQ(pixelAt(canvas, 2, 0), (Rgba{51, 102, 204, 255}));
}

ProbeStats monoStats(std::string hex) {
    ProbeStats stats;
    stats.mono = true;
    stats.hex = hex;
    stats.box = "0.0000 0.0000 0.5000 1.0000";
    stats.line = "MONO " + hex + " " + stats.box;
    return stats;
}

TEST(PaintCanvas, RejectsBadWordWithTheTrimmedWord) {
    for (const std::string word : {"#00FF0", "# #", "00FF00\t", "zzzzzz"}) {
        const auto painted = paintCanvas(word, clearCanvas(2, 1), monoStats("070707"));
        ASSERT_FALSE(painted);
        EXPECT_EQ(painted.error(), "colour " + std::string(trimColour(word)));
    }
}

TEST(PaintCanvas, ReplacesTheMeanByTheNewColourInUpperCase) {
    for (const std::string word : {"#3366cc", "3366CC", " 3366Cc#"}) {
        Canvas canvas = clearCanvas(2, 1);
        setPixel(canvas, 0, 0, {0, 0, 0, 255});
        const auto painted = paintCanvas(word, std::move(canvas), monoStats("000000"));
        ASSERT_TRUE(painted) << painted.error();
        EXPECT_EQ(painted->line, "MONO 3366CC 0.0000 0.0000 0.5000 1.0000");
        // The canvas is consumed, so the painted pixels are read back from the PNG.
        const auto decoded = makeCanvas(painted->png);
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(pixelAt(*decoded, 0, 0), (Rgba{0x33, 0x66, 0xCC, 255}));
    }
}

TEST(PaintCanvas, SameColourStillPaintsAndKeepsTheLine) {
    Canvas canvas = clearCanvas(2, 1);
    setPixel(canvas, 0, 0, {0, 0, 0, 255});
    const auto painted = paintCanvas("000000", std::move(canvas), monoStats("000000"));
    ASSERT_TRUE(painted);
    EXPECT_EQ(painted->line, "MONO 000000 0.0000 0.0000 0.5000 1.0000");
    EXPECT_FALSE(painted->png.empty());
}

}  // namespace
}  // namespace cliptint
