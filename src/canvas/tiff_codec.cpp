#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "canvas/codecs.hpp"
#include "canvas/colour_profile.hpp"
#include "canvas/premultiply.hpp"
#include "canvas/tiff_library.hpp"

namespace cliptint {

namespace {

// No single buffer that libtiff allocates (a strip, a tile, a tag array) may exceed this; a
// header that asks for more is refused instead of being trusted. Pictures in strips are read
// one row at a time and never need a whole strip.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{64} << 20;  // bytes

// The library's functions. Only reached once readTiffHeader has found the library loaded.
const TiffLibrary& libtiff() {
    return *tiffLibrary();
}

struct CloseTiff {
    void operator()(TIFF* tif) const { libtiff().close(tif); }
};
struct FreeTiffOptions {
    void operator()(TIFFOpenOptions* options) const { libtiff().openOptionsFree(options); }
};
using TiffFile = std::unique_ptr<TIFF, CloseTiff>;
using TiffOptions = std::unique_ptr<TIFFOpenOptions, FreeTiffOptions>;

// The picture bytes as a read-only file for libtiff; "mapping" hands it the bytes themselves,
// so compressed strips are decoded from them without being copied.
struct MemoryFile {
    std::span<const std::uint8_t> data;
    std::uint64_t position = 0;  // bytes from the start; may lie past the end
};

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->data.size()) return 0;
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size),
                                                        file->data.size() - file->position);
    std::memcpy(buffer, file->data.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (whence == SEEK_CUR) offset += file->position;
    if (whence == SEEK_END) offset += file->data.size();
    file->position = offset;
    return offset;
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->data.size();
}

int mapMemory(thandle_t handle, void** base, toff_t* size) {
    auto* file = static_cast<MemoryFile*>(handle);
    // libtiff only reads through the mapping of a file opened for reading.
    *base = const_cast<std::uint8_t*>(file->data.data());
    *size = file->data.size();
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

// Returning 1 tells libtiff the message is handled: it is neither printed nor passed on.
int ignoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

TiffFile openTiff(MemoryFile& file) {
    const TiffLibrary& tiff = libtiff();
    const TiffOptions options(tiff.openOptionsAlloc());
    if (!options) return nullptr;
    tiff.openOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
    tiff.openOptionsSetErrorHandler(options.get(), ignoreMessage, nullptr);
    tiff.openOptionsSetWarningHandler(options.get(), ignoreMessage, nullptr);
    return TiffFile(tiff.clientOpen("picture", "r", &file, readMemory, writeNothing, seekMemory,
                                    closeNothing, sizeOfMemory, mapMemory, unmapNothing,
                                    options.get()));
}

bool sniffTiff(std::span<const std::uint8_t> data) {
    constexpr std::array<std::array<std::uint8_t, 4>, 4> kMagics{{
        {'I', 'I', 42, 0},
        {'M', 'M', 0, 42},  // classic TIFF
        {'I', 'I', 43, 0},
        {'M', 'M', 0, 43},  // BigTIFF
    }};
    if (data.size() < 4) return false;
    return std::ranges::any_of(
        kMagics, [&](const auto& magic) { return std::memcmp(data.data(), magic.data(), 4) == 0; });
}

// libtiff's handle after reading the first directory. The handle reads through file_, which is
// declared first so that it outlives the handle.
class TiffDecoder final : public PictureDecoder {
  public:
    explicit TiffDecoder(std::span<const std::uint8_t> data) : file_{data}, tif_(openTiff(file_)) {}

    // False when libtiff could not read the first directory or the size it states.
    bool readSize();

    PictureSize size() const override { return size_; }
    Result<void> decode(Canvas& canvas) override;

  private:
    MemoryFile file_;
    TiffFile tif_;
    PictureSize size_;
};

bool TiffDecoder::readSize() {
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (!tif_ || libtiff().getField(tif_.get(), TIFFTAG_IMAGEWIDTH, &w) != 1 ||
        libtiff().getField(tif_.get(), TIFFTAG_IMAGELENGTH, &h) != 1) {
        return false;
    }
    size_ = {w, h};
    return true;
}

Result<std::unique_ptr<PictureDecoder>> readTiffHeader(std::span<const std::uint8_t> data) {
    if (tiffLibrary() == nullptr) return std::unexpected("image");
    auto decoder = std::make_unique<TiffDecoder>(data);
    if (!decoder->readSize()) return std::unexpected("no picture on the clipboard");
    return decoder;
}

enum class Alpha { none, straight, premultiplied };

// How the samples of a grey or RGB picture of 8 or 16 bits lie in a decoded row.
struct SampleLayout {
    std::uint16_t samples = 0;  // per pixel, colours first, then extra samples
    std::uint16_t bits = 0;     // 8 or 16, native byte order once libtiff has read them
    std::uint16_t colours = 0;  // 1 grey or 3 RGB
    bool whiteIsZero = false;
    Alpha alpha = Alpha::none;  // the sample right after the colours, if any
};

// The alpha rules of libtiff's own RGBA reader, so that both paths agree: the first extra
// sample is alpha when marked so; an unmarked one counts as premultiplied alpha after RGB.
Alpha alphaOf(TIFF* tif, const SampleLayout& layout) {
    // ExtraSamples may name a sample that the pixel does not have (one grey sample marked as
    // alpha): with no sample after the colours there is no alpha to read, and the picture is
    // opaque. Reading one would run past the end of the row.
    if (layout.samples <= layout.colours) return Alpha::none;
    std::uint16_t extraCount = 0;
    const std::uint16_t* extras = nullptr;
    libtiff().getFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extras);
    if (extraCount == 0 || extras == nullptr) {
        return layout.colours == 3 && layout.samples == 4 ? Alpha::premultiplied : Alpha::none;
    }
    if (extras[0] == EXTRASAMPLE_ASSOCALPHA) return Alpha::premultiplied;
    if (extras[0] == EXTRASAMPLE_UNASSALPHA) return Alpha::straight;
    return layout.samples > 3 ? Alpha::premultiplied : Alpha::none;
}

// The layout when this file's rows can be converted here: upright, interleaved, unsigned grey
// or RGB of 8 or 16 bits. libtiff's RGBA reader takes the high byte of 16-bit samples and
// leaves straight grey + alpha un-premultiplied, so these common cases are read directly.
std::optional<SampleLayout> directLayout(TIFF* tif) {
    std::uint16_t photometric = 0;
    std::uint16_t planar = 0;
    std::uint16_t format = 0;
    std::uint16_t orientation = 0;
    std::uint16_t compression = 0;
    SampleLayout layout;
    if (libtiff().getField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return std::nullopt;
    libtiff().getFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    libtiff().getFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    libtiff().getFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    libtiff().getFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    libtiff().getFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    libtiff().getFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE &&
        photometric != PHOTOMETRIC_RGB) {
        return std::nullopt;
    }
    layout.colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    layout.whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
    if (layout.bits != 8 && layout.bits != 16) return std::nullopt;
    if (format != SAMPLEFORMAT_UINT || orientation != ORIENTATION_TOPLEFT) return std::nullopt;
    if (layout.samples < layout.colours) return std::nullopt;
    if (layout.samples > 1 && planar != PLANARCONFIG_CONTIG) return std::nullopt;
    if (compression == COMPRESSION_OJPEG) return std::nullopt;
    layout.alpha = alphaOf(tif, layout);
    return layout;
}

constexpr unsigned toEightBits(std::uint8_t v) {
    return v;
}
constexpr unsigned toEightBits(std::uint16_t v) {
    return eightBits(v);
}

// Converts count pixels of one row into premultiplied canvas bytes.
template <class Sample>
void convertRow(const Sample* in, const SampleLayout& layout, std::int64_t count,
                std::uint8_t* out) {
    for (std::int64_t i = 0; i < count; ++i, in += layout.samples, out += 4) {
        unsigned r = toEightBits(in[0]);
        if (layout.whiteIsZero) r = 255 - r;
        const unsigned g = layout.colours == 3 ? toEightBits(in[1]) : r;
        const unsigned b = layout.colours == 3 ? toEightBits(in[2]) : r;
        const unsigned a = layout.alpha == Alpha::none ? 255 : toEightBits(in[layout.colours]);
        if (layout.alpha != Alpha::premultiplied) {
            storeStraight(out, r, g, b, a);
            continue;
        }
        // Already premultiplied; a colour above its alpha would break the canvas, so it is cut.
        out[0] = static_cast<std::uint8_t>(std::min(r, a));
        out[1] = static_cast<std::uint8_t>(std::min(g, a));
        out[2] = static_cast<std::uint8_t>(std::min(b, a));
        out[3] = static_cast<std::uint8_t>(a);
    }
}

// Converts count pixels of one row of a tagged picture: the colours by its profile, the alpha
// rounded and applied as for any straight picture.
template <class Sample>
void convertTaggedRow(const Sample* in, const SampleLayout& layout, std::int64_t count,
                      const ColourConversion& conversion, std::uint8_t* out) {
    conversion.convert(in, out, count);
    for (std::int64_t i = 0; i < count; ++i, in += layout.samples, out += 4) {
        const unsigned a = layout.alpha == Alpha::none ? 255 : toEightBits(in[layout.colours]);
        storeStraight(out, out[0], out[1], out[2], a);
    }
}

// in is 2-byte aligned: buffers come from sampleBuffer and 16-bit rows have even lengths.
void convertSamples(const std::uint8_t* in, const SampleLayout& layout, std::int64_t count,
                    const ColourConversion* conversion, std::uint8_t* out) {
    if (layout.bits == 16) {
        const auto* samples = reinterpret_cast<const std::uint16_t*>(in);
        if (conversion != nullptr)
            return convertTaggedRow(samples, layout, count, *conversion, out);
        return convertRow(samples, layout, count, out);
    }
    if (conversion != nullptr) return convertTaggedRow(in, layout, count, *conversion, out);
    convertRow(in, layout, count, out);
}

// The conversion of a picture with an embedded profile. Premultiplied colours would have to be
// divided out before converting and multiplied in again after: such pictures are rare, and are
// taken as they stand.
std::optional<ColourConversion> tiffConversion(TIFF* tif, const SampleLayout& layout) {
    std::uint32_t size = 0;
    const void* profile = nullptr;
    if (layout.alpha == Alpha::premultiplied ||
        libtiff().getField(tif, TIFFTAG_ICCPROFILE, &size, &profile) != 1 || profile == nullptr) {
        return std::nullopt;
    }
    const PixelLayout pixel{.model = layout.colours == 3 ? ColourModel::rgb : ColourModel::grey,
                            .sampleBytes = layout.bits / 8,
                            .samples = layout.samples,
                            .inverted = layout.whiteIsZero};
    return profileConversion({static_cast<const std::uint8_t*>(profile), size}, pixel);
}

// A buffer for decoded samples, aligned for 16-bit reads; null when it cannot be had.
std::unique_ptr<std::uint16_t[]> sampleBuffer(tmsize_t bytes) {
    return std::unique_ptr<std::uint16_t[]>(
        new (std::nothrow) std::uint16_t[static_cast<std::size_t>(bytes + 1) / 2]);
}

// The bytes that count pixels of the layout take; 64-bit, the caller's counts are bounded.
std::int64_t rowBytes(const SampleLayout& layout, std::int64_t count) {
    return count * layout.samples * (layout.bits / 8);
}

// Strips are read one row at a time (libtiff decodes a compressed strip row by row), so a
// picture stored as one huge strip costs one row of memory.
Result<void> readStrips(TIFF* tif, const SampleLayout& layout, const ColourConversion* conversion,
                        Canvas& canvas) {
    const tmsize_t scanline = libtiff().scanlineSize(tif);
    if (scanline < rowBytes(layout, canvas.w) || scanline > kMaxTiffAllocation) {
        return std::unexpected("image");
    }
    const auto buffer = sampleBuffer(scanline);
    if (!buffer) return std::unexpected("image");
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        if (libtiff().readScanline(tif, buffer.get(), static_cast<std::uint32_t>(y), 0) != 1) {
            return std::unexpected("image");
        }
        convertSamples(reinterpret_cast<const std::uint8_t*>(buffer.get()), layout, canvas.w,
                       conversion, canvas.px() + y * canvas.w * 4);
    }
    return {};
}

// Tiles are decoded one at a time and their rows copied to where they belong; tiles along the
// right and bottom edges reach past the picture and are cut.
Result<void> readTiles(TIFF* tif, const SampleLayout& layout, const ColourConversion* conversion,
                       Canvas& canvas) {
    std::uint32_t tileW = 0;
    std::uint32_t tileH = 0;
    libtiff().getField(tif, TIFFTAG_TILEWIDTH, &tileW);
    libtiff().getField(tif, TIFFTAG_TILELENGTH, &tileH);
    const tmsize_t tileBytes = libtiff().tileSize(tif);
    const tmsize_t tileRowBytes = libtiff().tileRowSize(tif);
    if (tileW == 0 || tileH == 0 || tileRowBytes < rowBytes(layout, tileW) ||
        tileBytes < tileRowBytes * tileH || tileBytes > kMaxTiffAllocation) {
        return std::unexpected("image");
    }
    const auto buffer = sampleBuffer(tileBytes);
    if (!buffer) return std::unexpected("image");
    for (std::int64_t y = 0; y < canvas.h; y += tileH) {
        for (std::int64_t x = 0; x < canvas.w; x += tileW) {
            if (libtiff().readTile(tif, buffer.get(), static_cast<std::uint32_t>(x),
                                   static_cast<std::uint32_t>(y), 0, 0) < 0) {
                return std::unexpected("image");
            }
            const std::int64_t rows = std::min<std::int64_t>(tileH, canvas.h - y);
            const std::int64_t columns = std::min<std::int64_t>(tileW, canvas.w - x);
            const auto* tile = reinterpret_cast<const std::uint8_t*>(buffer.get());
            for (std::int64_t row = 0; row < rows; ++row) {
                convertSamples(tile + row * tileRowBytes, layout, columns, conversion,
                               canvas.px() + ((y + row) * canvas.w + x) * 4);
            }
        }
    }
    return {};
}

// libtiff packs each pixel as one 32-bit word with red in the low byte; on a little-endian
// machine those are already the canvas bytes. Its output is premultiplied except where it
// forgot (straight grey + alpha), which the cut to alpha keeps from breaking the canvas.
void settlePackedPixels(Canvas& canvas) {
    const auto bytes = canvas.bytes();
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        if constexpr (std::endian::native == std::endian::big) {
            std::swap(bytes[i], bytes[i + 3]);
            std::swap(bytes[i + 1], bytes[i + 2]);
        }
        for (std::size_t k = 0; k < 3; ++k)
            bytes[i + k] = std::min(bytes[i + k], bytes[i + 3]);
    }
}

// Everything else (palette, bilevel, CMYK, YCbCr, separate planes, turned pictures) goes
// through libtiff's RGBA reader, which writes straight into the canvas. Their embedded profile,
// if any, is not applied.
Result<void> readPackedRgba(TIFF* tif, Canvas& canvas) {
    std::array<char, 1024> message{};
    if (libtiff().rgbaImageOk(tif, message.data()) != 1) return std::unexpected("image");
    TIFFRGBAImage image{};
    if (libtiff().rgbaImageBegin(&image, tif, 1, message.data()) != 1)
        return std::unexpected("image");
    image.req_orientation = ORIENTATION_TOPLEFT;
    const int read = libtiff().rgbaImageGet(&image, reinterpret_cast<std::uint32_t*>(canvas.px()),
                                            static_cast<std::uint32_t>(canvas.w),
                                            static_cast<std::uint32_t>(canvas.h));
    libtiff().rgbaImageEnd(&image);
    if (read != 1) return std::unexpected("image");
    settlePackedPixels(canvas);
    return {};
}

Result<void> TiffDecoder::decode(Canvas& canvas) {
    const auto layout = directLayout(tif_.get());
    if (!layout) return readPackedRgba(tif_.get(), canvas);
    const auto conversion = tiffConversion(tif_.get(), *layout);
    const ColourConversion* converts = conversion ? &*conversion : nullptr;
    if (libtiff().isTiled(tif_.get())) return readTiles(tif_.get(), *layout, converts, canvas);
    return readStrips(tif_.get(), *layout, converts, canvas);
}

}  // namespace

Codec tiffCodec() {
    return {"tiff", sniffTiff, readTiffHeader};
}

}  // namespace cliptint
