#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <optional>

#include "canvas/codecs.hpp"
#include "canvas/colour_profile.hpp"
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

using WebpDemuxer = std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)>;

// The conversion of an extended file with an ICCP chunk. The chunk's bytes lie in the picture
// bytes; the demuxer only finds them.
std::optional<ColourConversion> webpConversion(std::span<const std::uint8_t> data) {
    const WebPData bytes{data.data(), data.size()};
    const WebpDemuxer demuxer(WebPDemux(&bytes), WebPDemuxDelete);
    if (!demuxer || (WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) == 0) {
        return std::nullopt;
    }
    WebPChunkIterator chunk{};
    if (WebPDemuxGetChunk(demuxer.get(), "ICCP", 1, &chunk) == 0) return std::nullopt;
    const std::span<const std::uint8_t> profile(chunk.chunk.bytes, chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return profileConversion(profile, {.model = ColourModel::rgb, .sampleBytes = 1, .samples = 4});
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
    if (const auto conversion = webpConversion(data_)) {
        conversion->convert(out.data(), out.data(), canvas.w * canvas.h);
    }
    premultiply(out);
    return {};
}

}  // namespace

Codec webpCodec() {
    return {"webp", sniffWebp, readWebpHeader};
}

}  // namespace cliptint
