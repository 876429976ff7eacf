// The PNG fast paths against independent code: files filtered and compressed here (textbook
// filters, zlib), decoded by the fast path and judged by libspng alone; what encodePng writes
// read back by libpng.
#include "canvas/png_fast.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "canvas/hand_made.hpp"
#include "cli/answer.hpp"
#include "png_reference.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

// Straight samples, channelCount(colour) a pixel: mostly smooth (so that it compresses) with one
// random byte in `noise` sprinkled in, and alpha samples often 0 or 255, as in real pictures.
struct Samples {
    std::uint32_t w = 0, h = 0;
    PngColour colour = PngColour::rgba;
    Bytes bytes;
};

Samples makeSamples(std::uint32_t w, std::uint32_t h, PngColour colour, std::uint32_t seed,
                    std::uint32_t noise = 8) {
    const int c = channelCount(colour);
    Samples s{w, h, colour, Bytes(std::size_t{w} * h * c)};
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        const std::size_t x = i / c % w, y = i / c / w;
        const bool alpha = (colour == PngColour::rgba && i % 4 == 3) ||
                           (colour == PngColour::greyAlpha && i % 2 == 1);
        const std::size_t band = (x / 3 + y / 4) % 4;
        const std::uint32_t r = random();
        if (r % noise == 0) {
            s.bytes[i] = static_cast<std::uint8_t>(r >> 8);
        } else if (alpha) {
            s.bytes[i] = static_cast<std::uint8_t>(band == 0 ? 0 : band == 1 ? x / 4 * 9 + y : 255);
        } else {
            s.bytes[i] = static_cast<std::uint8_t>(x / 4 * 30 + y / 4 * 50 + i % c);
        }
    }
    return s;
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// The scanlines as PNG stores them (PNG, section 9): each row's filter-type byte, then the row
// filtered against the raw bytes to its left and above (zeros outside the picture).
Bytes filteredRows(const Samples& s, int (*filterOfRow)(std::uint32_t y)) {
    const int bpp = channelCount(s.colour);
    const std::size_t rowBytes = std::size_t{s.w} * bpp;
    Bytes out;
    for (std::uint32_t y = 0; y < s.h; ++y) {
        const int filter = filterOfRow(y);
        out.push_back(static_cast<std::uint8_t>(filter));
        const std::uint8_t* row = s.bytes.data() + y * rowBytes;
        const std::uint8_t* above = y > 0 ? row - rowBytes : nullptr;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= std::size_t(bpp) ? row[i - bpp] : 0;
            const int b = above ? above[i] : 0;
            const int c = above && i >= std::size_t(bpp) ? above[i - bpp] : 0;
            const int predictor[5] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
            out.push_back(static_cast<std::uint8_t>(row[i] - predictor[filter % 5]));
        }
    }
    return out;
}

Bytes zlibOf(const Bytes& raw, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(raw.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), raw.size(), level), Z_OK);
    out.resize(size);
    return out;
}

// The stream cut into IDAT chunks at the given offsets.
std::vector<Chunk> idatsOf(const Bytes& stream, std::vector<std::size_t> cuts = {}) {
    std::vector<Chunk> chunks;
    std::size_t from = 0;
    cuts.push_back(stream.size());
    for (const std::size_t to : cuts) {
        chunks.push_back({"IDAT", Bytes(stream.begin() + from, stream.begin() + to)});
        from = to;
    }
    return chunks;
}

// IHDR, the chunks, IEND.
Bytes pngOfChunks(const Samples& s, std::vector<Chunk> chunks, bool iend = true) {
    chunks.insert(chunks.begin(), ihdrOf(s.w, s.h, 8, static_cast<std::uint8_t>(s.colour)));
    if (iend) chunks.push_back({"IEND", {}});
    return fileOf(chunks);
}

// The fast path on its own; the canvas bytes when it takes the picture.
std::optional<Bytes> fastPathCanvas(const Bytes& png, const Samples& s) {
    auto canvas = allocateCanvas(s.w, s.h);
    if (!canvas || decodePngIdat(png, s.colour, *canvas) != FastDecode::done) return std::nullopt;
    return Bytes(canvas->bytes().begin(), canvas->bytes().end());
}

// libspng's pixels premultiplied: the answer the PNG codec must give, however it decodes.
Bytes libspngCanvas(const Bytes& png) {
    auto picture = fuzz::readPngWithLibspng(png);
    if (!picture || !picture->rgba) return {};
    premultiply(*picture->rgba);
    return *picture->rgba;
}

// The fast path takes the sound file and gives libspng's pixels, and so does makeCanvas.
void expectTakenAsLibspngReadsIt(const Bytes& png, const Samples& s) {
    const Bytes reference = libspngCanvas(png);
    ASSERT_FALSE(reference.empty()) << "libspng refuses the file";
    const auto fast = fastPathCanvas(png, s);
    ASSERT_TRUE(fast) << "the fast path declined a sound file";
    EXPECT_TRUE(*fast == reference);
    EXPECT_EQ(fuzz::pngDisagreement(png, makeCanvas(png)), std::nullopt);
}

int filterMixed(std::uint32_t y) {
    return static_cast<int>(y / 4 % 5);
}

// Every colour type, every filter type on rows of every position (the top row filters against
// zeros), and shapes where a row is shorter than the left neighbour's distance.
TEST(PngFastDecode, GivesLibspngsPixelsForEveryColourTypeAndFilter) {
    const std::pair<std::uint32_t, std::uint32_t> shapes[] = {
        {1, 1}, {1, 9}, {9, 1}, {2, 5}, {37, 23}};
    int (*const patterns[])(std::uint32_t) = {
        [](std::uint32_t) { return 0; }, [](std::uint32_t) { return 1; },
        [](std::uint32_t) { return 2; }, [](std::uint32_t) { return 3; },
        [](std::uint32_t) { return 4; }, [](std::uint32_t y) { return int(y * 3 + 1) % 5; }};
    std::uint32_t seed = 1;
    for (const PngColour colour :
         {PngColour::grey, PngColour::rgb, PngColour::greyAlpha, PngColour::rgba}) {
        for (const auto& [w, h] : shapes) {
            for (std::size_t p = 0; p < std::size(patterns); ++p) {
                SCOPED_TRACE("colour type " + std::to_string(static_cast<int>(colour)) + ", " +
                             std::to_string(w) + "x" + std::to_string(h) + ", pattern " +
                             std::to_string(p));
                const Samples s = makeSamples(w, h, colour, ++seed);
                expectTakenAsLibspngReadsIt(
                    pngOfChunks(s, idatsOf(zlibOf(filteredRows(s, patterns[p])))), s);
            }
        }
    }
}

// How the chunks around and between the IDATs are laid out does not matter to a sound file.
TEST(PngFastDecode, TakesSoundFilesHoweverTheirChunksLie) {
    const Samples s = makeSamples(50, 40, PngColour::rgb, 11, 200);
    const Bytes rows = filteredRows(s, filterMixed);
    const Bytes stream = zlibOf(rows);
    std::vector<std::size_t> everyByte;
    for (std::size_t k = 1; k < stream.size(); ++k)
        everyByte.push_back(k);
    auto zeroLengthBetween = idatsOf(stream, {10, 10, 10, 30});
    zeroLengthBetween.insert(zeroLengthBetween.begin(), Chunk{"IDAT", {}});
    auto ancillaryFirst = idatsOf(stream);
    ancillaryFirst.insert(
        ancillaryFirst.begin(),
        {Chunk{"tEXt", {'k', 0, 'v'}}, Chunk{"pHYs", Bytes(9, 1)}, Chunk{"tEXt", {'k', 0}, false}});
    auto chunksAfter = idatsOf(stream, {7});
    chunksAfter.push_back(Chunk{"tEXt", {'k', 0, 'v'}, false});
    Bytes garbageAfterIend = pngOfChunks(s, chunksAfter);
    garbageAfterIend.insert(garbageAfterIend.end(), {'j', 'u', 'n', 'k'});
    // Fewer than 8 bytes after the IDAT cannot be another chunk's length and type.
    Bytes sevenBytesAfter = pngOfChunks(s, idatsOf(stream), false);
    sevenBytesAfter.insert(sevenBytesAfter.end(), {0, 0, 0, 9, 'I', 'D', 'A'});

    const std::vector<std::pair<std::string, Bytes>> cases{
        {"zero-length IDATs among others", pngOfChunks(s, zeroLengthBetween)},
        {"one IDAT per byte", pngOfChunks(s, idatsOf(stream, everyByte))},
        // As large as the scanlines: a stream that does not compress is joined all the same.
        {"stored blocks over several IDATs",
         pngOfChunks(s, idatsOf(zlibOf(rows, Z_NO_COMPRESSION), {100, 200, 3000}))},
        {"ancillary chunks before, one with a bad CRC", pngOfChunks(s, ancillaryFirst)},
        {"no IEND", pngOfChunks(s, idatsOf(stream), false)},
        {"damaged chunk and garbage after the IDATs", garbageAfterIend},
        {"seven bytes after the last IDAT", sevenBytesAfter},
    };
    for (const auto& [name, png] : cases) {
        SCOPED_TRACE(name);
        expectTakenAsLibspngReadsIt(png, s);
    }
}

// The fast path declines whatever is out of the ordinary, and the codec then answers as libspng
// does: the same pixels, or "image".
TEST(PngFastDecode, DeclinesDamagedFilesAndAnswersAsLibspng) {
    const Samples s = makeSamples(121, 67, PngColour::rgba, 7, 200);
    const std::size_t rowBytes = 4 * 121 + 1;
    const Bytes rows = filteredRows(s, filterMixed);
    const Bytes stream = zlibOf(rows);
    const std::size_t third = stream.size() / 3;
    const auto badCrcOn = [&](std::size_t k) {
        auto idats = idatsOf(stream, {third, 2 * third});
        idats[k].goodCrc = false;
        return pngOfChunks(s, idats);
    };
    Bytes rowTooMany = rows;
    rowTooMany.insert(rowTooMany.end(), rows.end() - rowBytes, rows.end());
    Bytes badFilter = rows;
    badFilter[5 * rowBytes] = 5;
    Bytes badAdler = stream;
    badAdler.back() ^= 0x40;
    const Bytes whole = pngOfChunks(s, idatsOf(stream));
    // A second IDAT whose header is cut short, after a first that holds the whole stream or a
    // part of it.
    const auto secondHeaderCut = [&](std::vector<std::size_t> cuts, std::size_t kept) {
        Bytes png = pngOfChunks(s, idatsOf(stream, cuts), false);
        const Bytes second = fileOf({{"IDAT", Bytes(stream.begin() + third, stream.end())}});
        png.insert(png.end(), second.begin() + 8, second.begin() + 8 + kept);
        return png;
    };
    // Sound, the same file in three pieces is taken: each case below differs from it in one way.
    ASSERT_TRUE(fastPathCanvas(pngOfChunks(s, idatsOf(stream, {third, 2 * third})), s));

    const std::vector<std::pair<std::string, Bytes>> cases{
        {"bad CRC on the first IDAT", badCrcOn(0)},
        {"bad CRC on the middle IDAT", badCrcOn(1)},
        {"bad CRC on the last IDAT", badCrcOn(2)},
        {"file cut inside the IDAT data", Bytes(whole.begin(), whole.end() - 40)},
        {"file cut inside the IDAT CRC", Bytes(whole.begin(), whole.end() - 14)},
        {"second IDAT cut after its type", secondHeaderCut({third}, 8)},
        {"second IDAT cut inside its data", secondHeaderCut({third}, 30)},
        {"whole stream, then an IDAT header alone", secondHeaderCut({}, 8)},
        {"whole stream, then an IDAT cut before its CRC", secondHeaderCut({}, 11)},
        {"stream a row short",
         pngOfChunks(s, idatsOf(zlibOf(Bytes(rows.begin(), rows.end() - rowBytes))))},
        {"stream a row long", pngOfChunks(s, idatsOf(zlibOf(rowTooMany)))},
        {"stream cut short", pngOfChunks(s, idatsOf(Bytes(stream.begin(), stream.end() - 9)))},
        {"Adler-32 wrong", pngOfChunks(s, idatsOf(badAdler))},
        {"filter type 5", pngOfChunks(s, idatsOf(zlibOf(badFilter)))},
        {"another chunk between the IDATs",
         pngOfChunks(s, {idatsOf(stream, {third})[0], Chunk{"tEXt", {'a', 0, 'b'}},
                         idatsOf(stream, {third})[1]})},
        {"no IDAT at all", pngOfChunks(s, {})},
        {"only empty IDATs", pngOfChunks(s, {Chunk{"IDAT", {}}, Chunk{"IDAT", {}}})},
        {"not a zlib stream", pngOfChunks(s, {Chunk{"IDAT", {1, 2, 3, 4, 5, 6, 7, 8}}})},
    };
    for (const auto& [name, png] : cases) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fastPathCanvas(png, s)) << "the fast path took it";
        EXPECT_EQ(fuzz::pngDisagreement(png, makeCanvas(png)), std::nullopt);
    }
}

// While libdeflate has no (de)compressor to give, as when memory runs out, a picture is decoded
// by libspng instead and a paint answers "encode".
TEST(PngFastPaths, WithoutLibdeflateDecodeFallsBackAndPaintAnswersEncode) {
    const Samples s = makeSamples(9, 7, PngColour::rgba, 5);
    const Bytes png = pngOfChunks(s, idatsOf(zlibOf(filteredRows(s, filterMixed))));
    Canvas mono = clearCanvas(10, 10);
    setPixel(mono, 3, 7, {255, 0, 0, 255});
    const std::string monoPng = pngOf(mono);
    const DeflateAllocators real = deflateAllocators;
    deflateAllocators = {[]() -> libdeflate_decompressor* { return nullptr; },
                         [](int) -> libdeflate_compressor* { return nullptr; }};
    const bool fastTaken = fastPathCanvas(png, s).has_value();
    const auto canvas = makeCanvas(png);
    const auto painted = answer({"paint", "3366cc"}, Bytes(monoPng.begin(), monoPng.end()));
    deflateAllocators = real;

    EXPECT_FALSE(fastTaken);
    ASSERT_TRUE(canvas) << canvas.error();
    EXPECT_TRUE(std::ranges::equal(canvas->bytes(), libspngCanvas(png)));
    ASSERT_FALSE(painted);
    EXPECT_EQ(painted.error(), "encode");
}

// A canvas of random premultiplied pixels, many of them clear or opaque.
Canvas randomCanvas(std::int64_t w, std::int64_t h, std::uint32_t seed) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(seed);
    for (std::int64_t i = 0; i < w * h; ++i) {
        const std::uint32_t r = random();
        const auto a = static_cast<std::uint8_t>(r % 3 == 0 ? 0 : r % 3 == 1 ? 255 : r >> 24);
        const auto c = [&](int shift) {
            return static_cast<std::uint8_t>(a == 0 ? 0 : ((r >> shift) & 0xFF) % (a + 1));
        };
        setPixel(canvas, i % w, i / w, {c(2), c(10), c(18), a});
    }
    return canvas;
}

// Every premultiplied pair (colour c <= alpha a) once: 256 columns of alpha, c down the rows.
Canvas everyPremultipliedPair() {
    Canvas canvas = clearCanvas(256, 256);
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c <= a; ++c) {
            const auto v = static_cast<std::uint8_t>(c);
            setPixel(canvas, a, c,
                     {v, static_cast<std::uint8_t>(a - c), v, static_cast<std::uint8_t>(a)});
        }
    }
    return canvas;
}

// libpng reads back each colour un-premultiplied to the nearest value and every alpha kept, and
// makeCanvas the very canvas (rounding both ways loses nothing). The whole canvas moves within
// its own memory, so the shapes at the edges of that are tried: one row, one column, rows longer
// than the slack and shorter.
TEST(PngFastEncode, WritesWhatLibpngReadsBackExactlyInEveryShape) {
    const std::pair<std::int64_t, std::int64_t> shapes[] = {{1, 1},   {1, 300}, {300, 1},
                                                            {33, 17}, {2, 2},   {256, 256}};
    for (const auto& [w, h] : shapes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto make = [&] {
            return w == 256 ? everyPremultipliedPair() : randomCanvas(w, h, w);
        };
        const Canvas canvas = make();
        Canvas consumed = make();
        const auto png = encodePng(consumed);
        ASSERT_TRUE(png);
        const StraightPicture read = decodeWithLibpng(*png);
        ASSERT_EQ(read.w, w);
        ASSERT_EQ(read.h, h);
        for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
            const std::uint8_t* in = canvas.px() + i;
            const std::uint8_t* out = read.rgba.data() + i;
            ASSERT_EQ(out[3], in[3]) << "pixel " << i / 4;
            for (int k = 0; k < 3; ++k) {
                const int want = in[3] == 0 ? 0 : (in[k] * 255 + in[3] / 2) / in[3];
                ASSERT_EQ(out[k], want) << "pixel " << i / 4 << " channel " << k;
            }
        }
        const auto decoded = makeCanvas(*png);
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(std::ranges::equal(decoded->bytes(), canvas.bytes()));
    }
}

// Signature, IHDR of 8-bit RGBA not interlaced, sRGB (relative colorimetric), a single IDAT
// holding the whole stream, IEND: nothing else, nothing after.
TEST(PngFastEncode, WritesOneIdatBetweenIhdrAndIend) {
    Canvas canvas = randomCanvas(20, 10, 5);
    const auto png = encodePng(canvas);
    ASSERT_TRUE(png);
    std::vector<std::string> types;
    std::size_t at = 8;
    while (at + 12 <= png->size()) {
        types.emplace_back(png->begin() + at + 4, png->begin() + at + 8);
        at += 12 + fuzz::bigEndian32(png->data() + at);
    }
    EXPECT_EQ(at, png->size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "sRGB", "IDAT", "IEND"}));
    EXPECT_EQ(Bytes(png->begin() + 16, png->begin() + 29),
              (Bytes{0, 0, 0, 20, 0, 0, 0, 10, 8, 6, 0, 0, 0}));
    const std::uint8_t* srgb = png->data() + 33;
    EXPECT_EQ(Bytes(srgb, srgb + 9), (Bytes{0, 0, 0, 1, 's', 'R', 'G', 'B', 1}));
    EXPECT_EQ(fuzz::bigEndian32(srgb + 9), libdeflate_crc32(0, srgb + 4, 5));
}

}  // namespace

}  // namespace cliptint::test
