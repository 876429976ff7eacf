#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "probe/probe.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

using test::clearCanvas;
using test::Rgba;
using test::setPixel;

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};

// Fills the first `count` pixels in memory order with the colour.
void fillRun(Canvas& canvas, std::int64_t first, std::int64_t count, Rgba colour) {
    for (std::int64_t n = first; n < first + count; ++n) {
        setPixel(canvas, n % canvas.w, n / canvas.w, colour);
    }
}

struct ScanCase {
    std::string name;
    std::int64_t w;
    std::int64_t h;
    std::function<void(Canvas&)> draw;
    std::string line;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class ScanLine : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanLine, GivesTheExactReplyLine) {
    const auto& param = GetParam();
    Canvas canvas = clearCanvas(param.w, param.h);
    param.draw(canvas);
    const auto stats = scanCanvas(canvas);
    ASSERT_TRUE(stats) << stats.error();
    EXPECT_EQ(stats->line, param.line);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ScanLine,
    testing::Values(
        ScanCase{"OnePixelGlyph", 10, 10,
                 [](Canvas& c) {
                     setPixel(c, 3, 7, {255, 0, 0, 255});
                 },
                 "MONO FF0000 0.3000 0.7000 0.4000 0.8000"},
        ScanCase{"NoClearPixelIsMulti", 1, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, {10, 20, 30, 255});
                 },
                 "MULTI 0A141E 0.0000 0.0000 1.0000 1.0000"},
        ScanCase{"SixPercentStraysIsMulti", 20, 20,
                 [](Canvas& c) {
                     fillRun(c, 0, 94, kBlack);
                     fillRun(c, 94, 6, kWhite);
                 },
                 "MULTI 0F0F0F 0.0000 0.0000 1.0000 0.2500"},
        ScanCase{"FivePercentStraysIsMono", 20, 20,
                 [](Canvas& c) {
                     fillRun(c, 0, 95, kBlack);
                     fillRun(c, 95, 5, kWhite);
                 },
                 "MONO 0D0D0D 0.0000 0.0000 1.0000 0.2500"},
        ScanCase{"FifteenPercentClearIsMulti", 10, 10,
                 [](Canvas& c) {
                     fillRun(c, 15, 85, {0, 128, 0, 255});
                 },
                 "MULTI 008000 0.0000 0.1000 1.0000 1.0000"},
        ScanCase{"SixteenPercentClearIsMono", 10, 10,
                 [](Canvas& c) {
                     fillRun(c, 16, 84, {0, 128, 0, 255});
                 },
                 "MONO 008000 0.0000 0.1000 1.0000 1.0000"},
        ScanCase{"AlphaTwentyIsNeitherClearNorVisible", 10, 10,
                 [](Canvas& c) {
                     fillRun(c, 10, 10, {0, 0, 0, 20});
                     fillRun(c, 20, 80, {0, 0, 255, 255});
                 },
                 "MULTI 0000FF 0.0000 0.2000 1.0000 1.0000"},
        ScanCase{"VisibleButNoSolidPixel", 4, 4,
                 [](Canvas& c) {
                     setPixel(c, 1, 1, {50, 50, 50, 100});
                     setPixel(c, 2, 2, {50, 50, 50, 199});
                 },
                 "MULTI 000000 0.2500 0.2500 0.7500 0.7500"},
        ScanCase{"DistanceOfExactlyNinetyIsNoStray", 4, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, kBlack);
                     setPixel(c, 1, 0, {180, 0, 0, 255});
                 },
                 "MONO 5A0000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"DistanceOverNinetyIsStray", 4, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, kBlack);
                     setPixel(c, 1, 0, {182, 0, 0, 255});
                 },
                 "MULTI 5B0000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"HalvesRoundAwayFromZero", 4, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, {127, 0, 0, 255});
                     setPixel(c, 1, 0, {128, 0, 0, 255});
                 },
                 "MONO 800000 0.0000 0.0000 0.5000 1.0000"},
        ScanCase{"ColoursAreUnpremultipliedBeforeSumming", 4, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, {100, 100, 100, 200});
                 },
                 "MONO 808080 0.0000 0.0000 0.2500 1.0000"},
        ScanCase{"BoxFractionsRoundToFourDigits", 3, 3,
                 [](Canvas& c) { setPixel(c, 1, 1, kWhite); },
                 "MONO FFFFFF 0.3333 0.3333 0.6667 0.6667"},
        ScanCase{"BoxReachesEveryEdge", 5, 5,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, kBlack);
                     setPixel(c, 4, 4, kBlack);
                 },
                 "MONO 000000 0.0000 0.0000 1.0000 1.0000"},
        // A pixel of alpha 199 widens the box but is left out of the mean; 200 is counted.
        ScanCase{"Alpha199WidensBoxOnly", 10, 1,
                 [](Canvas& c) {
                     setPixel(c, 2, 0, {199, 0, 0, 199});
                     setPixel(c, 5, 0, {0, 0, 200, 200});
                 },
                 "MONO 0000FF 0.2000 0.0000 0.6000 1.0000"},
        ScanCase{"Alpha21IsVisibleAlpha19IsClear", 10, 1,
                 [](Canvas& c) {
                     setPixel(c, 1, 0, {0, 0, 0, 19});
                     setPixel(c, 3, 0, {0, 0, 0, 21});
                     setPixel(c, 6, 0, kWhite);
                 },
                 "MONO FFFFFF 0.3000 0.0000 0.7000 1.0000"},
        // Every solid pixel weighs the same: an alpha-200 red pixel and an opaque black one
        // average to 127.5 red, not to an alpha-weighted mean.
        ScanCase{"SolidPixelsWeighTheSame", 4, 1,
                 [](Canvas& c) {
                     setPixel(c, 0, 0, {200, 0, 0, 200});
                     setPixel(c, 1, 0, kBlack);
                 },
                 "MULTI 800000 0.0000 0.0000 0.5000 1.0000"}),
    [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

TEST(ScanCanvas, AlphaUpToTwentyEverywhereIsEmpty) {
    for (const std::uint8_t alpha : {0, 19, 20}) {
        Canvas canvas = clearCanvas(7, 3);
        fillRun(canvas, 0, 21, {0, 0, 0, alpha});
        const auto stats = scanCanvas(canvas);
        ASSERT_FALSE(stats) << "alpha " << int(alpha);
        EXPECT_EQ(stats.error(), "empty picture");
    }
}

TEST(ScanCanvas, KeepsTheFieldsThatPaintReads) {
    Canvas canvas = clearCanvas(10, 10);
    setPixel(canvas, 3, 7, {255, 0, 0, 255});
    const auto stats = scanCanvas(canvas);
    ASSERT_TRUE(stats);
    EXPECT_TRUE(stats->mono);
    EXPECT_EQ(stats->hex, "FF0000");
    EXPECT_EQ(stats->box, "0.3000 0.7000 0.4000 0.8000");
    EXPECT_EQ(stats->clear, 99);
    EXPECT_EQ(stats->drawn, 1);
    EXPECT_EQ(stats->stray, 0);
    EXPECT_DOUBLE_EQ(stats->clearShare, 0.99);
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
