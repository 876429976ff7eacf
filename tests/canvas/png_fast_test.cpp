// The PNG fast paths against independent code: files filtered and compressed here (textbook
// filters, zlib), decoded by the fast path and by libspng alone; what encodePng writes read back
// by libpng.
#include "canvas/png_fast.hpp"

#include <gtest/gtest.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "canvas/hand_made.hpp"
#include "canvas/premultiply.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

// --- Pictures and their PNG files, made here -----------------------------------------------

// Straight samples, c a pixel, rows c * w bytes apart.
struct Samples {
    std::uint32_t w = 0, h = 0;
    PngColour colour = PngColour::rgba;
    Bytes bytes;
    int channels() const { return channelCount(colour); }
};

// Mostly smooth (so that it compresses) with one random byte in noise sprinkled in, and alpha
// samples that are often 0 or 255, as in real pictures.
Samples makeSamples(std::uint32_t w, std::uint32_t h, PngColour colour, std::uint32_t seed,
                    std::uint32_t noise = 8) {
    Samples s{w, h, colour, Bytes(std::size_t{w} * h * channelCount(colour))};
    std::mt19937 random(seed);
    const int c = s.channels();
    for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        const std::size_t pixel = i / c;
        const std::size_t x = pixel % w, y = pixel / w;
        const bool alpha = (colour == PngColour::rgba && i % 4 == 3) ||
                           (colour == PngColour::greyAlpha && i % 2 == 1);
        const std::uint32_t r = random();
        if (r % noise == 0) {
            s.bytes[i] = static_cast<std::uint8_t>(r >> 8);
        } else if (alpha) {
            const std::size_t band = (x / 3 + y / 4) % 4;
            s.bytes[i] = static_cast<std::uint8_t>(band == 0 ? 0 : band == 1 ? x / 4 * 9 + y : 255);
        } else {
            s.bytes[i] = static_cast<std::uint8_t>(
                r % noise == 0 ? r >> 8 : (x / 4 * 30 + y / 4 * 50 + i % c));
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
Bytes filteredRows(const Samples& s, const std::function<int(std::uint32_t)>& filterOfRow) {
    const int bpp = s.channels();
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

Chunk ihdrOf(std::uint32_t w, std::uint32_t h, PngColour colour) {
    Bytes d(13);
    for (int k = 0; k < 4; ++k) {
        d[k] = static_cast<std::uint8_t>(w >> (24 - 8 * k));
        d[4 + k] = static_cast<std::uint8_t>(h >> (24 - 8 * k));
    }
    d[8] = 8;
    d[9] = static_cast<std::uint8_t>(colour);
    return {"IHDR", d};
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

Bytes pngOfSamples(const Samples& s, const std::function<int(std::uint32_t)>& filterOfRow) {
    std::vector<Chunk> chunks{ihdrOf(s.w, s.h, s.colour)};
    for (auto& idat : idatsOf(zlibOf(filteredRows(s, filterOfRow))))
        chunks.push_back(idat);
    chunks.push_back({"IEND", {}});
    return fileOf(chunks);
}

// --- Decoders ------------------------------------------------------------------------------

// libspng alone, premultiplied: the answer the PNG codec must give, however it decodes.
std::optional<Bytes> libspngCanvas(const Bytes& png) {
    const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ihdr ihdr{};
    if (spng_set_png_buffer(ctx.get(), png.data(), png.size()) != 0 ||
        spng_get_ihdr(ctx.get(), &ihdr) != 0) {
        return std::nullopt;
    }
    Bytes out(std::size_t{ihdr.width} * ihdr.height * 4);
    if (spng_decode_image(ctx.get(), out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) !=
        0) {
        return std::nullopt;
    }
    premultiply(out);
    return out;
}

// The fast path on its own; the canvas bytes when it takes the picture.
std::optional<Bytes> fastPathCanvas(const Bytes& png, std::uint32_t w, std::uint32_t h,
                                    PngColour colour) {
    auto canvas = allocateCanvas(w, h);
    if (!canvas) return std::nullopt;
    if (decodePngIdat(png, colour, *canvas) != FastDecode::done) return std::nullopt;
    return Bytes(canvas->bytes().begin(), canvas->bytes().end());
}

// makeCanvas gives libspng's pixels, or "image" where libspng refuses the file.
void expectSameAnswerAsLibspng(const Bytes& png) {
    const auto reference = libspngCanvas(png);
    const auto canvas = makeCanvas(png);
    if (!reference) {
        ASSERT_FALSE(canvas) << "decoded a file that libspng refuses";
        EXPECT_EQ(canvas.error(), "image");
        return;
    }
    ASSERT_TRUE(canvas) << canvas.error();
    EXPECT_TRUE(std::ranges::equal(canvas->bytes(), *reference)) << "pixels differ from libspng's";
}

constexpr std::array kColours{PngColour::grey, PngColour::rgb, PngColour::greyAlpha,
                              PngColour::rgba};

std::string nameOf(PngColour colour) {
    return "colour type " + std::to_string(static_cast<int>(colour));
}

// --- Decoding ------------------------------------------------------------------------------

// Every colour type, every filter type on rows of every position (the top row filters against
// zeros), and shapes where a row is shorter than the left neighbour's distance.
TEST(PngFastDecode, GivesLibspngsPixelsForEveryColourTypeAndFilter) {
    struct Shape {
        std::uint32_t w, h;
    };
    const std::vector<Shape> shapes{{1, 1}, {1, 9}, {9, 1}, {2, 5}, {37, 23}};
    const std::vector<std::pair<std::string, std::function<int(std::uint32_t)>>> patterns{
        {"none", [](std::uint32_t) { return 0; }},
        {"sub", [](std::uint32_t) { return 1; }},
        {"up", [](std::uint32_t) { return 2; }},
        {"average", [](std::uint32_t) { return 3; }},
        {"paeth", [](std::uint32_t) { return 4; }},
        {"mixed", [](std::uint32_t y) { return static_cast<int>((y * 3 + 1) % 5); }},
    };
    std::uint32_t seed = 1;
    for (const PngColour colour : kColours) {
        for (const Shape shape : shapes) {
            for (const auto& [patternName, pattern] : patterns) {
                SCOPED_TRACE(nameOf(colour) + ", " + std::to_string(shape.w) + "x" +
                             std::to_string(shape.h) + ", filter " + patternName);
                const Samples s = makeSamples(shape.w, shape.h, colour, ++seed);
                const Bytes png = pngOfSamples(s, pattern);
                const auto reference = libspngCanvas(png);
                ASSERT_TRUE(reference);
                const auto fast = fastPathCanvas(png, shape.w, shape.h, colour);
                ASSERT_TRUE(fast) << "the fast path declined a sound file";
                EXPECT_TRUE(*fast == *reference);
                expectSameAnswerAsLibspng(png);
            }
        }
    }
}

// The fast path declines whatever is out of the ordinary, and the codec then answers as libspng
// does: the same pixels, or "image".
TEST(PngFastDecode, DeclinesDamagedFilesAndAnswersAsLibspng) {
    constexpr std::uint32_t w = 121, h = 67;
    const Samples s = makeSamples(w, h, PngColour::rgba, 7, 200);
    const auto mixed = [](std::uint32_t y) { return static_cast<int>(y / 4 % 5); };
    const Bytes rows = filteredRows(s, mixed);
    const Bytes stream = zlibOf(rows);
    const std::size_t third = stream.size() / 3;
    const auto fileWith = [&](std::vector<Chunk> idats, std::vector<Chunk> tail = {{"IEND", {}}}) {
        std::vector<Chunk> chunks{ihdrOf(w, h, PngColour::rgba)};
        chunks.insert(chunks.end(), idats.begin(), idats.end());
        chunks.insert(chunks.end(), tail.begin(), tail.end());
        return fileOf(chunks);
    };
    const auto badCrcOn = [&](std::size_t k) {
        auto idats = idatsOf(stream, {third, 2 * third});
        idats[k].goodCrc = false;
        return fileWith(idats);
    };
    Bytes rowTooMany = rows;
    rowTooMany.insert(rowTooMany.end(), rows.end() - (4 * w + 1), rows.end());
    Bytes badFilter = rows;
    badFilter[5 * (4 * w + 1)] = 5;
    Bytes badAdler = stream;
    badAdler.back() ^= 0x40;
    const Bytes whole = fileWith(idatsOf(stream));
    // Sound, the same file in three pieces is taken: each case below differs from it in one way.
    ASSERT_TRUE(
        fastPathCanvas(fileWith(idatsOf(stream, {third, 2 * third})), w, h, PngColour::rgba));

    struct Case {
        std::string name;
        Bytes png;
    };
    const std::vector<Case> cases{
        {"bad CRC on the first IDAT", badCrcOn(0)},
        {"bad CRC on the middle IDAT", badCrcOn(1)},
        {"bad CRC on the last IDAT", badCrcOn(2)},
        {"file cut inside the IDAT data", Bytes(whole.begin(), whole.end() - 40)},
        {"file cut inside the IDAT CRC", Bytes(whole.begin(), whole.end() - 14)},
        {"stream a row short",
         fileWith(idatsOf(zlibOf(Bytes(rows.begin(), rows.end() - (4 * w + 1)))))},
        {"stream a row long", fileWith(idatsOf(zlibOf(rowTooMany)))},
        {"stream cut short", fileWith(idatsOf(Bytes(stream.begin(), stream.end() - 9)))},
        {"Adler-32 wrong", fileWith(idatsOf(badAdler))},
        {"filter type 5", fileWith(idatsOf(zlibOf(badFilter)))},
        {"another chunk between the IDATs",
         fileWith({idatsOf(stream, {third})[0], Chunk{"tEXt", {'a', 0, 'b'}},
                   idatsOf(stream, {third})[1]})},
        {"no IDAT at all", fileWith({})},
        {"only empty IDATs", fileWith({Chunk{"IDAT", {}}, Chunk{"IDAT", {}}})},
        {"not a zlib stream", fileWith({Chunk{"IDAT", {1, 2, 3, 4, 5, 6, 7, 8}}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(fastPathCanvas(c.png, w, h, PngColour::rgba)) << "the fast path took it";
        expectSameAnswerAsLibspng(c.png);
    }
}

// How the chunks around and between the IDATs are laid out does not matter to a sound file.
TEST(PngFastDecode, TakesSoundFilesHoweverTheirChunksLie) {
    constexpr std::uint32_t w = 50, h = 40;
    const Samples s = makeSamples(w, h, PngColour::rgb, 11, 200);
    const Bytes rows = filteredRows(s, [](std::uint32_t y) { return int(y % 5); });
    const Bytes stream = zlibOf(rows);
    const Chunk ihdr = ihdrOf(w, h, PngColour::rgb);
    const Chunk iend{"IEND", {}};
    std::vector<std::size_t> everyByte;
    for (std::size_t k = 1; k < stream.size(); ++k)
        everyByte.push_back(k);
    const auto withIdats = [&](std::vector<Chunk> idats) {
        std::vector<Chunk> chunks{ihdr};
        chunks.insert(chunks.end(), idats.begin(), idats.end());
        return chunks;
    };
    auto zeroLengthBetween = withIdats(idatsOf(stream, {10, 10, 10, 30}));
    zeroLengthBetween.insert(zeroLengthBetween.begin() + 1, Chunk{"IDAT", {}});
    zeroLengthBetween.push_back(iend);
    auto oneByteIdats = withIdats(idatsOf(stream, everyByte));
    oneByteIdats.push_back(iend);
    auto ancillaryFirst = withIdats(idatsOf(stream));
    ancillaryFirst.insert(ancillaryFirst.begin() + 1, Chunk{"tEXt", {'k', 0, 'v'}});
    ancillaryFirst.insert(ancillaryFirst.begin() + 1, Chunk{"pHYs", Bytes(9, 1)});
    ancillaryFirst.insert(ancillaryFirst.begin() + 1, Chunk{"tEXt", {'k', 0}, false});
    ancillaryFirst.push_back(iend);
    auto noIend = withIdats(idatsOf(stream));
    // As large as the scanlines: a stream that does not compress is joined all the same.
    auto storedSplit = withIdats(idatsOf(zlibOf(rows, Z_NO_COMPRESSION), {100, 200, 3000}));
    storedSplit.push_back(iend);
    auto chunksAfter = withIdats(idatsOf(stream, {7}));
    chunksAfter.push_back(Chunk{"tEXt", {'k', 0, 'v'}, false});
    chunksAfter.push_back(iend);
    Bytes garbageAfterIend = fileOf(chunksAfter);
    garbageAfterIend.insert(garbageAfterIend.end(), {'j', 'u', 'n', 'k'});

    const std::vector<std::pair<std::string, Bytes>> cases{
        {"zero-length IDATs among others", fileOf(zeroLengthBetween)},
        {"one IDAT per byte", fileOf(oneByteIdats)},
        {"stored blocks over several IDATs", fileOf(storedSplit)},
        {"ancillary chunks before, one with a bad CRC", fileOf(ancillaryFirst)},
        {"no IEND", fileOf(noIend)},
        {"damaged chunk and garbage after the IDATs", garbageAfterIend},
    };
    const auto reference = libspngCanvas(fileOf(withIdats(idatsOf(stream))));
    ASSERT_TRUE(reference);
    for (const auto& [name, png] : cases) {
        SCOPED_TRACE(name);
        const auto fast = fastPathCanvas(png, w, h, PngColour::rgb);
        ASSERT_TRUE(fast) << "the fast path declined a sound file";
        EXPECT_TRUE(*fast == *reference);
        expectSameAnswerAsLibspng(png);
    }
}

// tRNS makes one colour of an RGB or grey picture clear: libspng applies it, so such files
// take libspng's path and come out with alpha 0 where the colour matches.
TEST(PngFastDecode, LeavesTransparencyKeysToLibspng) {
    Samples s = makeSamples(6, 4, PngColour::rgb, 3);
    std::fill_n(s.bytes.begin(), 3, 0x10);
    std::vector<Chunk> chunks{ihdrOf(6, 4, PngColour::rgb),
                              Chunk{"tRNS", {0, 0x10, 0, 0x10, 0, 0x10}}};
    for (auto& idat : idatsOf(zlibOf(filteredRows(s, [](std::uint32_t) { return 0; })))) {
        chunks.push_back(idat);
    }
    chunks.push_back({"IEND", {}});
    const Bytes png = fileOf(chunks);
    expectSameAnswerAsLibspng(png);
    const auto canvas = makeCanvas(png);
    ASSERT_TRUE(canvas);
    EXPECT_EQ(pixelAt(*canvas, 0, 0), (Rgba{0, 0, 0, 0}));
}

// --- Encoding ------------------------------------------------------------------------------

// A canvas of random premultiplied pixels, many of them clear or opaque.
Canvas randomCanvas(std::int64_t w, std::int64_t h, std::uint32_t seed) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(seed);
    for (std::int64_t y = 0; y < h; ++y) {
        for (std::int64_t x = 0; x < w; ++x) {
            const std::uint32_t r = random();
            const auto a = static_cast<std::uint8_t>(r % 3 == 0 ? 0 : r % 3 == 1 ? 255 : r >> 24);
            const auto c = [&](int shift) {
                return static_cast<std::uint8_t>(a == 0 ? 0 : ((r >> shift) & 0xFF) % (a + 1));
            };
            setPixel(canvas, x, y, {c(2), c(10), c(18), a});
        }
    }
    return canvas;
}

// The whole canvas moves within its own memory, so the shapes at the edges of that are tried:
// one row, one column, rows longer than the slack and shorter.
TEST(PngFastEncode, WritesWhatLibpngReadsBackExactlyInEveryShape) {
    struct Shape {
        std::int64_t w, h;
    };
    for (const Shape shape : std::vector<Shape>{{1, 1}, {1, 300}, {300, 1}, {33, 17}, {2, 2}}) {
        SCOPED_TRACE(std::to_string(shape.w) + "x" + std::to_string(shape.h));
        const Canvas canvas = randomCanvas(shape.w, shape.h, static_cast<std::uint32_t>(shape.w));
        Canvas consumed = randomCanvas(shape.w, shape.h, static_cast<std::uint32_t>(shape.w));
        const auto png = encodePng(consumed);
        ASSERT_TRUE(png);
        const StraightPicture read = decodeWithLibpng(*png);
        ASSERT_FALSE(read.rgba.empty()) << "libpng refuses the file";
        ASSERT_EQ(read.w, shape.w);
        ASSERT_EQ(read.h, shape.h);
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

// Signature, IHDR, sRGB, a single IDAT holding the whole stream, IEND: nothing else, nothing
// after.
TEST(PngFastEncode, WritesOneIdatBetweenIhdrAndIend) {
    Canvas canvas = randomCanvas(20, 10, 5);
    const auto png = encodePng(canvas);
    ASSERT_TRUE(png);
    std::vector<std::string> types;
    std::size_t at = 8;
    while (at + 12 <= png->size()) {
        const std::uint32_t length = std::uint32_t{(*png)[at]} << 24 |
                                     std::uint32_t{(*png)[at + 1]} << 16 |
                                     std::uint32_t{(*png)[at + 2]} << 8 | (*png)[at + 3];
        types.emplace_back(png->begin() + at + 4, png->begin() + at + 8);
        at += 12 + length;
    }
    EXPECT_EQ(at, png->size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "sRGB", "IDAT", "IEND"}));
}

}  // namespace

}  // namespace cliptint::test
