// The PNG fast paths against independent code: files written by libpng, each filter type
// forced or chosen row by row, and re-chunked here, decoded by the fast path and judged by
// libspng alone; what encodePng writes read back by libspng.
#include "canvas/png_fast.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "cli/answer.hpp"
#include "png_reference.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

// w x h pixels of the colour type as libpng writes them (see libpngFile). The samples are mostly
// smooth, so that they compress, with one random byte in `noise`, and alpha samples often 0 or
// 255, as in real pictures.
Bytes smoothFile(std::uint32_t w, std::uint32_t h, PngColour colour, int filters,
                 std::uint32_t seed, std::uint32_t noise = 8) {
    const int c = channelCount(colour);
    Bytes samples(std::size_t{w} * h * c);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::size_t x = i / c % w, y = i / c / w, band = (x / 3 + y / 4) % 4;
        const bool alpha = c % 2 == 0 && i % c == std::size_t(c - 1);
        const std::uint32_t r = random();
        samples[i] = static_cast<std::uint8_t>(r % noise == 0 ? r >> 8
                                               : !alpha       ? x / 4 * 30 + y / 4 * 50 + i % c
                                               : band == 0    ? 0
                                               : band == 1    ? x / 4 * 9 + y
                                                              : 255);
    }
    return libpngFile(w, h, static_cast<int>(colour), filters, samples);
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

// The signature and IHDR chunk of png (libpng writes IHDR first), the chunks, IEND.
Bytes rechunked(const Bytes& png, std::vector<Chunk> chunks, bool iend = true) {
    if (iend) chunks.push_back({"IEND", {}});
    Bytes out = fileOf(chunks);
    out.insert(out.begin() + 8, png.begin() + 8, png.begin() + 33);
    return out;
}

// The fast path on its own, on the picture its IHDR states; the canvas bytes when it takes it.
std::optional<Bytes> fastPathCanvas(std::span<const std::uint8_t> png) {
    const std::uint32_t h = fuzz::bigEndian32(&png[20]);
    auto canvas = allocateCanvas(fuzz::bigEndian32(&png[16]), h);
    // Zeroed, slack too: rows that were never inflated would read as sound ones of filter 0.
    if (canvas) std::fill_n(canvas->px(), canvas->byteCount() + h, 0);
    if (!canvas || decodePngIdat(png, PngColour{png[25]}, *canvas) != FastDecode::done) {
        return std::nullopt;
    }
    return Bytes(canvas->bytes().begin(), canvas->bytes().end());
}

enum class Fast { takes, declines };

// The fast path takes a sound file, or declines; either way the codec answers as libspng does:
// the same pixels, premultiplied, or "image"; and where the fast path takes the file, that is
// the codec's canvas.
void expectLibspngsAnswer(std::span<const std::uint8_t> png, Fast fast) {
    const auto fastCanvas = fastPathCanvas(png);
    EXPECT_EQ(fastCanvas.has_value(), fast == Fast::takes) << "the fast path's choice";
    const auto canvas = makeCanvas(png);
    EXPECT_EQ(fuzz::pngDisagreement(png, canvas), std::nullopt);
    EXPECT_TRUE(!fastCanvas || (canvas && std::ranges::equal(canvas->bytes(), *fastCanvas)));
}

// Every colour type, every filter type on rows of every position (the top row filters against
// zeros), and shapes where a row is no longer than the left neighbour's distance. In 1 x 2 RGB
// the canvas's first row ends one byte before the inflated second row's samples.
TEST(PngFastDecode, GivesLibspngsPixelsForEveryColourTypeAndFilter) {
    const std::pair<std::uint32_t, std::uint32_t> shapes[] = {{1, 1}, {1, 2}, {1, 9},
                                                              {9, 1}, {2, 5}, {37, 23}};
    std::uint32_t seed = 1;
    for (const PngColour colour :
         {PngColour::grey, PngColour::rgb, PngColour::greyAlpha, PngColour::rgba}) {
        for (const auto& [w, h] : shapes) {
            for (const int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP,
                                      PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
                SCOPED_TRACE(testing::Message()
                             << "colour type " << static_cast<int>(colour) << ", " << w << "x" << h
                             << ", filters " << filters);
                expectLibspngsAnswer(smoothFile(w, h, colour, filters, ++seed), Fast::takes);
            }
        }
    }
}

// How the chunks around and between the IDATs lie does not matter to a sound file; whatever is
// out of the ordinary is declined.
TEST(PngFastDecode, TakesSoundChunkLayoutsAndDeclinesDamagedFiles) {
    const Bytes png = smoothFile(121, 67, PngColour::rgba, PNG_ALL_FILTERS, 7, 200);
    const Bytes stream = fuzz::idatStream(png);
    const std::size_t rowBytes = 4 * 121 + 1, third = stream.size() / 3;
    const Bytes rows = fuzz::inflatedTo(stream, 67 * rowBytes).value();
    const auto edited = [&](auto edit) {
        Bytes bytes = rows;
        edit(bytes);
        return rechunked(png, idatsOf(fuzz::zlibOf(bytes)));
    };
    std::vector<std::size_t> everyByte;
    for (std::size_t k = 1; k < stream.size(); ++k)
        everyByte.push_back(k);
    const auto halves = idatsOf(stream, {third});
    Bytes garbageAfterIend = rechunked(png, {halves[0], halves[1], {"tEXt", {'k', 0, 'v'}, false}});
    garbageAfterIend.insert(garbageAfterIend.end(), {'j', 'u', 'n', 'k'});
    auto badCrcLast = halves;
    badCrcLast.back().goodCrc = false;
    // Files seen only up to a cut inside a chunk: the bytes past the cut are the rest of a sound
    // file, so a walk that reads beyond the end it was given takes the file.
    const Bytes split = rechunked(png, halves);
    const Bytes wholeThenEmpty = rechunked(png, {{"IDAT", stream}, {"IDAT", {}}});
    const std::size_t second = 33 + 12 + third, afterWhole = 33 + 12 + stream.size();
    const auto cut = [](const Bytes& file, std::size_t size) {
        return std::span(file).first(size);
    };
    const std::tuple<std::string, std::span<const std::uint8_t>, Fast> cutShort[] = {
        // Fewer than 8 bytes after the IDAT cannot be another chunk's length and type.
        {"seven bytes after the last IDAT", cut(wholeThenEmpty, afterWhole + 7), Fast::takes},
        {"whole stream, then an IDAT header alone", cut(wholeThenEmpty, afterWhole + 8),
         Fast::declines},
        {"whole stream, then an IDAT cut inside its CRC", cut(wholeThenEmpty, afterWhole + 11),
         Fast::declines},
        {"first IDAT cut after its type", cut(split, 33 + 8), Fast::declines},
        {"first IDAT cut inside its data", cut(split, 33 + 30), Fast::declines},
        {"second IDAT cut inside its data", cut(split, second + 30), Fast::declines},
        {"last IDAT cut inside its CRC", cut(split, split.size() - 14), Fast::declines},
    };
    for (const auto& [name, view, fast] : cutShort) {
        SCOPED_TRACE(name);
        expectLibspngsAnswer(view, fast);
    }
    Bytes badAdler = stream;
    badAdler.back() ^= 0x40;

    const std::vector<std::tuple<std::string, Bytes, Fast>> cases{
        {"zero-length IDATs among others", rechunked(png, idatsOf(stream, {0, 10, 10, 10, 30})),
         Fast::takes},
        {"one IDAT per byte", rechunked(png, idatsOf(stream, everyByte)), Fast::takes},
        // As large as the scanlines: a stream that does not compress is joined all the same.
        {"stored blocks over several IDATs",
         rechunked(png, idatsOf(fuzz::zlibOf(rows, 0), {100, 200, 3000})), Fast::takes},
        {"ancillary chunks before, one with a bad CRC",
         rechunked(png, {{"tEXt", {'k', 0, 'v'}},
                         {"pHYs", Bytes(9, 1)},
                         {"tEXt", {'k', 0}, false},
                         {"IDAT", stream}}),
         Fast::takes},
        {"no IEND", rechunked(png, idatsOf(stream), false), Fast::takes},
        {"damaged chunk and garbage after the IDATs", garbageAfterIend, Fast::takes},
        {"bad CRC on the last IDAT", rechunked(png, badCrcLast), Fast::declines},
        {"stream a row short", edited([&](Bytes& b) { b.resize(b.size() - rowBytes); }),
         Fast::declines},
        {"stream a row long",
         edited([&](Bytes& b) { b.insert(b.end(), rows.end() - rowBytes, rows.end()); }),
         Fast::declines},
        {"filter type 5", edited([&](Bytes& b) { b[5 * rowBytes] = 5; }), Fast::declines},
        {"Adler-32 wrong", rechunked(png, idatsOf(badAdler)), Fast::declines},
        {"another chunk between the IDATs",
         rechunked(png, {halves[0], Chunk{"tEXt", {'a', 0, 'b'}}, halves[1]}), Fast::declines},
        {"no IDAT at all", rechunked(png, {}), Fast::declines},
        {"only empty IDATs", rechunked(png, {{"IDAT", {}}, {"IDAT", {}}}), Fast::declines},
    };
    for (const auto& [name, file, fast] : cases) {
        SCOPED_TRACE(name);
        expectLibspngsAnswer(file, fast);
    }
}

// While libdeflate has no (de)compressor to give, as when memory runs out, a picture is decoded
// by libspng instead and a paint answers "encode".
TEST(PngFastPaths, WithoutLibdeflateDecodeFallsBackAndPaintAnswersEncode) {
    const Bytes png = smoothFile(9, 7, PngColour::rgba, PNG_ALL_FILTERS, 5);
    const DeflateAllocators real = deflateAllocators;
    deflateAllocators = {[]() -> libdeflate_decompressor* { return nullptr; },
                         [](int) -> libdeflate_compressor* { return nullptr; }};
    const bool fastTaken = fastPathCanvas(png).has_value();
    const auto canvas = makeCanvas(png);
    const auto painted = answer({"paint", "3366cc"}, dataBytes("icc-glyph.png"));
    deflateAllocators = real;

    EXPECT_FALSE(fastTaken);
    ASSERT_TRUE(canvas) << canvas.error();
    EXPECT_EQ(fuzz::pngDisagreement(png, canvas), std::nullopt);
    ASSERT_FALSE(painted);
    EXPECT_EQ(painted.error(), "encode");
}

// A canvas of smoothFile's pixels premultiplied, many of them clear or opaque.
Canvas sampleCanvas(std::uint32_t w, std::uint32_t h) {
    return makeCanvas(smoothFile(w, h, PngColour::rgba, PNG_ALL_FILTERS, w + h)).value();
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

// The file is the signature, IHDR of 8-bit RGBA not interlaced, sRGB (relative colorimetric), a
// single IDAT holding the whole stream and IEND, nothing else, nothing after; libspng reads back
// each colour un-premultiplied to the nearest value and every alpha kept, and makeCanvas the very
// canvas (rounding both ways loses nothing). The whole canvas moves within its own memory, so the
// shapes at the edges of that are tried: one row, one column, rows longer than the slack and
// shorter.
TEST(PngFastEncode, WritesOneIdatThatLibspngReadsBackExactlyInEveryShape) {
    const std::pair<std::uint32_t, std::uint32_t> shapes[] = {{1, 1},   {1, 300}, {300, 1},
                                                              {33, 17}, {2, 2},   {256, 256}};
    for (const auto& [w, h] : shapes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto make = [&] { return w == 256 ? everyPremultipliedPair() : sampleCanvas(w, h); };
        const Canvas canvas = make();
        Canvas consumed = make();
        const auto png = encodePng(consumed);
        ASSERT_TRUE(png);
        const Bytes stream = fuzz::idatStream(*png);
        EXPECT_EQ(*png, fileOf({ihdrOf(w, h), {"sRGB", {1}}, {"IDAT", stream}, {"IEND", {}}}));
        const auto read = fuzz::readPngWithLibspng(*png);
        EXPECT_TRUE(read && read->rgba == fuzz::straightOf(canvas.bytes()));
        const auto decoded = makeCanvas(*png);
        EXPECT_TRUE(decoded && std::ranges::equal(decoded->bytes(), canvas.bytes()));
    }
}

}  // namespace

}  // namespace cliptint::test
