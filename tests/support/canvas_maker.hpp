#pragma once

// Pictures made in the tests: canvases set pixel by pixel and written by libpng, PNG files built
// chunk by chunk, whose headers state sizes no real file would or whose chunks lie as no encoder
// would lay them, and checked-in TIFFs with tags replaced.

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

// count pixels of one colour from pixel first on, in memory order.
struct PixelRun {
    std::int64_t first, count;
    Rgba colour;
};

// A w x h canvas of fully clear pixels but for the runs.
Canvas clearCanvas(std::int64_t w, std::int64_t h, const std::vector<PixelRun>& runs = {});

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour);
// Every pixel of the canvas, row by row.
std::vector<Rgba> allPixels(const Canvas& canvas);

// w x h pixels of the PNG colour type, 8 bits a sample, as libpng writes them, each row filtered
// as `filters` allows: one PNG_FILTER_* forces it (on every row libpng can), PNG_ALL_FILTERS lets
// libpng choose row by row. A palette's entries are black, with these alphas.
Bytes libpngFile(std::uint32_t w, std::uint32_t h, int colourType, int filters,
                 std::span<const std::uint8_t> samples,
                 std::span<const std::uint8_t> paletteAlphas = {});

// The canvas encoded as an 8-bit RGBA PNG by libpng (straight colour = premultiplied colour
// un-premultiplied by rounding), for feeding files to the tool.
std::string pngOf(const Canvas& canvas);

Bytes bytesOf(std::string_view text);
// The bytes of a checked-in picture (see tests/data/make-data.sh).
Bytes dataBytes(const std::string& name);

// A PNG chunk to write; its CRC right, or deliberately wrong.
struct Chunk {
    std::string type;
    Bytes data;
    bool goodCrc = true;
};

// The PNG signature followed by the chunks.
Bytes fileOf(const std::vector<Chunk>& chunks);

// An IHDR chunk of a picture that is not interlaced. Colour type 6 is RGBA, 0 grey.
Chunk ihdrOf(std::uint32_t w, std::uint32_t h, std::uint8_t depth = 8, std::uint8_t colourType = 6);

// The checked-in little-endian TIFF with each tag's one value replaced by the value, as a LONG.
Bytes tiffWithTags(const std::string& name,
                   const std::vector<std::pair<std::uint16_t, std::uint32_t>>& tags);

}  // namespace cliptint::test
