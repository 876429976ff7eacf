#include "support/canvas_maker.hpp"

#include <png.h>

#include <cstring>
#include <stdexcept>

#include "png_reference.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

namespace {

void appendLittleEndian(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void PrintTo(const Rgba& p, std::ostream* out) {
    *out << '{' << int{p.r} << ',' << int{p.g} << ',' << int{p.b} << ',' << int{p.a} << '}';
}

Canvas clearCanvas(std::int64_t w, std::int64_t h) {
    auto canvas = allocateCanvas(w, h);
    if (!canvas) throw std::runtime_error(canvas.error());
    std::memset(canvas->px(), 0, static_cast<std::size_t>(canvas->byteCount()));
    return std::move(*canvas);
}

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour) {
    std::memcpy(canvas.px() + (y * canvas.w + x) * 4, &colour, 4);
}

std::vector<Rgba> allPixels(const Canvas& canvas) {
    std::vector<Rgba> pixels(static_cast<std::size_t>(canvas.w * canvas.h));
    std::memcpy(pixels.data(), canvas.px(), static_cast<std::size_t>(canvas.byteCount()));
    return pixels;
}

std::string pngOf(const Canvas& canvas) {
    Bytes straight = fuzz::straightOf(canvas.bytes());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.w);
    image.height = static_cast<png_uint_32>(canvas.h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, straight.data(), 0, nullptr);
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, straight.data(), 0, nullptr)) {
        throw std::runtime_error("png write");
    }
    png.resize(size);
    return png;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes dataBytes(const std::string& name) {
    return bytesOf(readWholeFile(testData(name)));
}

Bytes fileOf(const std::vector<Chunk>& chunks) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& chunk : chunks)
        fuzz::appendPngChunk(png, chunk.type, chunk.data, chunk.goodCrc);
    return png;
}

Chunk ihdrOf(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colourType) {
    Bytes ihdr{0, 0, 0, 0, 0, 0, 0, 0, depth, colourType, 0, 0, 0};
    fuzz::putBigEndian32(ihdr.data(), w);
    fuzz::putBigEndian32(ihdr.data() + 4, h);
    return {"IHDR", ihdr};
}

Bytes tiffWithSize(std::uint32_t w, std::uint32_t h, ExtraSample extra) {
    struct Entry {
        std::uint16_t tag, type;  // type 3 SHORT, 4 LONG
        std::uint32_t value;
    };
    std::vector<Entry> entries{{256, 4, w}, {257, 4, h}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                               {273, 4, 0}, {277, 3, 1}, {278, 4, h}, {279, 4, 4}};
    if (extra == ExtraSample::alpha) entries.push_back({338, 3, 2});
    constexpr std::uint32_t kDirectory = 8;
    const auto pixels = static_cast<std::uint32_t>(kDirectory + 2 + entries.size() * 12 + 4);
    entries[5].value = pixels;  // StripOffsets
    Bytes tiff{'I', 'I', 42, 0};
    appendLittleEndian(tiff, kDirectory, 4);
    appendLittleEndian(tiff, static_cast<std::uint32_t>(entries.size()), 2);
    for (const Entry& e : entries) {
        appendLittleEndian(tiff, e.tag, 2);
        appendLittleEndian(tiff, e.type, 2);
        appendLittleEndian(tiff, 1, 4);
        appendLittleEndian(tiff, e.value, 4);  // a SHORT sits in the first two bytes
    }
    appendLittleEndian(tiff, 0, 4);  // no next directory
    tiff.insert(tiff.end(), {0, 85, 170, 255});
    return tiff;
}

Bytes gifScreen(std::uint16_t w, std::uint16_t h) {
    Bytes gif{'G', 'I', 'F', '8', '9', 'a'};
    appendLittleEndian(gif, w, 2);
    appendLittleEndian(gif, h, 2);
    gif.insert(gif.end(), {0, 0, 0, ';'});  // no colour table, background, aspect; trailer
    return gif;
}

Bytes jpegWithSize(Bytes jpeg, std::uint16_t w, std::uint16_t h) {
    // Markers from the second on: FF, code, 2-byte length that counts itself.
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        const std::uint8_t code = jpeg[at + 1];
        if (code == 0xC0 || code == 0xC2) {
            jpeg[at + 5] = static_cast<std::uint8_t>(h >> 8);
            jpeg[at + 6] = static_cast<std::uint8_t>(h);
            jpeg[at + 7] = static_cast<std::uint8_t>(w >> 8);
            jpeg[at + 8] = static_cast<std::uint8_t>(w);
            return jpeg;
        }
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    throw std::runtime_error("no frame header");
}

Bytes webpWithSize(std::uint32_t w, std::uint32_t h) {
    // A VP8L chunk of 5 bytes and its pad byte: the signature 0x2F, then 14 bits width - 1 and
    // 14 bits height - 1, the alpha hint and version 0, little-endian.
    Bytes webp{'R', 'I', 'F', 'F', 18,  0, 0, 0, 'W', 'E', 'B',
               'P', 'V', 'P', '8', 'L', 5, 0, 0, 0,   0x2F};
    appendLittleEndian(webp, (w - 1) | (h - 1) << 14, 4);
    webp.push_back(0);
    return webp;
}

}  // namespace cliptint::test
