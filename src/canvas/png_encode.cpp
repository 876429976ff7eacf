#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "canvas/canvas.hpp"
#include "canvas/png_fast.hpp"
#include "sys/calls.hpp"

namespace cliptint {

namespace {

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

// libdeflate's level 6: see bench/results.md for the sizes and times of the levels tried.
constexpr int kCompressionLevel = 6;

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kIhdrSize = 12 + 13;                      // bytes, the whole chunk
constexpr std::size_t kSrgbSize = 12 + 1;                       // bytes, the whole chunk
constexpr std::size_t kSrgbAt = kSignature.size() + kIhdrSize;  // offset of the sRGB chunk
constexpr std::size_t kIdatAt = kSrgbAt + kSrgbSize;            // offset of the IDAT chunk
constexpr std::size_t kIendSize = 12;                           // bytes, the whole chunk

// Straight colour back from premultiplied, rounded to nearest, for every alpha and colour byte
// (colour <= alpha on the canvas; alpha 0 gives colour 0). Made by the compiler: filled at run
// time, its 32,640 divisions cost a small picture's paint more than all its other steps but the
// compression.
using StraightTable = std::array<std::array<std::uint8_t, 256>, 256>;  // [alpha][premultiplied]
constexpr StraightTable kStraight = [] {
    StraightTable straight{};
    for (unsigned a = 1; a < 256; ++a) {
        for (unsigned c = 0; c <= a; ++c) {
            straight[a][c] = static_cast<std::uint8_t>((c * 255 + a / 2) / a);
        }
    }
    return straight;
}();

// Opaque and fully transparent pixels are their own straight colour.
void unpremultiplyRow(std::uint8_t* px, std::int64_t w) {
    for (std::int64_t x = 0; x < w; ++x, px += 4) {
        const unsigned a = px[3];
        if (a == 0 || a == 255) continue;
        const auto& of = kStraight[a];
        px[0] = of[px[0]];
        px[1] = of[px[1]];
        px[2] = of[px[2]];
    }
}

void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Writes the chunk's length and type before its data at p + 8 and its CRC after, and gives the
// end of the chunk (PNG, section 5.3).
std::uint8_t* finishChunk(std::uint8_t* p, const char (&type)[5], std::uint32_t length) {
    putBigEndian32(p, length);
    std::memcpy(p + 4, type, 4);
    putBigEndian32(p + 8 + length, libdeflate_crc32(0, p + 4, 4 + std::size_t{length}));
    return p + 12 + length;
}

void writeIhdr(std::uint8_t* p, const Canvas& canvas) {
    std::uint8_t* data = p + 8;
    putBigEndian32(data, static_cast<std::uint32_t>(canvas.w));
    putBigEndian32(data + 4, static_cast<std::uint32_t>(canvas.h));
    data[8] = 8;   // bits a sample
    data[9] = 6;   // colour type: RGBA
    data[10] = 0;  // compression: zlib
    data[11] = 0;  // filter method 0
    data[12] = 0;  // not interlaced
    finishChunk(p, "IHDR", 13);
}

// The canvas holds sRGB (tagged pictures are converted into it), and the file says so. Its
// rendering intent is relative colorimetric (PNG, section 11.3.3.5): a painted picture is one
// exact colour that the user asked for, to be shown as that colour, not remapped to a gamut.
void writeSrgb(std::uint8_t* p) {
    p[8] = 1;
    finishChunk(p, "sRGB", 1);
}

// Moves canvas row y, after its filter-type byte, to where row y of the zlib input lies:
// y * (4 * w + 1), y + 1 bytes after the row's own place. Done from the bottom row up, each move
// lands on bytes already moved away. Filter type None: on the pictures that paint writes (one
// colour, the shape in the alpha bytes) it gave the smallest files of the five filters and the
// per-row choice, and it costs no more than the move (see bench/results.md).
void filterRow(std::uint8_t* px, std::int64_t y, std::int64_t w) {
    const std::int64_t rowBytes = 4 * w;
    std::uint8_t* out = px + y * (rowBytes + 1);
    std::memmove(out + 1, px + y * rowBytes, static_cast<std::size_t>(rowBytes));
    out[0] = static_cast<std::uint8_t>(PngFilter::none);
}

// Un-premultiplies and filters the canvas into the zlib input, h * (4 * w + 1) bytes at px.
void prepareRows(Canvas& canvas) {
    std::uint8_t* px = canvas.px();
    for (std::int64_t y = canvas.h - 1; y >= 0; --y) {
        unpremultiplyRow(px + y * 4 * canvas.w, canvas.w);
        filterRow(px, y, canvas.w);
    }
}

}  // namespace

// One IDAT chunk holds the whole zlib stream: a chunk may hold 2^31 - 1 bytes, and the stream of
// the largest canvas (160 MB of pixels) stays well below that.
std::optional<Bytes> encodePng(Canvas& canvas) {
    const Compressor compressor(deflateAllocators.compressor(kCompressionLevel),
                                libdeflate_free_compressor);
    if (!compressor) return std::nullopt;
    const auto filtered = static_cast<std::size_t>(canvas.h * (4 * canvas.w + 1));
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filtered);
    // Pages of the output buffer that the stream never reaches are never touched, so they cost
    // address space, not memory.
    const MallocMemory png(
        static_cast<std::uint8_t*>(std::malloc(kIdatAt + 12 + bound + kIendSize)));
    if (!png) return std::nullopt;

    prepareRows(canvas);
    std::uint8_t* idat = png.get() + kIdatAt;
    const std::size_t streamSize =
        libdeflate_zlib_compress(compressor.get(), canvas.px(), filtered, idat + 8, bound);
    if (streamSize == 0 || streamSize > 0x7FFF'FFFF) return std::nullopt;

    std::memcpy(png.get(), kSignature.data(), kSignature.size());
    writeIhdr(png.get() + kSignature.size(), canvas);
    writeSrgb(png.get() + kSrgbAt);
    std::uint8_t* iend = finishChunk(idat, "IDAT", static_cast<std::uint32_t>(streamSize));
    const std::uint8_t* end = finishChunk(iend, "IEND", 0);
    Bytes bytes;
    if (!sys::reserve(bytes, static_cast<std::size_t>(end - png.get()))) return std::nullopt;
    bytes.assign(static_cast<const std::uint8_t*>(png.get()), end);
    return bytes;
}

}  // namespace cliptint
