#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "canvas/canvas.hpp"

namespace cliptint::test {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;  // premultiplied: r, g, b <= a
    bool operator==(const Rgba&) const = default;
};

// A w x h canvas of fully clear pixels.
Canvas clearCanvas(std::int64_t w, std::int64_t h);

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour);
Rgba pixelAt(const Canvas& canvas, std::int64_t x, std::int64_t y);

struct StraightPicture {
    std::uint32_t w = 0, h = 0;
    std::vector<std::uint8_t> rgba;  // straight (not premultiplied), 4 bytes a pixel
};

// The PNG decoded by libpng's simplified API, independently of the tool's own codecs; an empty
// picture (no pixels) when libpng refuses it.
StraightPicture decodeWithLibpng(std::span<const std::uint8_t> png);
inline StraightPicture decodeWithLibpng(std::string_view png) {
    return decodeWithLibpng({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
}

// The canvas encoded as an 8-bit RGBA PNG by libpng (straight colour = premultiplied colour
// un-premultiplied by rounding), for feeding files to the tool.
std::string pngOf(const Canvas& canvas);

}  // namespace cliptint::test
