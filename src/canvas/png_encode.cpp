#include <spng.h>

#include <cstdlib>

#include "canvas/canvas.hpp"

namespace cliptint {

namespace {

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

// Straight colour back from premultiplied, rounded to nearest; alpha 0 gives colour 0.
void unpremultiplyInto(const std::uint8_t* px, std::int64_t bytes, std::uint8_t* out) {
    for (std::int64_t i = 0; i < bytes; i += 4) {
        const unsigned a = px[i + 3];
        for (int k = 0; k < 3; ++k) {
            out[i + k] = a == 0 ? 0 : static_cast<std::uint8_t>((px[i + k] * 255u + a / 2) / a);
        }
        out[i + 3] = static_cast<std::uint8_t>(a);
    }
}

}  // namespace

std::optional<Bytes> encodePng(const Canvas& canvas) {
    SpngContext ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) return std::nullopt;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(canvas.w);
    ihdr.height = static_cast<std::uint32_t>(canvas.h);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;

    Bytes straight(static_cast<std::size_t>(canvas.byteCount()));
    unpremultiplyInto(canvas.px(), canvas.byteCount(), straight.data());
    if (spng_encode_image(ctx.get(), straight.data(), straight.size(), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) != 0) {
        return std::nullopt;
    }
    std::size_t size = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx.get(), &size, &error);
    if (png == nullptr || error != 0) return std::nullopt;
    Bytes result(static_cast<std::uint8_t*>(png), static_cast<std::uint8_t*>(png) + size);
    std::free(png);
    return result;
}

}  // namespace cliptint
