#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "canvas/codecs.hpp"

namespace cliptint {

namespace {

struct CloseGif {
    void operator()(GifFileType* gif) const noexcept { DGifCloseFile(gif, nullptr); }
};
using GifFile = std::unique_ptr<GifFileType, CloseGif>;

struct MemoryReader {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;  // bytes consumed
};

// giflib treats a short count as the end of the data.
int readMemory(GifFileType* gif, GifByteType* out, int size) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    if (size <= 0) return 0;
    const std::size_t count =
        std::min(static_cast<std::size_t>(size), reader->data.size() - reader->position);
    std::memcpy(out, reader->data.data() + reader->position, count);
    reader->position += count;
    return static_cast<int>(count);
}

// Reads the signature, the logical screen and the global colour table.
GifFile openGif(MemoryReader& reader) {
    int error = 0;
    return GifFile(DGifOpen(&reader, readMemory, &error));
}

bool sniffGif(std::span<const std::uint8_t> data) {
    return data.size() >= 6 && (std::memcmp(data.data(), "GIF87a", 6) == 0 ||
                                std::memcmp(data.data(), "GIF89a", 6) == 0);
}

// giflib's handle after reading the logical screen. The handle reads through reader_, which is
// declared first so that it outlives the handle.
class GifDecoder final : public PictureDecoder {
  public:
    explicit GifDecoder(std::span<const std::uint8_t> data)
        : reader_{data}, gif_(openGif(reader_)) {}

    bool opened() const { return gif_ != nullptr; }

    // The canvas is the logical screen; the first frame is drawn on it where it says.
    PictureSize size() const override { return {gif_->SWidth, gif_->SHeight}; }
    Result<void> decode(Canvas& canvas) override;

  private:
    MemoryReader reader_;
    GifFile gif_;
};

Result<std::unique_ptr<PictureDecoder>> readGifHeader(std::span<const std::uint8_t> data) {
    auto decoder = std::make_unique<GifDecoder>(data);
    if (!decoder->opened()) return std::unexpected("no picture on the clipboard");
    return decoder;
}

// Reads one extension whole; a graphic control block sets the transparent index.
bool readExtension(GifFileType* gif, int& transparent) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
            transparent = control.TransparentColor;
        }
    }
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

// Draws row y of the frame; the parts outside the screen are dropped. The transparent index
// and indices past the colour table leave the canvas clear.
void drawRow(const GifByteType* row, std::int64_t y, const GifImageDesc& frame,
             const ColorMapObject& colours, int transparent, Canvas& canvas) {
    const std::int64_t canvasY = frame.Top + y;
    if (canvasY >= canvas.h) return;
    const std::int64_t width = std::min<std::int64_t>(frame.Width, canvas.w - frame.Left);
    std::uint8_t* out = canvas.px() + (canvasY * canvas.w + frame.Left) * 4;
    for (std::int64_t x = 0; x < width; ++x, out += 4) {
        const int index = row[x];
        if (index == transparent || index >= colours.ColorCount) continue;
        const GifColorType& colour = colours.Colors[index];
        out[0] = colour.Red;
        out[1] = colour.Green;
        out[2] = colour.Blue;
        out[3] = 255;
    }
}

// Interlaced frames send rows 0, 8, 16, ... first, then 4, 12, ..., then 2, 6, ..., then the
// odd rows (GIF89a, appendix E); others send the rows in order.
Result<void> drawFrame(GifFileType* gif, int transparent, Canvas& canvas) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return std::unexpected("image");
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || frame.Width <= 0 || frame.Height <= 0) {
        return std::unexpected("image");
    }
    // A frame far larger than any canvas would only cost decoding time for rows never shown.
    if (std::int64_t{frame.Width} * frame.Height > kMaxPixels) return std::unexpected("image");
    const std::unique_ptr<GifByteType[]> row(new (std::nothrow) GifByteType[frame.Width]);
    if (!row) return std::unexpected("image");
    constexpr std::array<int, 4> kFirst{0, 4, 2, 1};
    constexpr std::array<int, 4> kStep{8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int first = frame.Interlace ? kFirst[pass] : 0;
        const int step = frame.Interlace ? kStep[pass] : 1;
        for (int y = first; y < frame.Height; y += step) {
            if (DGifGetLine(gif, row.get(), frame.Width) == GIF_ERROR) {
                return std::unexpected("image");
            }
            drawRow(row.get(), y, frame, *colours, transparent, canvas);
        }
    }
    return {};
}

Result<void> GifDecoder::decode(Canvas& canvas) {
    const auto bytes = canvas.bytes();
    std::fill(bytes.begin(), bytes.end(), 0);
    int transparent = NO_TRANSPARENT_COLOR;
    // Every record consumes input, so this ends when the data does.
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif_.get(), &record) == GIF_ERROR) return std::unexpected("image");
        if (record == IMAGE_DESC_RECORD_TYPE) return drawFrame(gif_.get(), transparent, canvas);
        if (record != EXTENSION_RECORD_TYPE) return std::unexpected("image");
        if (!readExtension(gif_.get(), transparent)) return std::unexpected("image");
    }
}

}  // namespace

Codec gifCodec() {
    return {"gif", sniffGif, readGifHeader};
}

}  // namespace cliptint
