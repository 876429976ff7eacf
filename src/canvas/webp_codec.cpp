#include <webp/decode.h>

#include <cstring>
#include <memory>

#include "canvas/codecs.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

bool sniffWebp(std::span<const std::uint8_t> data) {
    return data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0 &&
           std::memcmp(data.data() + 8, "WEBP", 4) == 0;
}

// libwebp keeps no handle between reading the header and decoding; what it read is kept here.
class WebpDecoder final : public PictureDecoder {
  public:
    WebpDecoder(std::span<const std::uint8_t> data, const WebPBitstreamFeatures& features)
        : data_(data), features_(features) {}

    PictureSize size() const override { return {features_.width, features_.height}; }
    Result<void> decode(Canvas& canvas) override;

  private:
    std::span<const std::uint8_t> data_;
    WebPBitstreamFeatures features_;
};

Result<std::unique_ptr<PictureDecoder>> readWebpHeader(std::span<const std::uint8_t> data) {
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) {
        return std::unexpected("no picture on the clipboard");
    }
    return std::make_unique<WebpDecoder>(data, features);
}

// Decodes straight RGBA into the canvas and premultiplies it here: libwebp's own premultiplied
// output rounds differently, and the same picture must give the same canvas in every format.
Result<void> WebpDecoder::decode(Canvas& canvas) {
    // Animations are not read by this decoder at all; their first frame is not offered.
    if (features_.has_animation != 0) return std::unexpected("image");
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) return std::unexpected("image");
    const auto out = canvas.bytes();
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.data();
    config.output.u.RGBA.stride = static_cast<int>(canvas.w * 4);
    config.output.u.RGBA.size = out.size();
    const VP8StatusCode status = WebPDecode(data_.data(), data_.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return std::unexpected("image");
    premultiply(out);
    return {};
}

}  // namespace

Codec webpCodec() {
    return {"webp", sniffWebp, readWebpHeader};
}

}  // namespace cliptint
