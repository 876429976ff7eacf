#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>

#include "result.hpp"

namespace cliptint {

// The most pixels a canvas may hold; 40,000,000 is refused.
inline constexpr std::int64_t kMaxPixels = 39'999'999;

// Memory from malloc or aligned_alloc, released by free().
struct FreeDeleter {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
};
using MallocMemory = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// The picture as w x h pixels of red, green, blue, alpha bytes, row 0 at the top, rows exactly
// 4 * w bytes apart with nothing between them.
// Premultiplied: r, g, b <= a at every pixel; a fully transparent pixel is 0, 0, 0, 0.
struct Canvas {
    std::int64_t w = 0;  // pixels, >= 1
    std::int64_t h = 0;  // pixels, >= 1, w * h <= kMaxPixels
    MallocMemory memory;

    std::uint8_t* px() const { return memory.get(); }
    std::int64_t byteCount() const { return 4 * w * h; }
    std::span<std::uint8_t> bytes() const {
        return {memory.get(), static_cast<std::size_t>(byteCount())};
    }
};

// Uninitialised memory of the given size, on 2 MiB pages when it is large; empty when there is
// none to be had.
MallocMemory allocateBuffer(std::size_t bytes);

// Allocates the pixel memory of a w x h canvas, uninitialised; the caller has checked the size.
// The memory runs on for rowSlack(h) bytes past the pixels: room for the filter-type byte that
// PNG puts before each row, so that the PNG codecs filter and unfilter the rows where they lie.
Result<Canvas> allocateCanvas(std::int64_t w, std::int64_t h);

// Bytes of slack after the pixels of a canvas of h rows: one per row.
constexpr std::int64_t rowSlack(std::int64_t h) {
    return h;
}

// The sizes a picture may state, checked before any pixel memory exists (as libspng's
// spng_set_image_limits). The defaults are the tool's; tests pass small ones to reach the
// boundaries with small pictures.
struct CanvasLimits {
    std::int64_t maxPixels = kMaxPixels;  // width, height and their product, each at most this
};

// Decodes the picture bytes into a canvas. Failures: "no picture on the clipboard" (not a picture
// that any codec reads), "picture size", "image" (pixel data that does not decode), "canvas
// memory".
Result<Canvas> makeCanvas(std::span<const std::uint8_t> data, CanvasLimits limits = {});

// The un-premultiplied value of channel k (0 red, 1 green, 2 blue) of the pixel whose first byte
// is at offset i: byte * 255 / alpha, multiplication first, unrounded; 0.0 where alpha is 0.
inline double chan(const std::uint8_t* px, std::int64_t i, std::int64_t k) {
    const std::uint8_t a = px[i + 3];
    if (a == 0) return 0.0;
    return static_cast<double>(px[i + k]) * 255.0 / static_cast<double>(a);
}

// An 8-bit RGBA PNG of the canvas, colours un-premultiplied; nullopt when encoding fails.
// It consumes the pixels: the rows are un-premultiplied and filtered where they lie (in the memory
// that allocateCanvas made, slack included), so afterwards the canvas no longer holds the picture.
std::optional<Bytes> encodePng(Canvas& canvas);

}  // namespace cliptint
