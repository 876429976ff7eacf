#include <algorithm>
#include <cstdlib>
#include <utility>

#include "canvas/canvas.hpp"
#include "canvas/codec.hpp"
#include "sys/calls.hpp"

namespace cliptint {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;  // bytes

}  // namespace

// Large buffers sit on 2 MiB pages where the kernel offers them: touching 160 MB of fresh 4 KiB
// pages costs some 40,000 page faults, which can take longer than decoding the picture. The
// memory is still released by free().
MallocMemory allocateBuffer(std::size_t bytes) {
    if (bytes < kHugePage) return MallocMemory{static_cast<std::uint8_t*>(std::malloc(bytes))};
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory != nullptr) sys::adviseHugePages(memory, rounded);
    return MallocMemory{static_cast<std::uint8_t*>(memory)};
}

Result<Canvas> allocateCanvas(std::int64_t w, std::int64_t h) {
    auto memory = allocateBuffer(static_cast<std::size_t>(4 * w * h + rowSlack(h)));
    if (!memory) return std::unexpected("canvas memory");
    return Canvas{w, h, std::move(memory)};
}

namespace {

// Checks w and h before any pixel memory exists, so a huge header on a few bytes costs nothing.
// Both are at most the limit (itself at most kMaxPixels) once the test passes, so the product
// cannot overflow.
bool sizeAllowed(PictureSize size, CanvasLimits limits) {
    if (size.w < 1 || size.h < 1) return false;
    if (size.w > limits.maxPixels || size.h > limits.maxPixels) return false;
    return size.w * size.h <= limits.maxPixels;
}

}  // namespace

const Codec* sniffCodec(std::span<const std::uint8_t> data) {
    const std::span<const Codec> codecs = pictureCodecs();
    const auto codec =
        std::ranges::find_if(codecs, [&](const Codec& candidate) { return candidate.sniff(data); });
    return codec == codecs.end() ? nullptr : &*codec;
}

Result<Canvas> makeCanvas(std::span<const std::uint8_t> data, CanvasLimits limits) {
    const Codec* codec = sniffCodec(data);
    if (codec == nullptr) return std::unexpected("no picture on the clipboard");

    const auto decoder = codec->readHeader(data);
    if (!decoder) return std::unexpected(decoder.error());
    const PictureSize size = (*decoder)->size();
    if (!sizeAllowed(size, limits)) return std::unexpected("picture size");

    auto canvas = allocateCanvas(size.w, size.h);
    if (!canvas) return canvas;
    if (auto decoded = (*decoder)->decode(*canvas); !decoded) {
        return std::unexpected(decoded.error());
    }
    return canvas;
}

}  // namespace cliptint
