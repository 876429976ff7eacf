// Fuzzes makeCanvas: every codec, chosen by sniffing, with its header checks, size limits,
// format conversion and premultiplication. PNGs of up to 8 bits a sample are also checked
// against libspng's own decoding (png_reference.hpp; where only zlib's strictness refuses the
// stream, libdeflate's reading of it counts), since the PNG codec takes a hand-written IDAT path
// for most.
//
// Random bytes rarely carry valid chunk CRCs, which that path checks first, so each input also
// gives a PNG whose CRCs are right: an input that begins with the PNG signature with every
// chunk's CRC set right (so the seed pictures serve), any other as a description of a picture:
// its size, colour type, compression level, how the stream is cut into IDAT chunks, and damage
// (a stream too short or too long, a flipped stream byte, a wrong CRC), then the filtered
// scanlines themselves, filter-type bytes included.

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "canvas/png_fast.hpp"
#include "fuzz_checks.hpp"
#include "png_reference.hpp"

namespace cliptint::fuzz {

namespace {

// Pictures up to this size are decoded twice more into memory filled with 0x00 and with 0xFF
// beforehand; any difference means decode left bytes unwritten (or is not deterministic).
constexpr std::int64_t kFillCheckPixels = std::int64_t{1} << 18;

void checkEveryByteWritten(std::span<const std::uint8_t> data, const Canvas& canvas) {
    if (canvas.w * canvas.h > kFillCheckPixels) return;
    for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        const auto again = decodeIntoFilled(data, fill);
        expect(again && again->w == canvas.w && again->h == canvas.h,
               "a second decode failed or gave another size");
        expect(std::memcmp(again->px(), canvas.px(),
                           static_cast<std::size_t>(canvas.byteCount())) == 0,
               "decode left canvas bytes unwritten or is not deterministic");
    }
}

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

Bytes describedPng(std::span<const std::uint8_t> data) {
    // Reads the input from the front; past its end every read gives 0.
    std::size_t next = 0;
    const auto byte = [&] { return next < data.size() ? data[next++] : std::uint8_t{0}; };
    const std::uint32_t w = 1 + byte() % 24, h = 1 + byte() % 24;
    const auto colour = std::array<std::uint8_t, 4>{0, 2, 4, 6}[byte() % 4];
    const int level = byte() % 13;
    const std::size_t piece = byte();  // bytes an IDAT chunk; 0: one chunk
    const std::uint8_t damage = byte(), where = byte();

    // The scanlines: exactly as many bytes as the picture needs, unless damage says otherwise.
    std::size_t rawSize = h * (std::size_t{w} * channelCount(PngColour{colour}) + 1);
    if (damage & 1) rawSize -= 1 + where % rawSize;
    if (damage & 2) rawSize += 1 + where;
    Bytes raw(rawSize);
    for (auto& b : raw)
        b = byte();

    Bytes stream = zlibOf(raw, level);
    if (damage & 4) stream[where % stream.size()] ^= static_cast<std::uint8_t>(1 + (damage >> 4));
    if (damage & 8) stream.resize(where % stream.size());

    Bytes png(kSignature.begin(), kSignature.end());
    std::array<std::uint8_t, 13> ihdr{0, 0, 0, 0, 0, 0, 0, 0, 8, colour};
    putBigEndian32(ihdr.data(), w);
    putBigEndian32(ihdr.data() + 4, h);
    appendPngChunk(png, "IHDR", ihdr);
    const std::size_t step = piece == 0 ? stream.size() + 1 : piece;
    for (std::size_t at = 0, n = 0; at == 0 || at < stream.size(); at += step, ++n) {
        const std::size_t size = std::min(step, stream.size() - at);
        appendPngChunk(png, "IDAT", std::span<const std::uint8_t>(stream).subspan(at, size),
                       !(damage & 0x10 && n == where % 4u));
    }
    appendPngChunk(png, "IEND", {});
    return png;
}

// The input with every chunk's CRC set right, as far as the chunks fit in it.
Bytes withRightCrcs(std::span<const std::uint8_t> data) {
    Bytes png(data.begin(), data.end());
    for (const ChunkView& chunk : chunksIn(png)) {
        const std::size_t at = static_cast<std::size_t>(chunk.data.data() - png.data());
        putBigEndian32(png.data() + at + chunk.data.size(),
                       libdeflate_crc32(0, png.data() + at - 4, 4 + chunk.data.size()));
    }
    return png;
}

void checkMakeCanvas(std::span<const std::uint8_t> data) {
    if (tooSlowToDecode(data)) return;
    const auto canvas = makeCanvas(data);
    if (const auto disagreement = pngDisagreement(data, canvas)) broken(*disagreement);
    if (!canvas) {
        if (!knownCanvasFailure(canvas.error())) {
            broken("unknown makeCanvas failure: " + canvas.error());
        }
        return;
    }
    checkCanvas(*canvas);
    checkEveryByteWritten(data, *canvas);
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace cliptint::fuzz;
    const std::span<const std::uint8_t> data(bytes, size);
    checkMakeCanvas(data);
    const bool isPng = data.size() >= kSignature.size() &&
                       std::equal(kSignature.begin(), kSignature.end(), data.begin());
    checkMakeCanvas(isPng ? withRightCrcs(data) : describedPng(data));
    return 0;
}
