#include "hand_made.hpp"

#include <stdexcept>
#include <vector>

#include "png_reference.hpp"

namespace cliptint::test {

namespace {

void appendBigEndian(Bytes& out, std::uint32_t v, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void appendLittleEndian(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

Bytes fileOf(const std::vector<Chunk>& chunks) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& chunk : chunks)
        fuzz::appendPngChunk(png, chunk.type, chunk.data, chunk.goodCrc);
    return png;
}

Chunk ihdrOf(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colourType) {
    Bytes ihdr;
    appendBigEndian(ihdr, w, 4);
    appendBigEndian(ihdr, h, 4);
    ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});
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
