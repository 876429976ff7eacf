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

// count pixels of one colour from pixel first on, in memory order.
struct Run {
    std::int64_t first, count;
    Rgba colour;
};

struct ScanCase {
    std::string name;
    std::int64_t w, h;
    std::vector<Run> runs;  // on a clear canvas
    std::string line;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

Canvas canvasOf(const ScanCase& c) {
    Canvas canvas = test::clearCanvas(c.w, c.h);
    for (const Run& run : c.runs) {
        for (std::int64_t n = run.first; n < run.first + run.count; ++n)
            test::setPixel(canvas, n % c.w, n / c.w, run.colour);
    }
    return canvas;
}

class ScanLine : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanLine, GivesTheExactReplyLine) {
    const auto stats = scanCanvas(canvasOf(GetParam()));
    ASSERT_TRUE(stats) << stats.error();
    EXPECT_EQ(stats->line, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ScanLine,
    testing::Values(
        ScanCase{"OnePixelGlyph",
                 10,
                 10,
                 {{73, 1, {255, 0, 0, 255}}},
                 "MONO FF0000 0.3000 0.7000 0.4000 0.8000"},
        ScanCase{"NoClearPixelIsMulti",
                 1,
                 1,
                 {{0, 1, {10, 20, 30, 255}}},
                 "MULTI 0A141E 0.0000 0.0000 1.0000 1.0000"},
        ScanCase{"SixPercentStraysIsMulti",
                 20,
                 20,
                 {{0, 94, kBlack}, {94, 6, kWhite}},
                 "MULTI 0F0F0F 0.0000 0.0000 1.0000 0.2500"},
        ScanCase{"FivePercentStraysIsMono",
                 20,
                 20,
                 {{0, 95, kBlack}, {95, 5, kWhite}},
                 "MONO 0D0D0D 0.0000 0.0000 1.0000 0.2500"},
        ScanCase{"FifteenPercentClearIsMulti",
                 10,
                 10,
                 {{15, 85, {0, 128, 0, 255}}},
                 "MULTI 008000 0.0000 0.1000 1.0000 1.0000"},
        ScanCase{"SixteenPercentClearIsMono",
                 10,
                 10,
                 {{16, 84, {0, 128, 0, 255}}},
                 "MONO 008000 0.0000 0.1000 1.0000 1.0000"},
        ScanCase{"AlphaTwentyIsNeitherClearNorVisible",
                 10,
                 10,
                 {{10, 10, {0, 0, 0, 20}}, {20, 80, {0, 0, 255, 255}}},
                 "MULTI 0000FF 0.0000 0.2000 1.0000 1.0000"},
        ScanCase{"VisibleButNoSolidPixel",
                 4,
                 4,
                 {{5, 1, {50, 50, 50, 100}}, {10, 1, {50, 50, 50, 199}}},
                 "MULTI 000000 0.2500 0.2500 0.7500 0.7500"},
        ScanCase{"DistanceOfExactlyNinetyIsNoStray",
                 4,
                 1,
                 {{0, 1, kBlack}, {1, 1, {180, 0, 0, 255}}},
                 "MONO 5A0000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"DistanceOverNinetyIsStray",
                 4,
                 1,
                 {{0, 1, kBlack}, {1, 1, {182, 0, 0, 255}}},
                 "MULTI 5B0000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"HalvesRoundAwayFromZero",
                 4,
                 1,
                 {{0, 1, {127, 0, 0, 255}}, {1, 1, {128, 0, 0, 255}}},
                 "MONO 800000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"ColoursAreUnpremultipliedBeforeSumming",
                 4,
                 1,
                 {{0, 1, {100, 100, 100, 200}}},
                 "MONO 808080 0.0000 0.0000 0.2500 1.0000"},
        ScanCase{"BoxFractionsRoundToFourDigits",
                 3,
                 3,
                 {{4, 1, kWhite}},
                 "MONO FFFFFF 0.3333 0.3333 0.6667 0.6667"},
        ScanCase{"BoxReachesEveryEdge",
                 5,
                 5,
                 {{0, 1, kBlack}, {24, 1, kBlack}},
                 "MONO 000000 0.0000 0.0000 1.0000 1.0000"},
        // A pixel of alpha 199 widens the box but is left out of the mean; 200 is counted.
        ScanCase{"Alpha199WidensBoxOnly",
                 10,
                 1,
                 {{2, 1, {199, 0, 0, 199}}, {5, 1, {0, 0, 200, 200}}},
                 "MONO 0000FF 0.2000 0.0000 0.6000 1.0000"},
        ScanCase{"Alpha21IsVisibleAlpha19IsClear",
                 10,
                 1,
                 {{1, 1, {0, 0, 0, 19}}, {3, 1, {0, 0, 0, 21}}, {6, 1, kWhite}},
                 "MONO FFFFFF 0.3000 0.0000 0.7000 1.0000"},
        // Every solid pixel weighs the same: an alpha-200 red pixel and an opaque black one
        // average to 127.5 red, not to an alpha-weighted mean.
        ScanCase{"SolidPixelsWeighTheSame",
                 4,
                 1,
                 {{0, 1, {200, 0, 0, 200}}, {1, 1, kBlack}},
                 "MULTI 800000 0.0000 0.0000 0.5000 1.0000"}),
    [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

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

TEST(Chan, UnpremultipliesWithoutRounding) {
    const std::uint8_t px[] = {100, 7, 0, 200, 9, 9, 9, 0, 13, 14, 15, 255};
    EXPECT_EQ(chan(px, 0, 0), 127.5);
    EXPECT_EQ(chan(px, 0, 1), 7.0 * 255.0 / 200.0);
    EXPECT_EQ(chan(px, 4, 0), 0.0);
    EXPECT_EQ(chan(px, 8, 2), 15.0);
}

}  // namespace
}  // namespace cliptint
