#pragma once

#include <cstdint>
#include <span>

namespace cliptint {

// c * a / 255 rounded to nearest. 255 is odd, so no product lies halfway and adding 127 before
// the division rounds exactly. The result is at most a.
constexpr std::uint8_t premultiplied(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

// A 16-bit sample as 8 bits, rounded to nearest: v * 255 / 65535 is v / 257, and 257 is odd.
// Taking the high byte instead would darken 0x12F0 to 18 where 19 is nearest.
constexpr std::uint8_t eightBits(std::uint16_t v) {
    return static_cast<std::uint8_t>((v + 128) / 257);
}

// Writes one pixel of straight colour into premultiplied canvas bytes.
inline void storeStraight(std::uint8_t* out, unsigned r, unsigned g, unsigned b, unsigned a) {
    out[0] = premultiplied(r, a);
    out[1] = premultiplied(g, a);
    out[2] = premultiplied(b, a);
    out[3] = static_cast<std::uint8_t>(a);
}

// Turns straight RGBA bytes into premultiplied ones in place, rounding to nearest.
inline void premultiply(std::span<std::uint8_t> rgba) {
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const unsigned a = rgba[i + 3];
        if (a == 255) continue;
        for (std::size_t k = 0; k < 3; ++k)
            rgba[i + k] = premultiplied(rgba[i + k], a);
    }
}

}  // namespace cliptint
