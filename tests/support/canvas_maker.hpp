#pragma once

#include <cstdint>
#include <ostream>
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
void PrintTo(const Rgba& p, std::ostream* out);

constexpr Rgba grey(std::uint8_t v) {
    return {v, v, v, 255};
}

// A w x h canvas of fully clear pixels.
Canvas clearCanvas(std::int64_t w, std::int64_t h);

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour);
Rgba pixelAt(const Canvas& canvas, std::int64_t x, std::int64_t y);
// Every pixel of the canvas, row by row.
std::vector<Rgba> allPixels(const Canvas& canvas);

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

// The bytes of a checked-in picture (see tests/data/make-data.sh).
Bytes dataBytes(const std::string& name);

}  // namespace cliptint::test
