#pragma once

#include <cstdint>
#include <string>

#include "canvas/canvas.hpp"
#include "result.hpp"

namespace cliptint {

// Pixel classes, by the alpha byte alone. Alpha 20 belongs to no class.
inline constexpr std::uint8_t kClearMaxAlpha = 19;
inline constexpr std::uint8_t kVisibleMinAlpha = 21;
inline constexpr std::uint8_t kSolidMinAlpha = 200;

// The statistics of one scan. Colour values are un-premultiplied, 0.0..255.0.
struct ProbeStats {
    std::int64_t minX = 0;  // box of the visible pixels, in pixels; maxX, maxY inclusive
    std::int64_t minY = 0;
    std::int64_t maxX = -1;
    std::int64_t maxY = -1;
    double sr = 0.0;  // sums over the solid pixels, accumulated in row-major order
    double sg = 0.0;
    double sb = 0.0;
    double sw = 0.0;  // 1.0 per solid pixel
    std::int64_t clear = 0;
    std::int64_t drawn = 0;  // solid pixels
    double mr = 0.0;         // mean colour of the solid pixels; 0.0 when there are none
    double mg = 0.0;
    double mb = 0.0;
    std::int64_t stray = 0;  // solid pixels more than kStrayDistance from the mean
    double clearShare = 0.0;
    bool mono = false;  // one colour on a clear ground
    std::string hex;    // mean colour, six upper-case hexadecimal digits
    std::string box;    // "%.4f %.4f %.4f %.4f": left, top, right, bottom as fractions
    std::string line;   // the probe reply line
};

// Scans the canvas in two passes and builds the probe reply line. Failure: "empty picture" when
// no pixel is visible.
Result<ProbeStats> scanCanvas(const Canvas& canvas);

}  // namespace cliptint
