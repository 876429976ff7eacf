// recolour works from a per-alpha table; these tests hold it to the truncating formula
// (colour * alpha) / 255 for every colour byte and every alpha, whatever the pixel held before.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "paint/paint.hpp"

namespace cliptint {
namespace {

// A 256 x 2 canvas whose pixel (a, y) has alpha a and leftover colour bytes that must not matter.
Canvas everyAlpha() {
    auto canvas = allocateCanvas(256, 2);
    EXPECT_TRUE(canvas.has_value());
    std::uint8_t* px = canvas->px();
    for (std::int64_t i = 0; i < canvas->w * canvas->h; ++i) {
        const auto a = static_cast<std::uint8_t>(i % 256);
        px[4 * i] = static_cast<std::uint8_t>(i * 7);
        px[4 * i + 1] = static_cast<std::uint8_t>(255 - a);
        px[4 * i + 2] = a;
        px[4 * i + 3] = a;
    }
    return std::move(*canvas);
}

TEST(RecolourExactness, TruncatesEveryProductOfColourAndAlpha) {
    // Each colour byte v appears once as red, green and blue (in three different colours), so the
    // 256 colours cover all 65,536 products on every channel.
    for (unsigned v = 0; v < 256; ++v) {
        const auto r = static_cast<std::uint8_t>(v);
        const auto g = static_cast<std::uint8_t>(255 - v);
        const auto b = static_cast<std::uint8_t>(v * 97 + 13);
        Canvas canvas = everyAlpha();
        recolour(canvas, r, g, b);
        const std::uint8_t* px = canvas.px();
        for (std::int64_t i = 0; i < canvas.w * canvas.h; ++i) {
            const unsigned a = static_cast<unsigned>(i % 256);
            const std::uint8_t* p = px + 4 * i;
            ASSERT_EQ(p[0], r * a / 255) << "red " << v << " alpha " << a;
            ASSERT_EQ(p[1], g * a / 255) << "green " << 255 - v << " alpha " << a;
            ASSERT_EQ(p[2], b * a / 255) << "blue " << unsigned{b} << " alpha " << a;
            ASSERT_EQ(p[3], a);
        }
    }
}

TEST(RecolourExactness, RewritesEveryPixelOfAnOddSizedCanvas) {
    // 7 x 3 pixels: no pixel at the end of the memory may be skipped.
    auto canvas = allocateCanvas(7, 3);
    ASSERT_TRUE(canvas.has_value());
    std::uint8_t* px = canvas->px();
    for (std::int64_t i = 0; i < canvas->byteCount(); ++i)
        px[i] = 0xEE;
    recolour(*canvas, 0x12, 0x34, 0x56);
    for (std::int64_t i = 0; i < canvas->byteCount(); i += 4) {
        EXPECT_EQ(px[i], 0x12 * 0xEE / 255) << "pixel " << i / 4;
        EXPECT_EQ(px[i + 1], 0x34 * 0xEE / 255) << "pixel " << i / 4;
        EXPECT_EQ(px[i + 2], 0x56 * 0xEE / 255) << "pixel " << i / 4;
        EXPECT_EQ(px[i + 3], 0xEE) << "pixel " << i / 4;
    }
}

}  // namespace
}  // namespace cliptint
