#pragma once

#include <cstdint>
#include <span>

namespace cliptint {

// Turns straight RGBA bytes into premultiplied ones in place, rounding to nearest.
inline void premultiply(std::span<std::uint8_t> rgba) {
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const unsigned a = rgba[i + 3];
        if (a == 255) continue;
        for (std::size_t k = 0; k < 3; ++k) {
            rgba[i + k] = static_cast<std::uint8_t>((rgba[i + k] * a + 127) / 255);
        }
    }
}

}  // namespace cliptint
