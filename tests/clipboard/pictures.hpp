#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"

namespace cliptint::test {

// A 24 x 16 MONO glyph: an opaque square of the colour with a half-transparent edge.
Canvas glyph(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Random colours and alphas: MULTI, and a PNG that does not compress (about 4 bytes a pixel).
Canvas noise(std::int64_t w, std::int64_t h);

// One opaque black on a clear ground (a quarter of the pixels), with random solid alphas, so its
// PNG stays large (about 1 byte a pixel) and the picture MONO.
Canvas noisyGlyph(std::int64_t w, std::int64_t h);

// The canvas as an 8-bit RGBA TIFF with unassociated alpha, written by libtiff.
std::string tiffOf(const Canvas& canvas, const std::string& scratchPath);

}  // namespace cliptint::test
