#pragma once

// Pictures built byte by byte in the tests: headers that state sizes no real file would, and
// chunks laid out as no encoder would.

#include <cstdint>
#include <string>
#include <vector>

#include "result.hpp"

namespace cliptint::test {

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

// A little-endian TIFF stating w x h pixels of 8-bit grey in one strip of the 4 bytes 0, 85,
// 170, 255; with an extra-sample entry, that one sample is also declared unassociated alpha.
enum class ExtraSample { none, alpha };
Bytes tiffWithSize(std::uint32_t w, std::uint32_t h, ExtraSample extra = ExtraSample::none);

// A GIF that is a logical screen of w x h and nothing else.
Bytes gifScreen(std::uint16_t w, std::uint16_t h);

// The JPEG with the size in its frame header replaced.
Bytes jpegWithSize(Bytes jpeg, std::uint16_t w, std::uint16_t h);

// The header of a lossless WebP of w x h pixels (at most 16384 each), and no pixel data.
Bytes webpWithSize(std::uint32_t w, std::uint32_t h);

}  // namespace cliptint::test
