#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Synthetic pictures for the benchmarks, made the same way every time so that runs compare.
namespace cliptint::bench {

// Straight (not premultiplied) 8-bit RGBA, rows 4 * w bytes apart.
struct Picture {
    std::int64_t w = 0;
    std::int64_t h = 0;
    std::vector<std::uint8_t> rgba;
};

// A dark glyph (a ring crossed by a thick bar) on a clear ground, its edges anti-aliased over
// about one pixel, as a font renderer or a vector export leaves them.
Picture makeGlyph(std::int64_t w, std::int64_t h);

// The glyph's shape moved by the variant number: ring radius and stroke, bar angle, width and
// ink differ, so that every variant below 1,000 gives a different picture (as an icon set holds
// many different glyphs) and each is still one colour on a clear ground.
Picture makeGlyphVariant(std::int64_t w, std::int64_t h, int variant);

// An opaque photo-like picture: smooth colour gradients under per-pixel noise, so it compresses
// about as badly as a photograph does.
Picture makeNoisy(std::int64_t w, std::int64_t h);

// The picture as an RGBA PNG written by libspng with its default filtering and compression, as
// most PNG writers leave files; nullopt when libspng fails.
std::optional<std::vector<std::uint8_t>> pngOf(const Picture& picture);

}  // namespace cliptint::bench
