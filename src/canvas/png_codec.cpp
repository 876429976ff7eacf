#include <spng.h>

#include <array>
#include <cstring>

#include "canvas/codecs.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool sniffPng(std::span<const std::uint8_t> data) {
    return data.size() >= kSignature.size() &&
           std::memcmp(data.data(), kSignature.data(), kSignature.size()) == 0;
}

SpngContext openPng(std::span<const std::uint8_t> data) {
    SpngContext ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) return ctx;
    // Ancillary chunks are kept small: no picture needs megabytes of text or profiles.
    constexpr std::size_t kChunkLimit = 64 << 20;
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit);
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    if (spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) ctx.reset();
    return ctx;
}

Result<PictureSize> readPngHeader(std::span<const std::uint8_t> data) {
    const auto ctx = openPng(data);
    spng_ihdr ihdr{};
    if (!ctx || spng_get_ihdr(ctx.get(), &ihdr) != 0) {
        return std::unexpected("no picture on the clipboard");
    }
    return PictureSize{ihdr.width, ihdr.height};
}

Result<void> decodePng(std::span<const std::uint8_t> data, Canvas& canvas) {
    const auto ctx = openPng(data);
    if (!ctx) return std::unexpected("image");
    const auto out = canvas.bytes();
    if (spng_decode_image(ctx.get(), out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) !=
        0) {
        return std::unexpected("image");
    }
    premultiply(out);
    return {};
}

}  // namespace

Codec pngCodec() { return {"png", sniffPng, readPngHeader, decodePng}; }

}  // namespace cliptint
