// Fuzzes the PNG codec's IDAT fast path against libspng alone. Random bytes rarely carry valid
// chunk CRCs, which the fast path checks first, so every CRC is made right here:
//
//   - an input that begins with the PNG signature is taken as a PNG, with every chunk's CRC set
//     right (so the seed pictures serve);
//   - any other input describes a picture: its size, colour type, compression level, how the
//     stream is cut into IDAT chunks, and damage (a stream too short or too long, a flipped
//     stream byte, a wrong CRC), then the filtered scanlines themselves, filter-type bytes
//     included.
//
// makeCanvas must then give exactly libspng's RGBA8 pixels, premultiplied, or refuse the file
// where libspng refuses it (png_reference.hpp; where only zlib's strictness refuses the stream,
// libdeflate's reading of it counts).

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>

#include "fuzz_checks.hpp"
#include "png_reference.hpp"

namespace cliptint::fuzz {

namespace {

// Reads the input from the front; past its end every read gives 0.
struct Reader {
    std::span<const std::uint8_t> data;
    std::uint8_t byte() {
        if (data.empty()) return 0;
        const std::uint8_t b = data.front();
        data = data.subspan(1);
        return b;
    }
};

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::array<std::uint8_t, 4> kColourTypes{0, 2, 4, 6};
constexpr std::array<std::uint8_t, 4> kChannels{1, 3, 2, 4};

Bytes builtPng(Reader in) {
    const std::uint32_t w = 1 + in.byte() % 24;
    const std::uint32_t h = 1 + in.byte() % 24;
    const std::size_t colour = in.byte() % kColourTypes.size();
    const int level = in.byte() % 13;
    const std::size_t piece = in.byte();  // bytes an IDAT chunk; 0: one chunk
    const std::uint8_t damage = in.byte();
    const std::uint8_t where = in.byte();

    // The scanlines: exactly as many bytes as the picture needs, unless damage says otherwise.
    std::size_t rawSize = h * (std::size_t{w} * kChannels[colour] + 1);
    if (damage & 1) rawSize -= 1 + where % rawSize;
    if (damage & 2) rawSize += 1 + where;
    Bytes raw(rawSize);
    for (auto& b : raw)
        b = in.byte();

    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    expect(compressor != nullptr, "libdeflate_alloc_compressor failed");
    Bytes stream(libdeflate_zlib_compress_bound(compressor.get(), raw.size()));
    stream.resize(libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size(), stream.data(),
                                           stream.size()));
    if (damage & 4) stream[where % stream.size()] ^= static_cast<std::uint8_t>(1 + (damage >> 4));
    if (damage & 8) stream.resize(where % stream.size());

    Bytes png(kSignature.begin(), kSignature.end());
    std::array<std::uint8_t, 13> ihdr{};
    putBigEndian32(ihdr.data(), w);
    putBigEndian32(ihdr.data() + 4, h);
    ihdr[8] = 8;
    ihdr[9] = kColourTypes[colour];
    appendPngChunk(png, "IHDR", ihdr);
    const std::size_t step = piece == 0 ? stream.size() + 1 : piece;
    std::size_t at = 0;
    std::size_t chunkNumber = 0;
    do {
        const std::size_t n = std::min(step, stream.size() - at);
        const bool goodCrc = !(damage & 0x10 && chunkNumber == where % 4);
        appendPngChunk(png, "IDAT", std::span<const std::uint8_t>(stream).subspan(at, n), goodCrc);
        at += n;
        ++chunkNumber;
    } while (at < stream.size());
    appendPngChunk(png, "IEND", {});
    return png;
}

// The input with every chunk's CRC set right, as far as the chunks fit in it.
Bytes withRightCrcs(std::span<const std::uint8_t> data) {
    Bytes png(data.begin(), data.end());
    std::size_t at = 8;
    while (at <= png.size() && png.size() - at >= 12) {
        const std::uint32_t length = std::uint32_t{png[at]} << 24 |
                                     std::uint32_t{png[at + 1]} << 16 |
                                     std::uint32_t{png[at + 2]} << 8 | png[at + 3];
        if (png.size() - at - 12 < length) break;
        putBigEndian32(png.data() + at + 8 + length,
                       libdeflate_crc32(0, png.data() + at + 4, 4 + std::size_t{length}));
        at += 12 + length;
    }
    return png;
}

void checkAgainstLibspng(std::span<const std::uint8_t> png) {
    if (tooSlowToDecode(png)) return;
    if (const auto disagreement = pngDisagreement(png, makeCanvas(png))) broken(*disagreement);
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace cliptint;
    const std::span<const std::uint8_t> data(bytes, size);
    const bool isPng = data.size() >= fuzz::kSignature.size() &&
                       std::equal(fuzz::kSignature.begin(), fuzz::kSignature.end(), data.begin());
    const Bytes png = isPng ? fuzz::withRightCrcs(data) : fuzz::builtPng({data});
    fuzz::checkAgainstLibspng(png);
    return 0;
}
