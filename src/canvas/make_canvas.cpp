#include <algorithm>
#include <cstdlib>

#include "canvas/canvas.hpp"
#include "canvas/codec.hpp"

namespace cliptint {

Result<Canvas> allocateCanvas(std::int64_t w, std::int64_t h) {
    auto* memory = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(4 * w * h)));
    if (memory == nullptr) return std::unexpected("canvas memory");
    return Canvas{w, h, PixelMemory{memory}};
}

namespace {

// Checks w and h before any pixel memory exists, so a huge header on a few bytes costs nothing.
// Both are at most kMaxPixels once the test passes, so the product cannot overflow.
bool sizeAllowed(PictureSize size) {
    if (size.w < 1 || size.h < 1) return false;
    if (size.w > kMaxPixels || size.h > kMaxPixels) return false;
    return size.w * size.h <= kMaxPixels;
}

}  // namespace

Result<Canvas> makeCanvasWith(std::span<const Codec> codecs, std::span<const std::uint8_t> data) {
    const auto codec =
        std::ranges::find_if(codecs, [&](const Codec& candidate) { return candidate.sniff(data); });
    if (codec == codecs.end()) return std::unexpected("no picture on the clipboard");

    const auto size = codec->readHeader(data);
    if (!size) return std::unexpected(size.error());
    if (!sizeAllowed(*size)) return std::unexpected("picture size");

    auto canvas = allocateCanvas(size->w, size->h);
    if (!canvas) return canvas;
    if (auto decoded = codec->decode(data, *canvas); !decoded) {
        return std::unexpected(decoded.error());
    }
    return canvas;
}

Result<Canvas> makeCanvas(std::span<const std::uint8_t> data) {
    return makeCanvasWith(pictureCodecs(), data);
}

}  // namespace cliptint
