#include <webp/decode.h>

#include <cstring>

#include "canvas/codecs.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

bool sniffWebp(std::span<const std::uint8_t> data) {
    return data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0 &&
           std::memcmp(data.data() + 8, "WEBP", 4) == 0;
}

Result<PictureSize> readWebpHeader(std::span<const std::uint8_t> data) {
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) {
        return std::unexpected("no picture on the clipboard");
    }
    return PictureSize{features.width, features.height};
}

// Decodes straight RGBA into the canvas and premultiplies it here: libwebp's own premultiplied
// output rounds differently, and the same picture must give the same canvas in every format.
Result<void> decodeWebp(std::span<const std::uint8_t> data, Canvas& canvas) {
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) return std::unexpected("image");
    if (WebPGetFeatures(data.data(), data.size(), &config.input) != VP8_STATUS_OK ||
        config.input.width != canvas.w || config.input.height != canvas.h) {
        return std::unexpected("image");
    }
    // Animations are not read by this decoder at all; their first frame is not offered.
    if (config.input.has_animation != 0) return std::unexpected("image");
    const auto out = canvas.bytes();
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.data();
    config.output.u.RGBA.stride = static_cast<int>(canvas.w * 4);
    config.output.u.RGBA.size = out.size();
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return std::unexpected("image");
    premultiply(out);
    return {};
}

}  // namespace

Codec webpCodec() {
    return {"webp", sniffWebp, readWebpHeader, decodeWebp};
}

}  // namespace cliptint
