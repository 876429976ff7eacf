#include "paint/paint.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "reference_scan.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

constexpr std::optional<std::uint32_t> kRejected;

// trimColour, then parseColour on what it leaves; six digits are paintCanvas's own rule.
TEST(ColourWord, TrimsAndParsesExactly) {
    struct Case {
        std::string word, trimmed;
        std::optional<std::uint32_t> value;
    };
    // clang-format off
    const Case cases[] = {
        {"3399cc", "3399cc", 0x3399CC}, {"#00ff00", "00ff00", 0x00FF00},
        {" 00FF00 ", "00FF00", 0x00FF00}, {"##00FF00#", "00FF00", 0x00FF00},
        {"# #aBcDeF# #", "aBcDeF", 0xABCDEF}, {"#00FF0", "00FF0", 0x00FF0},
        {"0x00FF", "0x00FF", kRejected}, {"00 F00", "00 F00", kRejected},
        {"00#F00", "00#F00", kRejected}, {"00FF00\t", "00FF00\t", kRejected},
        {"\t00FF00", "\t00FF00", kRejected}, {"+ABCDE", "+ABCDE", 0x0ABCDE},
        {"-00000", "-00000", 0}, {"-0000F", "-0000F", kRejected},
        {"+-1234", "+-1234", kRejected}, {"--1234", "--1234", kRejected},
        {"12345G", "12345G", kRejected}, {"# # #", "", kRejected}, {"", "", kRejected},
        {"FFFFFFFF", "FFFFFFFF", 0xFFFFFFFF}, {"100000000", "100000000", kRejected},
        {"-1", "-1", kRejected}, {"+", "+", kRejected}, {"-", "-", kRejected},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(trimColour(c.word), c.trimmed);
        EXPECT_EQ(parseColour(c.trimmed), c.value);
    }
}

// recolour works from a per-alpha table; this holds it to the plain recolour of the fuzz targets,
// the truncating (colour * alpha) / 255, for every colour byte and every alpha, whatever the pixel
// held before, on 257 x 3 pixels, so that no pixel at the end of the memory may be skipped.
TEST(RecolourExactness, TruncatesEveryProductOfColourAndAlpha) {
    // Each colour byte v appears once as red, green and blue (in three different colours), so the
    // 256 colours cover all 65,536 products on every channel.
    for (unsigned v = 0; v < 256; ++v) {
        Canvas canvas = test::clearCanvas(257, 3);
        std::uint8_t* px = canvas.px();
        for (std::int64_t i = 0; i < canvas.w * canvas.h; ++i) {
            const auto a = static_cast<std::uint8_t>(i % 256);
            px[4 * i] = static_cast<std::uint8_t>(i * 7);
            px[4 * i + 1] = static_cast<std::uint8_t>(255 - a);
            px[4 * i + 2] = px[4 * i + 3] = a;
        }
        const auto r = static_cast<std::uint8_t>(v), g = static_cast<std::uint8_t>(255 - v),
                   b = static_cast<std::uint8_t>(v * 97 + 13);
        const Bytes want = fuzz::referenceRecolour(canvas, r, g, b);
        recolour(canvas, r, g, b);
        ASSERT_TRUE(std::ranges::equal(canvas.bytes(), want)) << "colour byte " << v;
    }
}

}  // namespace
}  // namespace cliptint
