#pragma once

#include <random>
#include <string>

#include "support/canvas_maker.hpp"

namespace cliptint::test {

// A 24 x 16 MONO glyph: an opaque square of ink 112233 with a half-transparent edge.
inline std::string glyphPng() {
    Canvas canvas = clearCanvas(24, 16);
    for (std::int64_t y = 4; y < 12; ++y) {
        for (std::int64_t x = 6; x < 18; ++x)
            setPixel(canvas, x, y, {0x11, 0x22, 0x33, 255});
        setPixel(canvas, 18, y, {0x08, 0x11, 0x19, 128});
    }
    return pngOf(canvas);
}

enum class Ink { black, random };

// Random alphas, a quarter of the pixels clear: in random colours, MULTI and about 4 bytes a pixel
// as PNG; in black, MONO and about 1 byte a pixel.
inline std::string randomPng(std::int64_t w, std::int64_t h, Ink ink) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(7);
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        const auto a = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : 200 + random() % 56);
        for (int k = 0; k < 3 && ink == Ink::random; ++k)
            canvas.px()[i + k] = static_cast<std::uint8_t>(random() % (a + 1u));
        canvas.px()[i + 3] = a;
    }
    return pngOf(canvas);
}

}  // namespace cliptint::test
