// The reply line at every threshold of the verdict, the alpha classes and the rounding of the
// mean and the box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/probe.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

using test::Rgba;

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kGreen{0, 128, 0, 255};
constexpr Rgba kClear19{0, 0, 0, 19}, kVisible21{0, 0, 0, 21};

// count pixels of one colour from pixel first on, in memory order.
struct PixelRun {
    std::int64_t first, count;
    Rgba colour;
};

Canvas canvasOf(std::int64_t w, std::int64_t h, const std::vector<PixelRun>& runs) {
    Canvas canvas = test::clearCanvas(w, h);
    for (const PixelRun& run : runs) {
        for (std::int64_t n = run.first; n < run.first + run.count; ++n)
            test::setPixel(canvas, n % w, n / w, run.colour);
    }
    return canvas;
}

TEST(ScanCanvas, GivesTheExactLineAtEveryBoundary) {
    struct Case {
        const char* name;
        std::int64_t w, h;
        std::vector<PixelRun> runs;  // on a clear canvas
        const char* line;
    };
    // clang-format off
    const Case cases[] = {
        {"one-pixel glyph", 10, 10, {{73, 1, {255, 0, 0, 255}}},
         "MONO FF0000 0.3000 0.7000 0.4000 0.8000"},
        {"no clear pixel", 1, 1, {{0, 1, {10, 20, 30, 255}}},
         "MULTI 0A141E 0.0000 0.0000 1.0000 1.0000"},
        {"6 % strays", 20, 20, {{0, 94, kBlack}, {94, 6, kWhite}},
         "MULTI 0F0F0F 0.0000 0.0000 1.0000 0.2500"},
        {"5 % strays", 20, 20, {{0, 95, kBlack}, {95, 5, kWhite}},
         "MONO 0D0D0D 0.0000 0.0000 1.0000 0.2500"},
        {"15 % clear", 10, 10, {{15, 85, kGreen}},
         "MULTI 008000 0.0000 0.1000 1.0000 1.0000"},
        {"16 % clear", 10, 10, {{16, 84, kGreen}},
         "MONO 008000 0.0000 0.1000 1.0000 1.0000"},
        {"alpha 20 neither", 10, 10, {{10, 10, {0, 0, 0, 20}}, {20, 80, {0, 0, 255, 255}}},
         "MULTI 0000FF 0.0000 0.2000 1.0000 1.0000"},
        {"visible, none solid", 4, 4, {{5, 1, {50, 50, 50, 100}}, {10, 1, {50, 50, 50, 199}}},
         "MULTI 000000 0.2500 0.2500 0.7500 0.7500"},
        {"distance exactly 90: no stray", 4, 1, {{0, 1, kBlack}, {1, 1, {180, 0, 0, 255}}},
         "MONO 5A0000 0.0000 0.0000 0.5000 1.0000"},
        {"distance over 90: stray", 4, 1, {{0, 1, kBlack}, {1, 1, {182, 0, 0, 255}}},
         "MULTI 5B0000 0.0000 0.0000 0.5000 1.0000"},
        {"halves round away from zero", 4, 1, {{0, 1, {127, 0, 0, 255}}, {1, 1, {128, 0, 0, 255}}},
         "MONO 800000 0.0000 0.0000 0.5000 1.0000"},
        {"unpremultiplied before summing", 4, 1, {{0, 1, {100, 100, 100, 200}}},
         "MONO 808080 0.0000 0.0000 0.2500 1.0000"},
        {"box to four digits", 3, 3, {{4, 1, kWhite}},
         "MONO FFFFFF 0.3333 0.3333 0.6667 0.6667"},
        {"box reaches every edge", 5, 5, {{0, 1, kBlack}, {24, 1, kBlack}},
         "MONO 000000 0.0000 0.0000 1.0000 1.0000"},
        // Alpha 199 widens the box but is left out of the mean; 200 is counted.
        {"199 widens the box only", 10, 1, {{2, 1, {199, 0, 0, 199}}, {5, 1, {0, 0, 200, 200}}},
         "MONO 0000FF 0.2000 0.0000 0.6000 1.0000"},
        {"21 visible, 19 clear", 10, 1, {{1, 1, kClear19}, {3, 1, kVisible21}, {6, 1, kWhite}},
         "MONO FFFFFF 0.3000 0.0000 0.7000 1.0000"},
        // An alpha-200 red pixel and an opaque black one average to 127.5 red, not to an
        // alpha-weighted mean.
        {"solid pixels weigh the same", 4, 1, {{0, 1, {200, 0, 0, 200}}, {1, 1, kBlack}},
         "MULTI 800000 0.0000 0.0000 0.5000 1.0000"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stats = scanCanvas(canvasOf(c.w, c.h, c.runs));
        ASSERT_TRUE(stats) << stats.error();
        EXPECT_EQ(stats->line, c.line);
    }
}

// Uniformly clear, and clear or alpha 19 between pixels of alpha 20.
TEST(ScanCanvas, AlphaUpToTwentyEverywhereIsEmpty) {
    for (const std::uint8_t alpha : {0, 19, 20}) {
        for (const std::int64_t step : {1, 2}) {
            Canvas canvas = test::clearCanvas(33, 3);
            for (std::int64_t n = 0; n < 99; ++n)
                test::setPixel(canvas, n % 33, n / 33,
                               {0, 0, 0, n % step == 0 ? alpha : std::uint8_t{20}});
            const auto stats = scanCanvas(canvas);
            ASSERT_FALSE(stats) << "alpha " << int(alpha);
            EXPECT_EQ(stats.error(), "empty picture");
        }
    }
}

}  // namespace
}  // namespace cliptint
