#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "canvas/png_fast.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

using Decompressor =
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>;

constexpr std::size_t kSignatureSize = 8;
constexpr std::uint32_t kMaxChunkLength = 0x7FFF'FFFF;  // bytes (PNG, section 5.3)
constexpr std::array<std::uint8_t, 4> kIdat{'I', 'D', 'A', 'T'};

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// One chunk whose header, data and CRC all lie inside the bytes.
struct Chunk {
    std::size_t at = 0;  // byte offset of the length field
    std::uint32_t length = 0;
    std::size_t next() const { return at + 12 + length; }
    std::span<const std::uint8_t> payload(std::span<const std::uint8_t> data) const {
        return data.subspan(at + 8, length);
    }
};

// The chunk at offset at; nullopt when it does not fit in the bytes or states a length beyond
// the PNG limit.
std::optional<Chunk> chunkAt(std::span<const std::uint8_t> data, std::size_t at) {
    if (at > data.size() || data.size() - at < 12) return std::nullopt;
    const std::uint32_t length = bigEndian32(data.data() + at);
    if (length > kMaxChunkLength || data.size() - at - 12 < length) return std::nullopt;
    return Chunk{at, length};
}

// The CRC covers the type and the data (PNG, section 5.3).
bool crcMatches(std::span<const std::uint8_t> data, const Chunk& chunk) {
    const std::uint8_t* typeAndData = data.data() + chunk.at + 4;
    const std::uint32_t stored = bigEndian32(typeAndData + 4 + chunk.length);
    return libdeflate_crc32(0, typeAndData, 4 + std::size_t{chunk.length}) == stored;
}

// Whether a chunk header at offset at lies in the bytes and names an IDAT chunk.
bool idatAt(std::span<const std::uint8_t> data, std::size_t at) {
    return at <= data.size() && data.size() - at >= 8 &&
           std::memcmp(data.data() + at + 4, kIdat.data(), kIdat.size()) == 0;
}

// The offset of the first IDAT chunk's header, whether or not the chunk is whole. The chunks
// before it have been read by the caller, so a walk that goes wrong only declines.
std::optional<std::size_t> firstIdat(std::span<const std::uint8_t> data) {
    std::size_t at = kSignatureSize;
    while (!idatAt(data, at)) {
        const auto chunk = chunkAt(data, at);
        if (!chunk) return std::nullopt;
        at = chunk->next();
    }
    return at;
}

enum class CrcCheck { yes, no };

// Calls visit with the payload of each chunk in the run of consecutive IDAT chunks whose first
// header is at offset at. The run ends at the first other chunk or where the bytes end; false
// when a chunk of it is cut short or, when checked, has a wrong CRC. Each step moves on by at
// least 12 bytes.
template <class Visit>
bool walkIdatRun(std::span<const std::uint8_t> data, std::size_t at, CrcCheck crc, Visit visit) {
    do {
        const auto chunk = chunkAt(data, at);
        if (!chunk) return false;
        if (crc == CrcCheck::yes && !crcMatches(data, *chunk)) return false;
        visit(chunk->payload(data));
        at = chunk->next();
    } while (idatAt(data, at));
    return true;
}

// The zlib stream that the IDAT run beginning at offset first holds, every CRC checked: the one
// non-empty payload where it lies, or all of them joined into buffer. Joining costs a copy as
// large as the stream (at most the input's size), which the whole-buffer inflate repays: a
// 40 MP photograph whose 91 MB stream lies in 8 KiB chunks is probed in a quarter less time
// than with libspng's streaming inflate, for 88 MB more memory (bench/results.md).
std::optional<std::span<const std::uint8_t>> zlibStream(std::span<const std::uint8_t> data,
                                                        std::size_t first, MallocMemory& buffer) {
    std::size_t total = 0;  // at most the input's size
    std::size_t pieces = 0;
    std::span<const std::uint8_t> last;
    const bool whole = walkIdatRun(data, first, CrcCheck::yes, [&](auto payload) {
        if (payload.empty()) return;
        total += payload.size();
        ++pieces;
        last = payload;
    });
    if (!whole || pieces == 0) return std::nullopt;
    if (pieces == 1) return last;
    buffer = allocateBuffer(total);
    if (!buffer) return std::nullopt;
    std::size_t at = 0;
    walkIdatRun(data, first, CrcCheck::no, [&](auto payload) {
        std::memcpy(buffer.get() + at, payload.data(), payload.size());
        at += payload.size();
    });
    return std::span<const std::uint8_t>(buffer.get(), total);
}

// Inflates the stream into out, which it must fill exactly: a stream that ends early, runs on
// past out, or fails its Adler-32 check is declined.
bool inflateExactly(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) {
    const Decompressor decompressor(deflateAllocators.decompressor(), libdeflate_free_decompressor);
    if (!decompressor) return false;
    return libdeflate_zlib_decompress(decompressor.get(), stream.data(), stream.size(), out.data(),
                                      out.size(), nullptr) == LIBDEFLATE_SUCCESS;
}

// --- Row filters ---------------------------------------------------------------------------

// PNG, section 9.4, with the ties broken as there (a before b before c), without branches: a
// photograph's rows send a branch either way at random.
std::uint8_t paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int nearerOfAb = pb < pa ? b : a;
    return static_cast<std::uint8_t>(pc < std::min(pa, pb) ? c : nearerOfAb);
}

template <int Bpp>
void unsub(std::uint8_t* __restrict row, std::int64_t n) {
    for (std::int64_t i = Bpp; i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + row[i - Bpp]);
    }
}

void unup(std::uint8_t* __restrict row, const std::uint8_t* __restrict prev, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
    }
}

// prev is nullptr for the top row.
template <int Bpp>
void unaverage(std::uint8_t* __restrict row, const std::uint8_t* __restrict prev, std::int64_t n) {
    for (std::int64_t i = 0; i < Bpp && i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + (prev ? prev[i] >> 1 : 0));
    }
    for (std::int64_t i = Bpp; i < n; ++i) {
        const int above = prev ? prev[i] : 0;
        row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - Bpp] + above) >> 1));
    }
}

template <int Bpp>
void unpaeth(std::uint8_t* __restrict row, const std::uint8_t* __restrict prev, std::int64_t n) {
    for (std::int64_t i = 0; i < Bpp && i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
    }
    for (std::int64_t i = Bpp; i < n; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] +
                                           paethPredictor(row[i - Bpp], prev[i], prev[i - Bpp]));
    }
}

#if defined(__SSE2__)

// Paeth for 3 and 4 bytes a pixel, one pixel at a time in 16-bit lanes: each pixel depends on
// the one to its left, so the lanes are the pixel's samples. The same sums as above. (Average
// done so gained nothing over the plain loop.)

template <int Bpp>
__m128i loadPixel(const std::uint8_t* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, Bpp);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

template <int Bpp>
void storePixel(std::uint8_t* p, __m128i lanes) {
    const auto v = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    std::memcpy(p, &v, Bpp);
}

__m128i absolute16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

__m128i select16(__m128i mask, __m128i ifSet, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

template <int Bpp>
void unpaethSimd(std::uint8_t* __restrict row, const std::uint8_t* __restrict prev,
                 std::int64_t n) {
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128();
    __m128i c = _mm_setzero_si128();
    for (std::int64_t i = 0; i + Bpp <= n; i += Bpp) {
        const __m128i b = loadPixel<Bpp>(prev + i);
        const __m128i bMinusC = _mm_sub_epi16(b, c);
        const __m128i aMinusC = _mm_sub_epi16(a, c);
        const __m128i pa = absolute16(bMinusC);
        const __m128i pb = absolute16(aMinusC);
        const __m128i pc = absolute16(_mm_add_epi16(bMinusC, aMinusC));
        const __m128i nearerOfAb = select16(_mm_cmplt_epi16(pb, pa), b, a);
        const __m128i nearest = select16(_mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb)), c, nearerOfAb);
        a = _mm_and_si128(_mm_add_epi16(loadPixel<Bpp>(row + i), nearest), low);
        storePixel<Bpp>(row + i, a);
        c = b;
    }
}

#endif

template <int Bpp>
void unpaethRow(std::uint8_t* row, const std::uint8_t* prev, std::int64_t n) {
#if defined(__SSE2__)
    if constexpr (Bpp >= 3) return unpaethSimd<Bpp>(row, prev, n);
#endif
    unpaeth<Bpp>(row, prev, n);
}

template <int Bpp>
void unfilterRowOf(PngFilter filter, std::uint8_t* row, const std::uint8_t* prev, std::int64_t n) {
    // Against the row of zeros above the top row, Up changes nothing and Paeth predicts the
    // left neighbour, as Sub does.
    switch (filter) {
        case PngFilter::none:
            return;
        case PngFilter::sub:
            return unsub<Bpp>(row, n);
        case PngFilter::up:
            if (prev != nullptr) unup(row, prev, n);
            return;
        case PngFilter::average:
            return unaverage<Bpp>(row, prev, n);
        case PngFilter::paeth:
            if (prev == nullptr) return unsub<Bpp>(row, n);
            return unpaethRow<Bpp>(row, prev, n);
    }
}

// --- Rows into canvas pixels ---------------------------------------------------------------

// Each writes w canvas pixels at out from the unfiltered samples at in. out may lie before in
// within the same memory: every pixel is read whole before it is written, and out stays far
// enough behind in that no write reaches a sample not yet read (see decodePngIdat).
void storeRgbaRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
    for (std::int64_t x = 0; x < w; ++x, in += 4, out += 4) {
        std::uint8_t pixel[4];
        std::memcpy(pixel, in, 4);
        // Opaque pixels, and clear ones whose colour is 0 already, are stored as they are: they
        // make up most of a screenshot or a glyph.
        const unsigned a = pixel[3];
        if (a != 255 && (a != 0 || pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0)) {
            storeStraight(pixel, pixel[0], pixel[1], pixel[2], a);
        }
        std::memcpy(out, pixel, 4);
    }
}

void storeRgbRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
    for (std::int64_t x = 0; x < w; ++x, in += 3, out += 4) {
        const std::uint8_t r = in[0], g = in[1], b = in[2];
        out[0] = r;
        out[1] = g;
        out[2] = b;
        out[3] = 255;
    }
}

void storeGreyAlphaRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
    for (std::int64_t x = 0; x < w; ++x, in += 2, out += 4) {
        const unsigned v = in[0], a = in[1];
        storeStraight(out, v, v, v, a);
    }
}

void storeGreyRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
    for (std::int64_t x = 0; x < w; ++x, in += 1, out += 4) {
        const std::uint8_t v = in[0];
        out[0] = v;
        out[1] = v;
        out[2] = v;
        out[3] = 255;
    }
}

void storeRow(PngColour colour, const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
    switch (colour) {
        case PngColour::rgba:
            return storeRgbaRow(in, out, w);
        case PngColour::rgb:
            return storeRgbRow(in, out, w);
        case PngColour::greyAlpha:
            return storeGreyAlphaRow(in, out, w);
        case PngColour::grey:
            return storeGreyRow(in, out, w);
    }
}

// Unfilters the inflated rows where they lie and turns each into canvas pixels one row late,
// once the row below no longer needs it as its "above" row. False on a filter type over 4.
bool reconstructRows(PngColour colour, std::uint8_t* rows, Canvas& canvas) {
    const int bpp = channelCount(colour);
    const std::int64_t rowBytes = canvas.w * bpp;
    const std::int64_t stride = rowBytes + 1;
    std::uint8_t* px = canvas.px();
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        std::uint8_t* row = rows + y * stride;
        if (row[0] > 4) return false;
        const std::uint8_t* above = y == 0 ? nullptr : row - stride + 1;
        unfilterRow(static_cast<PngFilter>(row[0]), row + 1, above, rowBytes, bpp);
        if (y > 0) storeRow(colour, above, px + (y - 1) * canvas.w * 4, canvas.w);
    }
    const std::int64_t last = canvas.h - 1;
    storeRow(colour, rows + last * stride + 1, px + last * canvas.w * 4, canvas.w);
    return true;
}

}  // namespace

bool idatChecksumsMatch(std::span<const std::uint8_t> data) {
    const auto first = firstIdat(data);
    return !first || walkIdatRun(data, *first, CrcCheck::yes, [](auto) {});
}

int channelCount(PngColour colour) {
    switch (colour) {
        case PngColour::grey:
            return 1;
        case PngColour::greyAlpha:
            return 2;
        case PngColour::rgb:
            return 3;
        case PngColour::rgba:
            return 4;
    }
    return 4;
}

void unfilterRow(PngFilter filter, std::uint8_t* row, const std::uint8_t* prev, std::int64_t n,
                 int bpp) {
    switch (bpp) {
        case 1:
            return unfilterRowOf<1>(filter, row, prev, n);
        case 2:
            return unfilterRowOf<2>(filter, row, prev, n);
        case 3:
            return unfilterRowOf<3>(filter, row, prev, n);
        default:
            return unfilterRowOf<4>(filter, row, prev, n);
    }
}

// The inflated rows, c samples a pixel and a filter-type byte before each row, take
// h * (c * w + 1) bytes. They are inflated into the end of the canvas memory, which holds
// 4 * w * h bytes and h bytes of slack after them: row y's filter byte lands at
// base + y * (c * w + 1) with base = (4 - c) * w * h. Canvas row y, 4 * w bytes at 4 * w * y, is
// written after the inflated row y + 1 is unfiltered, and it ends at 4 * w * (y + 1), which is at
// most base + (y + 1) * (c * w + 1), where inflated row y + 1 begins: the difference is
// (4 - c) * w * (h - y - 1) + y + 1 > 0. Within canvas row y, the samples of pixel x + 1 begin
// (4 - c) * (w * (h - y) - x - 1) + y + 2 > 0 bytes past the last byte written for pixel x, since
// x + 1 <= w. So no byte is overwritten before it has been read.
FastDecode decodePngIdat(std::span<const std::uint8_t> data, PngColour colour, Canvas& canvas) {
    const auto first = firstIdat(data);
    if (!first) return FastDecode::declined;
    const std::int64_t c = channelCount(colour);
    const std::int64_t base = (4 - c) * canvas.w * canvas.h;
    const std::int64_t inflated = canvas.h * (c * canvas.w + 1);
    MallocMemory joined;
    const auto stream = zlibStream(data, *first, joined);
    if (!stream) return FastDecode::declined;

    std::uint8_t* rows = canvas.px() + base;
    if (!inflateExactly(*stream, {rows, static_cast<std::size_t>(inflated)})) {
        return FastDecode::declined;
    }
    joined.reset();
    if (!reconstructRows(colour, rows, canvas)) return FastDecode::declined;
    return FastDecode::done;
}

}  // namespace cliptint
