// The scan takes shortcuts (whole blocks of clear or opaque pixels, block totals added at once,
// per-alpha look-up tables). These tests hold it to the plain pixel-by-pixel scan that the fuzz
// targets use too, field by field and bit by bit, on canvases built to hit every shortcut's edge.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>

#include "probe/probe.hpp"
#include "reference_scan.hpp"

namespace cliptint {
namespace {

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

void expectSameStats(const Canvas& canvas, const std::string& what) {
    SCOPED_TRACE(what + " " + std::to_string(canvas.w) + "x" + std::to_string(canvas.h));
    const auto want = fuzz::referenceScan(canvas);
    const auto got = scanCanvas(canvas);
    if (!want) {
        ASSERT_FALSE(got.has_value());
        EXPECT_EQ(got.error(), "empty picture");
        return;
    }
    ASSERT_TRUE(got.has_value()) << got.error();
    EXPECT_EQ(got->line, want->line);
    EXPECT_EQ(
        std::tuple(got->minX, got->minY, got->maxX, got->maxY, got->clear, got->drawn, got->stray),
        std::tuple(want->minX, want->minY, want->maxX, want->maxY, want->clear, want->drawn,
                   want->stray));
    EXPECT_EQ(std::tuple(bits(got->sr), bits(got->sg), bits(got->sb), bits(got->sw)),
              std::tuple(bits(want->sr), bits(want->sg), bits(want->sb), bits(want->sw)))
        << got->sr << " " << got->sg << " " << got->sb << " vs " << want->sr << " " << want->sg
        << " " << want->sb;
    EXPECT_EQ(std::tuple(bits(got->mr), bits(got->mg), bits(got->mb)),
              std::tuple(bits(want->mr), bits(want->mg), bits(want->mb)));
}

// The alphas where a class begins or ends, and the opaque and clear ones the fast paths take.
constexpr std::uint8_t kEdgeAlphas[] = {0, 1, 19, 20, 21, 100, 199, 200, 201, 254, 255};

struct Painter {
    std::mt19937_64 random;

    std::uint8_t byteUpTo(unsigned most) {
        return static_cast<std::uint8_t>(std::uniform_int_distribution<unsigned>(0, most)(random));
    }
    // A premultiplied pixel of the given alpha: no colour byte above it.
    void pixel(std::uint8_t* p, std::uint8_t a) {
        p[0] = byteUpTo(a);
        p[1] = byteUpTo(a);
        p[2] = byteUpTo(a);
        p[3] = a;
    }
};

enum class Mix { edgeAlphas, clearRuns, opaqueRuns, glyphLike, opaqueNoise };

// Fills the canvas in runs of 1..40 pixels, so runs start and end anywhere in a 16-pixel block.
void paintRuns(Canvas& canvas, Mix mix, Painter& painter) {
    std::uint8_t* px = canvas.px();
    const std::int64_t pixels = canvas.w * canvas.h;
    std::int64_t n = 0;
    while (n < pixels) {
        const std::int64_t run = std::min<std::int64_t>(pixels - n, 1 + painter.byteUpTo(39));
        const unsigned choice = painter.byteUpTo(9);
        const std::uint8_t edge = kEdgeAlphas[painter.byteUpTo(std::size(kEdgeAlphas) - 1)];
        std::uint8_t solid[4];
        painter.pixel(solid, 255);
        for (std::int64_t i = n; i < n + run; ++i) {
            std::uint8_t* p = px + 4 * i;
            switch (mix) {
                case Mix::edgeAlphas:
                    painter.pixel(p, kEdgeAlphas[painter.byteUpTo(std::size(kEdgeAlphas) - 1)]);
                    break;
                case Mix::clearRuns:  // all-zero runs between pixels of any alpha
                    painter.pixel(p, choice < 6 ? 0 : painter.byteUpTo(255));
                    break;
                case Mix::opaqueRuns:  // runs of one opaque colour, or of one edge alpha
                    if (choice < 7) std::copy(solid, solid + 4, p);
                    if (choice >= 7) painter.pixel(p, edge);
                    break;
                case Mix::glyphLike:  // clear ground, one ink, now and then an edge alpha
                    if (choice < 5) painter.pixel(p, 0);
                    if (choice >= 5 && choice < 9) std::copy(solid, solid + 4, p);
                    if (choice == 9) painter.pixel(p, painter.byteUpTo(255));
                    break;
                case Mix::opaqueNoise:  // opaque pixels of any colour, one in 50 a solid 200..254
                    painter.pixel(p, painter.byteUpTo(49) == 0 ? 200 + painter.byteUpTo(54) : 255);
                    break;
            }
        }
        n += run;
    }
}

Canvas canvasOf(std::int64_t w, std::int64_t h) {
    auto canvas = allocateCanvas(w, h);
    EXPECT_TRUE(canvas.has_value());
    return std::move(*canvas);
}

TEST(ScanExactness, BlockShortcutsGiveTheRowMajorSumsBitForBit) {
    struct Size {
        std::int64_t w, h;
    };
    // Widths below, at and around the 16-pixel block, so rows end inside blocks.
    const Size sizes[] = {{1, 1},  {1, 37}, {15, 9},  {16, 16}, {17, 5},
                          {31, 8}, {33, 7}, {64, 64}, {100, 3}, {257, 40}};
    const Mix mixes[] = {Mix::edgeAlphas, Mix::clearRuns, Mix::opaqueRuns, Mix::glyphLike,
                         Mix::opaqueNoise};
    Painter painter{std::mt19937_64{20240607}};
    for (int round = 0; round < 8; ++round) {
        for (const Size size : sizes) {
            for (const Mix mix : mixes) {
                Canvas canvas = canvasOf(size.w, size.h);
                paintRuns(canvas, mix, painter);
                expectSameStats(canvas, "mix " + std::to_string(static_cast<int>(mix)));
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
        Canvas canvas = canvasOf(32, 1);
        std::uint8_t* px = canvas.px();
        for (int i = 0; i < 16; ++i)
            painter.pixel(px + 4 * i, i == 0 ? 201 + painter.byteUpTo(53) : 0);
        for (int i = 16; i < 32; ++i)
            painter.pixel(px + 4 * i, 255);
        expectSameStats(canvas, "round " + std::to_string(round));
    }
}

TEST(ScanExactness, UniformOpaqueBlocksCountEveryStray) {
    // One ink with a few far-off blocks of another: the uniform-block shortcut of the second pass
    // must count all 16 pixels of a stray block, and none of an ink block.
    Canvas canvas = canvasOf(160, 10);
    std::uint8_t* px = canvas.px();
    for (std::int64_t i = 0; i < canvas.w * canvas.h; ++i) {
        const bool far = (i / 16) % 7 == 3;
        const std::uint8_t ink[4] = {far ? std::uint8_t{250} : std::uint8_t{10}, 20, 30, 255};
        std::copy(ink, ink + 4, px + 4 * i);
    }
    expectSameStats(canvas, "uniform blocks");
}

}  // namespace
}  // namespace cliptint
