// Decodes real files written by PIL and ImageMagick (tests/data/make-data.sh) and checks the
// canvas bytes against values worked out by hand from the pixels each file was made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "png_reference.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

constexpr Rgba kClear{0, 0, 0, 0}, kRed{255, 0, 0, 255};

// The reference picture, straight (255,0,0,255) (0,255,0,128) (10,20,30,0) (200,100,50,200) /
// (255,255,255,1) (1,2,3,254) (128,64,32,64) (0,0,255,255), premultiplied and rounded:
// 200 * 200 / 255 = 156.86 gives 157, where truncation would give 156.
const std::vector<Rgba> kRef{kRed,         {0, 128, 0, 128}, kClear,          {157, 78, 39, 200},
                             {1, 1, 1, 1}, {1, 2, 3, 254},   {32, 16, 8, 64}, {0, 0, 255, 255}};
// Straight 16-bit (0x12F0,0x40D0,0xFFFF,0xFFFF) (0xFFFF x3, 0x8000) (0xC000,0x4000,0,0xC000)
// (.., 0): 0x12F0 and 0x40D0 round to 19 and 65; 0xC000 to 191, 0x4000 to 64, 0x8000 to 128;
// then 191 * 191 / 255 = 143.06 and 64 * 191 / 255 = 47.94.
const std::vector<Rgba> kRgba16{
    {19, 65, 255, 255}, {128, 128, 128, 128}, {143, 48, 0, 191}, kClear};
const std::vector<Rgba> kRgb8{kRed, {1, 2, 3, 255}, {128, 64, 32, 255}};
const std::vector<Rgba> kGrey8{grey(0), grey(1), grey(127), grey(128), grey(254), grey(255)};
const std::vector<Rgba> kGrey16{grey(19), grey(65), grey(255), grey(0)};  // not 18, 64
// Straight (200, 100) (50, 255) (255, 0): 200 * 100 / 255 = 78.4.
const std::vector<Rgba> kGreyAlpha8{{78, 78, 78, 100}, grey(50), kClear};
const std::vector<Rgba> kBits{grey(255), grey(0), grey(255), grey(255),
                              grey(0),   grey(0), grey(255), grey(0)};
const std::vector<Rgba> kPalette{kRed, {0, 255, 0, 255}, {0, 0, 255, 255}, {17, 34, 51, 255}};
// Red frames at (3, 1) on a 6 x 4 screen, clear elsewhere: 2 x 2, and 4 x 3 cut by the screen's
// right edge, so that a row drawn one pixel too far shows on the next row.
Rgba offsetFrame(std::int64_t x, std::int64_t y) {
    return x >= 3 && x <= 4 && y >= 1 && y <= 2 ? kRed : kClear;
}
Rgba clippedFrame(std::int64_t x, std::int64_t y) {
    return x >= 3 && y >= 1 ? kRed : kClear;
}

// The grid of make-data.sh: red 12x, green 14y, blue 7xy mod 256, alpha 255 - 6(x + y).
Rgba gridPixel(std::int64_t x, std::int64_t y) {
    const auto a = static_cast<unsigned>(255 - 6 * (x + y));
    const auto mul = [a](std::int64_t c) {
        return static_cast<std::uint8_t>((static_cast<unsigned>(c) * a + 127) / 255);
    };
    return {mul(12 * x), mul(14 * y), mul((7 * x * y) % 256), static_cast<std::uint8_t>(a)};
}
// Orientation 3 stores the rows from the bottom right: the grid turned upside down.
Rgba turnedGrid(std::int64_t x, std::int64_t y) {
    return gridPixel(19 - x, 17 - y);
}
// The interlaced GIF's rows are all different.
Rgba gifRow(std::int64_t, std::int64_t y) {
    return {static_cast<std::uint8_t>(16 * y), static_cast<std::uint8_t>(255 - 16 * y),
            static_cast<std::uint8_t>(y), 255};
}

struct DecodeCase {
    std::string file;
    std::int64_t w, h;
    std::vector<Rgba> pixels;  // every pixel row by row; with a tolerance, one per 8 x 8 block
    Rgba (*rule)(std::int64_t x, std::int64_t y) = nullptr;  // instead of the pixels
    int tolerance = 0;  // lossy formats: each channel within it, opaque, and grey stays grey
};

const DecodeCase kCases[] = {
    {"png-grey1.png", 8, 1, kBits},
    {"png-grey8.png", 6, 1, kGrey8},
    {"png-grey8-trns.png", 3, 1, {grey(10), kClear, grey(200)}},
    {"png-grey16.png", 4, 1, kGrey16},
    // The key 0x40D0 is matched on all 16 bits: 0x40D1 rounds to 65 too but stays.
    {"png-grey16-trns.png", 3, 1, {grey(19), kClear, grey(65)}},
    {"png-ga8.png", 3, 1, kGreyAlpha8},
    {"png-rgb8.png", 3, 1, kRgb8},
    {"png-rgba8.png", 4, 2, kRef},
    {"png-rgba16.png", 4, 1, kRgba16},
    {"png-palette.png", 4, 1, kPalette},
    {"tif-ref-unassoc.tif", 4, 2, kRef},
    // Stored premultiplied already: multiplying again would give 123 for 157.
    {"tif-ref-assoc.tif", 4, 2, kRef},
    {"tif-rgb8.tif", 3, 1, kRgb8},
    {"tif-grey8.tif", 6, 1, kGrey8},
    {"tif-grey16.tif", 4, 1, kGrey16},
    {"tif-ga8.tif", 3, 1, kGreyAlpha8},
    {"tif-rgba16.tif", 4, 1, kRgba16},
    {"tif-palette.tif", 4, 1, kPalette},
    {"tif-bilevel.tif", 8, 1, kBits},
    // CMYK (0,255,255,0) and (0,0,0,128), without a profile: red and 127 grey.
    {"tif-cmyk.tif", 2, 1, {kRed, grey(127)}},
    {"webp-ref-lossless.webp", 4, 2, kRef},
    {"gif-trns.gif", 4, 1, {kRed, {0, 255, 0, 255}, kClear, {17, 34, 51, 255}}},  // index 2 clear
    {"gif-anim.gif", 2, 2, std::vector<Rgba>(4, kRed)},  // only the first of a red and a blue frame
    {"gif-offset.gif", 6, 4, {}, offsetFrame},
    {"gif-clipped.gif", 6, 4, {}, clippedFrame},
    {"gif-interlaced.gif", 16, 16, {}, gifRow},
    // One 20 x 18 grid as plain, interlaced and 16-bit interlaced PNG, and as TIFF in 16 x 16
    // tiles (8 and 16 bits), in LZW strips of 3 rows with a predictor, premultiplied in 16 bits,
    // in separate planes and turned: one canvas from all.
    {"png-grid.png", 20, 18, {}, gridPixel},
    {"png-grid-interlaced.png", 20, 18, {}, gridPixel},
    {"png-grid16-interlaced.png", 20, 18, {}, gridPixel},
    {"tif-grid-tiled.tif", 20, 18, {}, gridPixel},
    {"tif-grid-strips.tif", 20, 18, {}, gridPixel},
    {"tif-grid16-tiled.tif", 20, 18, {}, gridPixel},
    {"tif-grid16-assoc.tif", 20, 18, {}, gridPixel},
    {"tif-grid-planes.tif", 20, 18, {}, gridPixel},
    {"tif-grid-turned.tif", 20, 18, {}, turnedGrid},
    {"jpg-rgb.jpg", 16, 8, {{200, 40, 40, 255}, {40, 200, 40, 255}}, nullptr, 2},
    {"jpg-progressive.jpg", 16, 8, {{200, 40, 40, 255}, {40, 200, 40, 255}}, nullptr, 2},
    {"jpg-grey.jpg", 8, 8, {grey(128)}, nullptr, 1},
    // CMYK (0,255,255,0) is red and (0,0,0,128) a grey of 127, converted without a profile.
    {"jpg-cmyk.jpg", 16, 8, {kRed, grey(127)}, nullptr, 3},
};

void expectCanvas(const DecodeCase& c) {
    // 0xA5 before the decode: a pixel the decoder never writes cannot pass for a right one.
    const auto canvas = fuzz::decodeIntoFilled(dataBytes(c.file), 0xA5);
    ASSERT_TRUE(canvas) << canvas.error();
    ASSERT_EQ(canvas->w, c.w);
    ASSERT_EQ(canvas->h, c.h);
    std::vector<Rgba> want;
    for (std::int64_t y = 0; y < c.h; ++y) {
        for (std::int64_t x = 0; x < c.w; ++x) {
            want.push_back(c.rule        ? c.rule(x, y)
                           : c.tolerance ? c.pixels[static_cast<std::size_t>(x / 8)]
                                         : c.pixels[static_cast<std::size_t>(y * c.w + x)]);
        }
    }
    const std::vector<Rgba> got = allPixels(*canvas);
    if (c.tolerance == 0) {
        EXPECT_EQ(got, want);
        return;
    }
    const auto near = [&](int g, int w) { return std::abs(g - w) <= c.tolerance; };
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Rgba g = got[i], w = want[i];
        const bool greyStays = w.r != w.g || w.g != w.b || (g.r == g.g && g.g == g.b);
        EXPECT_TRUE(g.a == 255 && near(g.r, w.r) && near(g.g, w.g) && near(g.b, w.b) && greyStays)
            << "pixel " << i << ": " << testing::PrintToString(g);
    }
}

TEST(Decode, GivesTheHandWorkedCanvasOfEveryFile) {
    for (const DecodeCase& c : kCases) {
        SCOPED_TRACE(c.file);
        expectCanvas(c);
    }
}

}  // namespace

}  // namespace cliptint::test
