// The reply line where only an exact tie tells two readings of a threshold apart (a stray share
// of 6 %, a clear share of 15 %, a distance of 90, a half in the mean), which random canvases do
// not reach; and every field of the scan, shortcuts (whole blocks of clear or opaque pixels, block
// totals added at once, per-alpha look-up tables) and all, held to the plain pixel-by-pixel scan
// that the fuzz targets use too, bit for bit, on canvases of every edge alpha (so every alpha
// class, the unpremultiplied sums and the formatting of the line) built to hit every shortcut's
// edge.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "probe/probe.hpp"
#include "reference_scan.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint {
namespace {

using test::PixelRun;
using test::Rgba;

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kGreen{0, 128, 0, 255};

TEST(ScanCanvas, GivesTheExactLineAtEveryTie) {
    struct Case {
        const char* name;
        std::int64_t w, h;
        std::vector<PixelRun> runs;  // on a clear canvas
        std::string start;  // of the line: the verdict and the mean (the box is the cross-check's)
    };
    // clang-format off
    const Case cases[] = {
        {"6 % strays", 20, 20, {{0, 94, kBlack}, {94, 6, kWhite}}, "MULTI 0F0F0F"},
        {"5 % strays", 20, 20, {{0, 95, kBlack}, {95, 5, kWhite}}, "MONO 0D0D0D"},
        {"15 % clear", 10, 10, {{15, 85, kGreen}}, "MULTI 008000"},
        {"16 % clear", 10, 10, {{16, 84, kGreen}}, "MONO 008000"},
        {"at 90: no stray", 4, 1, {{0, 1, kBlack}, {1, 1, {180, 0, 0, 255}}}, "MONO 5A0000"},
        {"over 90: stray", 4, 1, {{0, 1, kBlack}, {1, 1, {182, 0, 0, 255}}}, "MULTI 5B0000"},
        // A mean of 126.5, which truncation and rounding to even both make 126.
        {"halves round up", 4, 1, {{0, 1, {126, 0, 0, 255}}, {1, 1, {127, 0, 0, 255}}},
         "MONO 7F0000"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stats = scanCanvas(test::clearCanvas(c.w, c.h, c.runs));
        ASSERT_TRUE(stats);
        EXPECT_EQ(stats->line.substr(0, c.start.size()), c.start);
    }
}

// Every field the scan computes, the doubles as their bits.
auto fields(const ProbeStats& s) {
    const auto bits = [](double value) { return std::bit_cast<std::uint64_t>(value); };
    return std::tuple(s.line, s.minX, s.minY, s.maxX, s.maxY, s.clear, s.drawn, s.stray, bits(s.sr),
                      bits(s.sg), bits(s.sb), bits(s.sw), bits(s.mr), bits(s.mg), bits(s.mb));
}

void expectAsReference(const Canvas& canvas) {
    const auto want = fuzz::referenceScan(canvas);
    const auto got = scanCanvas(canvas);
    ASSERT_EQ(got.has_value(), want.has_value());
    if (!want) return;
    EXPECT_EQ(fields(*got), fields(*want));
}

// The alphas where a class begins or ends, and the opaque and clear ones the fast paths take.
constexpr std::uint8_t kEdgeAlphas[] = {0, 1, 19, 20, 21, 100, 199, 200, 201, 254, 255};

struct Painter {
    std::mt19937_64 random;

    std::uint8_t upTo(unsigned most) {
        return static_cast<std::uint8_t>(std::uniform_int_distribution<unsigned>(0, most)(random));
    }
    std::uint8_t edge() { return kEdgeAlphas[upTo(std::size(kEdgeAlphas) - 1)]; }
    // A premultiplied pixel of the given alpha: no colour byte above it.
    void pixel(std::uint8_t* p, std::uint8_t a) {
        p[0] = upTo(a);
        p[1] = upTo(a);
        p[2] = upTo(a);
        p[3] = a;
    }

    // Runs of 1..40 pixels, so that runs start and end anywhere in a 16-pixel block. Each run's
    // kind is one of the mix's ten letters: c clear, s one opaque colour, r one edge alpha, e an
    // edge alpha per pixel, a any alpha, n opaque noise with one pixel in 50 solid (200..254).
    void paintRuns(Canvas& canvas, const char* mix) {
        const std::int64_t pixels = canvas.w * canvas.h;
        for (std::int64_t n = 0; n < pixels;) {
            const char kind = mix[upTo(9)];
            std::uint8_t solid[4];
            pixel(solid, 255);
            const std::uint8_t runAlpha = edge();
            for (const std::int64_t end = std::min(pixels, n + 1 + upTo(39)); n < end; ++n) {
                std::uint8_t* p = canvas.px() + 4 * n;
                pixel(p, kind == 'c'     ? 0
                         : kind == 'r'   ? runAlpha
                         : kind == 'e'   ? edge()
                         : kind == 'a'   ? upTo(255)
                         : kind == 's'   ? 255
                         : upTo(49) == 0 ? static_cast<std::uint8_t>(200 + upTo(54))
                                         : std::uint8_t{255});
                if (kind == 's') std::copy(solid, solid + 3, p);
            }
        }
    }
};

TEST(ScanExactness, BlockShortcutsGiveTheRowMajorSumsBitForBit) {
    // Widths below, at and around the 16-pixel block, so rows end inside blocks.
    const std::int64_t sizes[][2] = {{1, 1},  {1, 37}, {15, 9},  {16, 16}, {17, 5},
                                     {31, 8}, {33, 7}, {64, 64}, {100, 3}, {257, 40}};
    // Edge alphas; clear runs between any alphas; opaque runs (whole uniform blocks, many of them
    // strays); glyph-like; opaque noise.
    const char* mixes[] = {"eeeeeeeeee", "ccccccaaaa", "sssssssrrr", "cccccssssa", "nnnnnnnnnn"};
    Painter painter{std::mt19937_64{20240607}};
    for (int round = 0; round < 8; ++round) {
        for (const auto& [w, h] : sizes) {
            for (const char* mix : mixes) {
                SCOPED_TRACE(std::string(mix) + " " + std::to_string(w) + "x" + std::to_string(h));
                Canvas canvas = test::clearCanvas(w, h);
                painter.paintRuns(canvas, mix);
                expectAsReference(canvas);
            }
        }
    }
}

// A small fractional sum followed by a whole opaque block that carries it through several binades
// at once: adding the block's total in one step rounds differently here for about one canvas in
// thirty, so a shortcut without the binade check fails this test.
TEST(ScanExactness, OpaqueBlockAfterAFractionRoundsAsOneAtATime) {
    Painter painter{std::mt19937_64{5}};
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        Canvas canvas = test::clearCanvas(32, 1);
        painter.pixel(canvas.px(), static_cast<std::uint8_t>(201 + painter.upTo(53)));
        for (int i = 16; i < 32; ++i)
            painter.pixel(canvas.px() + 4 * i, 255);
        expectAsReference(canvas);
    }
}

}  // namespace
}  // namespace cliptint
