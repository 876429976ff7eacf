#include <spng.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "canvas/codecs.hpp"
#include "canvas/colour_profile.hpp"
#include "canvas/png_fast.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Ancillary chunks (text, profiles) are kept small: no picture needs megabytes of them, and
// libspng answers a chunk over the limit as an error instead of allocating it.
constexpr std::size_t kChunkLimit = 8 << 20;   // bytes, one chunk
constexpr std::size_t kCacheLimit = 32 << 20;  // bytes, all kept chunks together

// Where each Adam7 pass puts its first pixel of a row and how far apart its pixels lie
// (PNG, section 8.2); a picture that is not interlaced has one "pass" over every pixel.
constexpr std::array<std::uint32_t, 7> kAdam7FirstX{0, 4, 0, 2, 0, 1, 0};
constexpr std::array<std::uint32_t, 7> kAdam7StepX{8, 8, 4, 4, 2, 2, 1};

bool sniffPng(std::span<const std::uint8_t> data) {
    return data.size() >= kSignature.size() &&
           std::memcmp(data.data(), kSignature.data(), kSignature.size()) == 0;
}

SpngContext openPng(std::span<const std::uint8_t> data) {
    SpngContext ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) return ctx;
    // Checksums stay on (libspng's default): a damaged file is refused, not drawn as noise.
    if (spng_set_chunk_limits(ctx.get(), kChunkLimit, kCacheLimit) != 0 ||
        spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) {
        ctx.reset();
    }
    return ctx;
}

// libspng names a width or height of 0 or over 2^31 - 1, and a size whose byte count overflows,
// as such: those headers were read, and what they state is a size no canvas takes.
bool sizeRefused(int status) {
    return status == SPNG_EWIDTH || status == SPNG_EHEIGHT || status == SPNG_EUSER_WIDTH ||
           status == SPNG_EUSER_HEIGHT || status == SPNG_EOVERFLOW;
}

// libspng's context after reading IHDR, and nothing past it.
class PngDecoder final : public PictureDecoder {
  public:
    PngDecoder(std::span<const std::uint8_t> data, SpngContext ctx, const spng_ihdr& ihdr)
        : data_(data), ctx_(std::move(ctx)), ihdr_(ihdr) {}

    PictureSize size() const override { return {ihdr_.width, ihdr_.height}; }
    Result<void> decode(Canvas& canvas) override;

  private:
    std::span<const std::uint8_t> data_;
    SpngContext ctx_;
    spng_ihdr ihdr_;
};

Result<std::unique_ptr<PictureDecoder>> readPngHeader(std::span<const std::uint8_t> data) {
    auto ctx = openPng(data);
    if (!ctx) return std::unexpected("no picture on the clipboard");
    spng_ihdr ihdr{};
    const int status = spng_get_ihdr(ctx.get(), &ihdr);
    if (sizeRefused(status)) return std::unexpected("picture size");
    if (status != 0) return std::unexpected("no picture on the clipboard");
    return std::make_unique<PngDecoder>(data, std::move(ctx), ihdr);
}

// The conversion of a picture with an iCCP chunk and without an sRGB chunk (which, by PNG
// section 11.3.3.5, overrides it), for the RGBA rows that libspng writes: grey pictures are
// expanded to equal red, green and blue, of which the first is read. gAMA and cHRM alone are
// not used. libspng inflates the profile itself, within kChunkLimit.
std::optional<ColourConversion> pngConversion(spng_ctx* ctx, const spng_ihdr& ihdr) {
    std::uint8_t intent = 0;
    if (spng_get_srgb(ctx, &intent) == 0) return std::nullopt;
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) != 0) return std::nullopt;
    const bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const PixelLayout layout{.model = grey ? ColourModel::grey : ColourModel::rgb,
                             .sampleBytes = ihdr.bit_depth == 16 ? 2 : 1,
                             .samples = 4};
    return profileConversion(
        {reinterpret_cast<const std::uint8_t*>(iccp.profile), iccp.profile_len}, layout);
}

// Pictures of up to 8 bits a sample: libspng expands them to RGBA straight into the canvas.
Result<void> decodeShallowPng(spng_ctx* ctx, const ColourConversion* conversion, Canvas& canvas) {
    const auto out = canvas.bytes();
    if (spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
        return std::unexpected("image");
    }
    if (conversion != nullptr) conversion->convert(out.data(), out.data(), canvas.w * canvas.h);
    premultiply(out);
    return {};
}

// Copies the pixels that one decoded row (RGBA, 16 bits a sample) holds into canvas row y;
// converted, when not null, holds the row's colours already converted to 8-bit sRGB.
void storeDeepRow(const std::uint16_t* row, const std::uint8_t* converted,
                  const spng_row_info& info, bool interlaced, Canvas& canvas) {
    const auto pass = static_cast<std::size_t>(info.pass);
    const std::uint32_t first = interlaced ? kAdam7FirstX[pass] : 0;
    const std::uint32_t step = interlaced ? kAdam7StepX[pass] : 1;
    std::uint8_t* out = canvas.px() + static_cast<std::int64_t>(info.row_num) * canvas.w * 4;
    for (std::int64_t x = first; x < canvas.w; x += step) {
        const std::uint16_t* p = row + x * 4;
        const unsigned a = eightBits(p[3]);
        if (converted != nullptr) {
            const std::uint8_t* c = converted + x * 4;
            storeStraight(out + x * 4, c[0], c[1], c[2], a);
        } else {
            storeStraight(out + x * 4, eightBits(p[0]), eightBits(p[1]), eightBits(p[2]), a);
        }
    }
}

// 16-bit pictures: libspng's own 8-bit output takes the high byte of each sample, so rows are
// decoded at 16 bits, one at a time into a buffer of one row, and rounded here (or converted
// at 16 bits into a second row buffer first). The buffers start zeroed: a row of an interlaced
// pass fills only some of its pixels, and the conversion reads them all.
Result<void> decodeDeepPng(spng_ctx* ctx, const spng_ihdr& ihdr, const ColourConversion* conversion,
                           Canvas& canvas) {
    const auto rowSamples = static_cast<std::size_t>(canvas.w) * 4;
    const std::unique_ptr<std::uint16_t[]> row(new (std::nothrow) std::uint16_t[rowSamples]());
    const std::unique_ptr<std::uint8_t[]> converted(
        conversion != nullptr ? new (std::nothrow) std::uint8_t[rowSamples] : nullptr);
    if (!row || (conversion != nullptr && !converted)) return std::unexpected("image");
    if (spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA16,
                          SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0) {
        return std::unexpected("image");
    }
    const bool interlaced = ihdr.interlace_method != 0;
    int status = 0;
    do {
        spng_row_info info{};
        if (spng_get_row_info(ctx, &info) != 0) return std::unexpected("image");
        status = spng_decode_row(ctx, row.get(), rowSamples * sizeof(std::uint16_t));
        if (status != 0 && status != SPNG_EOI) return std::unexpected("image");
        if (conversion != nullptr) conversion->convert(row.get(), converted.get(), canvas.w);
        storeDeepRow(row.get(), converted.get(), info, interlaced, canvas);
    } while (status != SPNG_EOI);
    return {};
}

// The colour type when the IDAT fast path can take the picture: 8 bits a sample, no palette, not
// interlaced, and no tRNS chunk. Asking libspng for tRNS makes it read and check every chunk
// before the first IDAT by its own rules; when it refuses one, the picture is left to libspng,
// which then gives its own answer.
std::optional<PngColour> fastPathColour(spng_ctx* ctx, const spng_ihdr& ihdr) {
    if (ihdr.bit_depth != 8 || ihdr.interlace_method != 0) return std::nullopt;
    const auto colour = static_cast<PngColour>(ihdr.color_type);
    if (colour != PngColour::grey && colour != PngColour::rgb && colour != PngColour::greyAlpha &&
        colour != PngColour::rgba) {
        return std::nullopt;
    }
    spng_trns trns{};
    if (spng_get_trns(ctx, &trns) != SPNG_ECHUNKAVAIL) return std::nullopt;
    return colour;
}

Result<void> PngDecoder::decode(Canvas& canvas) {
    const auto conversion = pngConversion(ctx_.get(), ihdr_);
    const ColourConversion* converts = conversion ? &*conversion : nullptr;
    // libspng has read nothing past the chunks before the first IDAT, so it can still decode the
    // picture from the start when the fast path declines. The fast path premultiplies as it
    // goes, so a picture to be converted is left to libspng.
    if (const auto colour = conversion ? std::nullopt : fastPathColour(ctx_.get(), ihdr_);
        colour && decodePngIdat(data_, *colour, canvas) == FastDecode::done) {
        return {};
    }
    if (!idatChecksumsMatch(data_)) return std::unexpected("image");
    if (ihdr_.bit_depth == 16) return decodeDeepPng(ctx_.get(), ihdr_, converts, canvas);
    return decodeShallowPng(ctx_.get(), converts, canvas);
}

}  // namespace

Codec pngCodec() {
    return {"png", sniffPng, readPngHeader};
}

}  // namespace cliptint
