// Decodes real files written by PIL and ImageMagick (tests/data/make-data.sh) and checks the
// canvas bytes against values worked out by hand from the pixels each file was made from.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "hand_made.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

constexpr Rgba kClear{0, 0, 0, 0};

// The reference picture, straight (255,0,0,255) (0,255,0,128) (10,20,30,0) (200,100,50,200) /
// (255,255,255,1) (1,2,3,254) (128,64,32,64) (0,0,255,255), premultiplied and rounded:
// 200 * 200 / 255 = 156.86 gives 157, where truncation would give 156.
const std::vector<Rgba> kRef{{255, 0, 0, 255},   {0, 128, 0, 128}, kClear,
                             {157, 78, 39, 200}, {1, 1, 1, 1},     {1, 2, 3, 254},
                             {32, 16, 8, 64},    {0, 0, 255, 255}};

// Straight 16-bit (0x12F0,0x40D0,0xFFFF,0xFFFF) (0xFFFF x3, 0x8000) (0xC000,0x4000,0,0xC000)
// (.., 0): 0x12F0 and 0x40D0 round to 19 and 65; 0xC000 to 191, 0x4000 to 64, 0x8000 to 128;
// then 191 * 191 / 255 = 143.06 and 64 * 191 / 255 = 47.94.
const std::vector<Rgba> kRgba16{
    {19, 65, 255, 255}, {128, 128, 128, 128}, {143, 48, 0, 191}, kClear};
const std::vector<Rgba> kRgb8{{255, 0, 0, 255}, {1, 2, 3, 255}, {128, 64, 32, 255}};
const std::vector<Rgba> kGrey8{grey(0), grey(1), grey(127), grey(128), grey(254), grey(255)};
const std::vector<Rgba> kGrey16{grey(19), grey(65), grey(255), grey(0)};  // not 18, 64
// Straight (200, 100) (50, 255) (255, 0): 200 * 100 / 255 = 78.4.
const std::vector<Rgba> kGreyAlpha8{{78, 78, 78, 100}, grey(50), kClear};
const std::vector<Rgba> kBits{grey(255), grey(0), grey(255), grey(255),
                              grey(0),   grey(0), grey(255), grey(0)};
const std::vector<Rgba> kPalette{
    {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {17, 34, 51, 255}};

struct ExactCase {
    std::string file;
    std::int64_t w, h;
    std::vector<Rgba> pixels;  // every pixel, row by row
};

void PrintTo(const ExactCase& c, std::ostream* out) {
    *out << c.file;
}

class ExactDecode : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactDecode, GivesTheHandWorkedCanvas) {
    const auto canvas = makeCanvas(dataBytes(GetParam().file));
    ASSERT_TRUE(canvas) << canvas.error();
    EXPECT_EQ(canvas->w, GetParam().w);
    EXPECT_EQ(canvas->h, GetParam().h);
    EXPECT_EQ(allPixels(*canvas), GetParam().pixels);
}

std::string caseName(const std::string& file) {
    std::string name;
    for (const char c : file) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExactDecode,
    testing::Values(
        ExactCase{"png-grey1.png", 8, 1, kBits},
        ExactCase{"png-grey2.png", 4, 1, {grey(0), grey(85), grey(170), grey(255)}},
        ExactCase{"png-grey4.png", 4, 1, {grey(17), grey(119), grey(238), grey(255)}},
        ExactCase{"png-grey8.png", 6, 1, kGrey8},
        ExactCase{"png-grey8-trns.png", 3, 1, {grey(10), kClear, grey(200)}},
        ExactCase{"png-grey16.png", 4, 1, kGrey16},
        // The key 0x40D0 is matched on all 16 bits: 0x40D1 rounds to 65 too but stays.
        ExactCase{"png-grey16-trns.png", 3, 1, {grey(19), kClear, grey(65)}},
        ExactCase{"png-ga8.png", 3, 1, kGreyAlpha8},
        // (0x12F0, 0xFFFF) (0xFFFF, 0x40D0) (0x8000, 0x8000) (0x1234, 0): 128 * 128 / 255 = 64.25.
        ExactCase{"png-ga16.png", 4, 1, {grey(19), {65, 65, 65, 65}, {64, 64, 64, 128}, kClear}},
        ExactCase{"png-rgb8.png", 3, 1, kRgb8},
        ExactCase{"png-rgb8-trns.png", 3, 1, {{255, 0, 0, 255}, kClear, {1, 2, 4, 255}}},
        ExactCase{"png-rgb16.png", 2, 1, {{19, 65, 255, 255}, {0, 128, 191, 255}}},
        ExactCase{"png-rgba8.png", 4, 2, kRef}, ExactCase{"png-rgba16.png", 4, 1, kRgba16},
        ExactCase{"png-palette.png", 4, 1, kPalette},
        // tRNS 255, 128, 0 for the first three entries; the fourth has none and is opaque.
        ExactCase{"png-palette-trns.png",
                  4,
                  1,
                  {{255, 0, 0, 255}, {0, 128, 0, 128}, kClear, {17, 34, 51, 255}}},
        ExactCase{"png-dpi.png", 3, 2, std::vector<Rgba>(6, grey(9))},
        ExactCase{"tif-ref-unassoc.tif", 4, 2, kRef},
        // Stored premultiplied already: multiplying again would give 123 for 157.
        ExactCase{"tif-ref-assoc.tif", 4, 2, kRef}, ExactCase{"tif-ref-lzw.tif", 4, 2, kRef},
        ExactCase{"tif-ref-deflate.tif", 4, 2, kRef}, ExactCase{"tif-rgb8.tif", 3, 1, kRgb8},
        ExactCase{"tif-unknown-tag.tif", 3, 1, kRgb8},
        ExactCase{"tif-dpi.tif", 3, 2, std::vector<Rgba>(6, grey(9))},
        ExactCase{"tif-grey8.tif", 6, 1, kGrey8}, ExactCase{"tif-grey16.tif", 4, 1, kGrey16},
        ExactCase{"tif-ga8.tif", 3, 1, kGreyAlpha8}, ExactCase{"tif-rgba16.tif", 4, 1, kRgba16},
        ExactCase{"tif-rgba16-msb.tif", 4, 1, kRgba16},
        ExactCase{"tif-palette.tif", 4, 1, kPalette}, ExactCase{"tif-bilevel.tif", 8, 1, kBits},
        // CMYK (0,255,255,0) and (0,0,0,128), without a profile: red and 127 grey.
        ExactCase{"tif-cmyk.tif", 2, 1, {{255, 0, 0, 255}, grey(127)}},
        ExactCase{"webp-ref-lossless.webp", 4, 2, kRef},
        // Index 2 is the transparent one.
        ExactCase{
            "gif-trns.gif", 4, 1, {{255, 0, 0, 255}, {0, 255, 0, 255}, kClear, {17, 34, 51, 255}}},
        // Only the first of a red and a blue frame.
        ExactCase{"gif-anim.gif", 2, 2, std::vector<Rgba>(4, {255, 0, 0, 255})},
        // A 2 x 2 red frame at (3, 1) on a 6 x 4 screen; the rest of the screen is clear.
        ExactCase{"gif-offset.gif",
                  6,
                  4,
                  {kClear, kClear, kClear, kClear,           kClear,           kClear,
                   kClear, kClear, kClear, {255, 0, 0, 255}, {255, 0, 0, 255}, kClear,
                   kClear, kClear, kClear, {255, 0, 0, 255}, {255, 0, 0, 255}, kClear,
                   kClear, kClear, kClear, kClear,           kClear,           kClear}}),
    [](const testing::TestParamInfo<ExactCase>& info) { return caseName(info.param.file); });

// The grid of make-data.sh: red 12x, green 14y, blue 7xy mod 256, alpha 255 - 6(x + y).
Rgba gridPixel(std::int64_t x, std::int64_t y) {
    const auto a = static_cast<unsigned>(255 - 6 * (x + y));
    const auto mul = [a](std::int64_t c) {
        return static_cast<std::uint8_t>((static_cast<unsigned>(c) * a + 127) / 255);
    };
    return {mul(12 * x), mul(14 * y), mul((7 * x * y) % 256), static_cast<std::uint8_t>(a)};
}

struct PixelRule {
    std::string file;
    std::int64_t w, h;
    Rgba (*pixel)(std::int64_t x, std::int64_t y);
};

void PrintTo(const PixelRule& c, std::ostream* out) {
    *out << c.file;
}

class RuleDecode : public testing::TestWithParam<PixelRule> {};

TEST_P(RuleDecode, GivesEveryPixelTheRuleGives) {
    const auto canvas = makeCanvas(dataBytes(GetParam().file));
    ASSERT_TRUE(canvas) << canvas.error();
    ASSERT_EQ(canvas->w, GetParam().w);
    ASSERT_EQ(canvas->h, GetParam().h);
    std::vector<Rgba> want;
    for (std::int64_t y = 0; y < canvas->h; ++y) {
        for (std::int64_t x = 0; x < canvas->w; ++x)
            want.push_back(GetParam().pixel(x, y));
    }
    EXPECT_EQ(allPixels(*canvas), want);
}

// Worked by hand: (1,0) is 12, 0, 0 at alpha 249; (15,2) 108, 17, 126 at 153; (16,16) 47, 55, 0
// at 63; (19,17) 35, 36, 33 at 39.
TEST(GridPixel, IsTheHandWorkedPremultipliedGrid) {
    EXPECT_EQ(gridPixel(0, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(gridPixel(1, 0), (Rgba{12, 0, 0, 249}));
    EXPECT_EQ(gridPixel(15, 2), (Rgba{108, 17, 126, 153}));
    EXPECT_EQ(gridPixel(16, 16), (Rgba{47, 55, 0, 63}));
    EXPECT_EQ(gridPixel(19, 17), (Rgba{35, 36, 33, 39}));
}

// One 20 x 18 grid as plain, interlaced and 16-bit interlaced PNG, and as TIFF in 16 x 16 tiles
// (8 and 16 bits), in LZW strips of 3 rows with a predictor, premultiplied in 16 bits and in
// separate planes: one canvas from all. Orientation 3 stores the rows from the bottom right, so
// that canvas is the grid turned upside down. The interlaced GIF's rows are all different.
constexpr auto kGrid = gridPixel;
constexpr auto kTurned = [](std::int64_t x, std::int64_t y) { return gridPixel(19 - x, 17 - y); };
constexpr auto kGifRows = [](std::int64_t, std::int64_t y) {
    return Rgba{static_cast<std::uint8_t>(16 * y), static_cast<std::uint8_t>(255 - 16 * y),
                static_cast<std::uint8_t>(y), 255};
};

INSTANTIATE_TEST_SUITE_P(Files, RuleDecode,
                         testing::Values(PixelRule{"png-grid.png", 20, 18, kGrid},
                                         PixelRule{"png-grid-interlaced.png", 20, 18, kGrid},
                                         PixelRule{"png-grid16-interlaced.png", 20, 18, kGrid},
                                         PixelRule{"tif-grid-tiled.tif", 20, 18, kGrid},
                                         PixelRule{"tif-grid-strips.tif", 20, 18, kGrid},
                                         PixelRule{"tif-grid16-tiled.tif", 20, 18, kGrid},
                                         PixelRule{"tif-grid16-assoc.tif", 20, 18, kGrid},
                                         PixelRule{"tif-grid-planes.tif", 20, 18, kGrid},
                                         PixelRule{"tif-grid-turned.tif", 20, 18, kTurned},
                                         PixelRule{"gif-interlaced.gif", 16, 16, kGifRows}),
                         [](const testing::TestParamInfo<PixelRule>& info) {
                             return caseName(info.param.file);
                         });

// Lossy formats: solid 8 x 8 blocks come back within a few steps of their colour; grey stays
// grey, every channel equal.
struct NearCase {
    std::string file;
    std::int64_t w, h;
    std::vector<Rgba> blocks;  // one per 8 x 8 block, left to right
    int tolerance;
};

void PrintTo(const NearCase& c, std::ostream* out) {
    *out << c.file;
}

class LossyDecode : public testing::TestWithParam<NearCase> {};

TEST_P(LossyDecode, GivesOpaqueBlocksCloseToTheirColour) {
    const auto canvas = makeCanvas(dataBytes(GetParam().file));
    ASSERT_TRUE(canvas) << canvas.error();
    ASSERT_EQ(canvas->w, GetParam().w);
    ASSERT_EQ(canvas->h, GetParam().h);
    for (std::int64_t y = 0; y < canvas->h; ++y) {
        for (std::int64_t x = 0; x < canvas->w; ++x) {
            const Rgba got = pixelAt(*canvas, x, y);
            const Rgba want = GetParam().blocks[static_cast<std::size_t>(x / 8)];
            ASSERT_EQ(got.a, 255);
            ASSERT_LE(std::abs(got.r - want.r), GetParam().tolerance) << x << "," << y;
            ASSERT_LE(std::abs(got.g - want.g), GetParam().tolerance) << x << "," << y;
            ASSERT_LE(std::abs(got.b - want.b), GetParam().tolerance) << x << "," << y;
            const bool grey = want.r == want.g && want.g == want.b;
            ASSERT_TRUE(!grey || (got.r == got.g && got.g == got.b)) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LossyDecode,
    testing::Values(
        NearCase{"jpg-rgb.jpg", 16, 8, {{200, 40, 40, 255}, {40, 200, 40, 255}}, 2},
        NearCase{"jpg-progressive.jpg", 16, 8, {{200, 40, 40, 255}, {40, 200, 40, 255}}, 2},
        NearCase{"jpg-grey.jpg", 8, 8, {grey(128)}, 1},
        // CMYK (0,255,255,0) is red and (0,0,0,128) a grey of 127, converted without a profile.
        NearCase{"jpg-cmyk.jpg", 16, 8, {{255, 0, 0, 255}, grey(127)}, 3},
        NearCase{"webp-lossy.webp", 16, 8, {{200, 40, 40, 255}, {200, 40, 40, 255}}, 4}),
    [](const testing::TestParamInfo<NearCase>& info) { return caseName(info.param.file); });

// A hand-made grey strip; then the same with its one sample also declared alpha, which libtiff
// accepts: reading an alpha sample after the grey one ran past the row. libtiff's own reader
// takes the sample as opaque grey.
TEST(TiffDecode, StaysInsideRowsWhoseOnlySampleClaimsToBeAlpha) {
    for (const ExtraSample extra : {ExtraSample::none, ExtraSample::alpha}) {
        const auto canvas = makeCanvas(tiffWithSize(4, 1, extra));
        ASSERT_TRUE(canvas) << canvas.error();
        EXPECT_EQ(allPixels(*canvas), (std::vector{grey(0), grey(85), grey(170), grey(255)}));
    }
}

}  // namespace

}  // namespace cliptint::test
