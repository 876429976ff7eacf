// encodePng checked by an independent decoder: libpng's simplified API reads what libspng wrote.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <vector>

#include "canvas/canvas.hpp"
#include "picture_files.hpp"

namespace cliptint::test {

namespace {

Rgba straightAt(const StraightPicture& png, std::int64_t x, std::int64_t y) {
    const std::uint8_t* p = png.rgba.data() + (y * png.w + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

// Every premultiplied pair (colour c <= alpha a) once: 256 columns of alpha, c down the rows.
Canvas everyPremultipliedPair() {
    Canvas canvas = clearCanvas(256, 256);
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c <= a; ++c) {
            const auto v = static_cast<std::uint8_t>(c);
            setPixel(canvas, a, c,
                     {v, static_cast<std::uint8_t>(a - c), v, static_cast<std::uint8_t>(a)});
        }
    }
    return canvas;
}

TEST(EncodePng, WritesAnUprightEightBitRgbaPngOfTheSameSize) {
    Canvas canvas = clearCanvas(5, 3);
    setPixel(canvas, 0, 0, {255, 0, 0, 255});
    setPixel(canvas, 4, 2, {0, 0, 255, 255});
    const auto png = encodePng(canvas);
    ASSERT_TRUE(png);
    const StraightPicture decoded = decodeWithLibpng(*png);
    ASSERT_FALSE(decoded.rgba.empty());
    EXPECT_EQ(decoded.w, 5u);
    EXPECT_EQ(decoded.h, 3u);
    ASSERT_GE(png->size(), 29u);
    EXPECT_EQ((*png)[24], 8);  // IHDR: bits a sample
    EXPECT_EQ((*png)[25], 6);  // colour type RGBA
    EXPECT_EQ((*png)[28], 0);  // not interlaced
    EXPECT_EQ(pixelText(straightAt(decoded, 0, 0)), pixelText(Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelText(straightAt(decoded, 4, 2)), pixelText(Rgba{0, 0, 255, 255}));
    EXPECT_EQ(pixelText(straightAt(decoded, 4, 0)), pixelText(Rgba{0, 0, 0, 0}));
}

// Worked by hand: 157 * 255 / 200 = 200.2, 78 * 255 / 200 = 99.45, 39 * 255 / 200 = 49.7;
// 32 * 255 / 64 = 127.5 rounds up; alpha 1 makes 1 into 255; alpha 0 gives colour 0.
// The chunk right after IHDR: sRGB, relative colorimetric, with its CRC as zlib computes it.
TEST(EncodePng, TagsThePictureAsSrgb) {
    Canvas canvas = clearCanvas(1, 1);
    const auto png = encodePng(canvas);
    ASSERT_TRUE(png);
    ASSERT_GE(png->size(), 46u);
    const std::uint8_t* chunk = png->data() + 33;
    EXPECT_EQ(asText({chunk, 9}), std::string("\0\0\0\1sRGB\1", 9));
    const auto crc = static_cast<std::uint32_t>(crc32(0, chunk + 4, 5));
    EXPECT_EQ(asText({chunk + 9, 4}),
              asText(std::array<std::uint8_t, 4>{
                  static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                  static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)}));
}

TEST(EncodePng, UnpremultipliesToTheNearestValue) {
    Canvas canvas = clearCanvas(5, 1);
    setPixel(canvas, 0, 0, {157, 78, 39, 200});
    setPixel(canvas, 1, 0, {32, 16, 8, 64});
    setPixel(canvas, 2, 0, {1, 1, 0, 1});
    setPixel(canvas, 3, 0, {0, 0, 0, 0});
    setPixel(canvas, 4, 0, {1, 2, 3, 254});
    const auto png = encodePng(canvas);
    ASSERT_TRUE(png);
    const StraightPicture decoded = decodeWithLibpng(*png);
    ASSERT_EQ(decoded.w, 5u);
    const std::vector<Rgba> want{
        {200, 99, 50, 200}, {128, 64, 32, 64}, {255, 255, 0, 1}, {0, 0, 0, 0}, {1, 2, 3, 254}};
    for (std::int64_t x = 0; x < 5; ++x) {
        EXPECT_EQ(pixelText(straightAt(decoded, x, 0)), pixelText(want[x])) << "x " << x;
    }
}

TEST(EncodePng, KeepsEveryAlphaAndRoundsEveryColour) {
    const Canvas canvas = everyPremultipliedPair();
    Canvas consumed = everyPremultipliedPair();  // encodePng filters the pixels where they lie
    const auto png = encodePng(consumed);
    ASSERT_TRUE(png);
    const StraightPicture decoded = decodeWithLibpng(*png);
    ASSERT_EQ(decoded.w, 256u);
    ASSERT_EQ(decoded.h, 256u);
    for (std::int64_t y = 0; y < 256; ++y) {
        for (std::int64_t x = 0; x < 256; ++x) {
            const Rgba in = pixelAt(canvas, x, y);
            const Rgba out = straightAt(decoded, x, y);
            ASSERT_EQ(out.a, in.a) << x << "," << y;
            const auto straight = [&](std::uint8_t c) {
                return in.a == 0 ? 0L : std::lround(c * 255.0 / in.a);
            };
            ASSERT_EQ(out.r, straight(in.r)) << x << "," << y;
            ASSERT_EQ(out.g, straight(in.g)) << x << "," << y;
            ASSERT_EQ(out.b, straight(in.b)) << x << "," << y;
        }
    }
}

// Rounding both ways loses nothing: straight colour rounded to nearest premultiplies back to
// the byte it came from, for every colour at every alpha.
TEST(EncodePng, DecodesBackToTheSameCanvas) {
    const Canvas canvas = everyPremultipliedPair();
    Canvas consumed = everyPremultipliedPair();  // encodePng filters the pixels where they lie
    const auto png = encodePng(consumed);
    ASSERT_TRUE(png);
    const auto decoded = makeCanvas(*png);
    ASSERT_TRUE(decoded) << decoded.error();
    ASSERT_EQ(decoded->w, canvas.w);
    ASSERT_EQ(decoded->h, canvas.h);
    EXPECT_TRUE(std::equal(canvas.bytes().begin(), canvas.bytes().end(), decoded->bytes().begin()));
}

}  // namespace

}  // namespace cliptint::test
