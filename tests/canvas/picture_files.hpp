#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

// The bytes of a checked-in picture (see tests/data/make-data.sh).
inline Bytes dataBytes(const std::string& name) {
    const std::string text = readWholeFile(testData(name));
    return Bytes(text.begin(), text.end());
}

// Every pixel of the canvas, row by row.
inline std::vector<Rgba> allPixels(const Canvas& canvas) {
    std::vector<Rgba> pixels;
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        for (std::int64_t x = 0; x < canvas.w; ++x)
            pixels.push_back(pixelAt(canvas, x, y));
    }
    return pixels;
}

// Pixels as text, so that a failed comparison shows readable values.
inline std::string pixelText(Rgba p) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "{%d,%d,%d,%d}", p.r, p.g, p.b, p.a);
    return text.data();
}

inline std::string pixelText(const std::vector<Rgba>& pixels) {
    std::string text;
    for (const Rgba& p : pixels)
        text += pixelText(p);
    return text;
}

inline std::string asText(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace cliptint::test
