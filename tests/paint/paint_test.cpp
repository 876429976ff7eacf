#include "paint/paint.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "reference_scan.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

// trimColour, then parseColour on what it leaves, held to the plain reading of the accepted forms
// (which the run fuzzer holds them to on every input) on the words at the edges of each form; six
// digits are paintCanvas's own rule.
TEST(ColourWord, TrimsAndParsesAsTheAcceptedForms) {
    for (const std::string_view word :
         {"3399cc",    "#00ff00", " 00FF00 ", "##00FF00#", "# #aBcDeF# #",
          "#00FF0",    "0x00FF",  "00 F00",   "00#F00",    "00FF00\t",
          "\t00FF00",  "+ABCDE",  "-00000",   "-0000F",    "+-1234",
          "--1234",    "12345G",  "# # #",    "",          "FFFFFFFF",
          "100000000", "-1",      "+",        "-"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(trimColour(word), fuzz::referenceTrim(word));
        EXPECT_EQ(parseColour(trimColour(word)), fuzz::referenceParse(fuzz::referenceTrim(word)));
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
