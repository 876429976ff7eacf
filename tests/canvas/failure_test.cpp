// Damaged, hostile and borderline input: each answer is the one failure the run reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "canvas/codec.hpp"
#include "hand_made.hpp"
#include "picture_files.hpp"

namespace cliptint::test {

namespace {

constexpr char kNoPicture[] = "no picture on the clipboard";
constexpr char kSize[] = "picture size";
constexpr char kImage[] = "image";

Bytes firstBytes(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes withoutLast(const Bytes& bytes, std::size_t count) {
    return firstBytes(bytes, bytes.size() - count);
}

// Overwrites count bytes from offset at with 0xFF.
Bytes scribbled(Bytes bytes, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i)
        bytes[i] = 0xFF;
    return bytes;
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

struct FailureCase {
    std::string name;
    Bytes bytes;
    std::string error;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class Refused : public testing::TestWithParam<FailureCase> {};

TEST_P(Refused, WithTheFailureOfTheFirstStepThatFails) {
    const auto canvas = makeCanvas(GetParam().bytes);
    ASSERT_FALSE(canvas) << "decoded " << canvas->w << " x " << canvas->h;
    EXPECT_EQ(canvas.error(), GetParam().error);
}

std::vector<FailureCase> notPictures() {
    return {
        {"Empty", {}, kNoPicture},
        {"Text", textBytes("hello, this is not a picture\n"), kNoPicture},
        {"ElevenZeros", Bytes(11, 0), kNoPicture},
        // A BMP is a picture, but not one of the formats read here.
        {"Bitmap", textBytes("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0"), kNoPicture},
    };
}

// The signature is right, the header cannot be read: not a picture at all.
std::vector<FailureCase> cutInTheHeader() {
    return {
        {"PngSignatureOnly", firstBytes(dataBytes("png-rgba8.png"), 8), kNoPicture},
        {"PngCutInIhdr", firstBytes(dataBytes("png-rgba8.png"), 20), kNoPicture},
        {"TiffMagicOnly", firstBytes(dataBytes("tif-ref-unassoc.tif"), 6), kNoPicture},
        {"TiffCutInDirectory", firstBytes(dataBytes("tif-ref-unassoc.tif"), 30), kNoPicture},
        // libtiff refuses a directory of 0 columns or 0 rows outright, so that size is never read.
        {"TiffWidth0", tiffWithSize(0, 8), kNoPicture},
        {"TiffHeight0", tiffWithSize(8, 0), kNoPicture},
        {"TiffDirectoryBeyondTheEnd", withoutLast(dataBytes("tif-grid-tiled.tif"), 100),
         kNoPicture},
        {"JpegMarkerOnly", firstBytes(dataBytes("jpg-rgb.jpg"), 3), kNoPicture},
        {"JpegCutBeforeFrame", firstBytes(dataBytes("jpg-rgb.jpg"), 20), kNoPicture},
        {"WebpRiffOnly", firstBytes(dataBytes("webp-ref-lossless.webp"), 16), kNoPicture},
        {"GifSignatureOnly", firstBytes(dataBytes("gif-trns.gif"), 8), kNoPicture},
    };
}

// The header reads, the pixels do not decode.
std::vector<FailureCase> brokenPixels() {
    return {
        {"PngCutInPixels", withoutLast(dataBytes("png-grid.png"), 20), kImage},
        {"PngWithoutPixels", pngWithHeader(4, 4), kImage},
        {"Png16CutInPixels", withoutLast(dataBytes("png-rgba16.png"), 20), kImage},
        {"Png16InterlacedCutInPixels", withoutLast(dataBytes("png-grid16-interlaced.png"), 200),
         kImage},
        // The chunk checksum catches a changed byte in the compressed pixels.
        {"PngScribbledPixels", scribbled(dataBytes("png-grid.png"), 60, 4), kImage},
        {"TiffCutInStrip", withoutLast(dataBytes("tif-ref-unassoc.tif"), 10), kImage},
        {"TiffStripPastTheEnd", tiffWithSize(8, 8), kImage},
        {"TiffScribbledTile", scribbled(dataBytes("tif-grid-tiled.tif"), 10, 40), kImage},
        {"TiffPaletteCutInStrip", withoutLast(dataBytes("tif-palette.tif"), 2), kImage},
        {"JpegCutInPixels", withoutLast(dataBytes("jpg-rgb.jpg"), 20), kImage},
        {"ProgressiveJpegCutInPixels", withoutLast(dataBytes("jpg-progressive.jpg"), 100), kImage},
        {"WebpCutInPixels", withoutLast(dataBytes("webp-ref-lossless.webp"), 10), kImage},
        {"GifCutInPixels", withoutLast(dataBytes("gif-interlaced.gif"), 10), kImage},
        {"GifWithoutFrame", gifScreen(4, 4), kImage},
    };
}

// Sizes the canvas refuses, stated by headers with nothing behind them.
std::vector<FailureCase> refusedSizes() {
    return {
        {"Png100000Squared", pngWithHeader(100000, 100000), kSize},
        {"Png40000000By1", pngWithHeader(40000000, 1), kSize},
        {"Png1By40000000", pngWithHeader(1, 40000000), kSize},
        {"Png8000By5000", pngWithHeader(8000, 5000), kSize},
        {"PngLargestWidth", pngWithHeader(0x7FFFFFFF, 0x7FFFFFFF), kSize},
        {"PngWidthBeyondPng", pngWithHeader(0x80000000u, 1), kSize},
        {"PngWidth0", pngWithHeader(0, 1), kSize},
        {"PngHeight0", pngWithHeader(1, 0), kSize},
        {"Tiff100000Squared", tiffWithSize(100000, 100000), kSize},
        {"Tiff8000By5000", tiffWithSize(8000, 5000), kSize},
        {"Gif65535Squared", gifScreen(65535, 65535), kSize},
        {"GifWidth0", gifScreen(0, 5), kSize},
        {"GifHeight0", gifScreen(5, 0), kSize},
        {"Jpeg65500Squared", jpegWithSize(dataBytes("jpg-rgb.jpg"), 65500, 65500), kSize},
        {"ProgressiveJpeg8000By5000", jpegWithSize(dataBytes("jpg-progressive.jpg"), 8000, 5000),
         kSize},
        {"JpegHeight0", jpegWithSize(dataBytes("jpg-rgb.jpg"), 16, 0), kSize},
        {"Webp16384Squared", webpWithSize(dataBytes("webp-ref-lossless.webp"), 16384, 16384),
         kSize},
    };
}

std::string caseName(const testing::TestParamInfo<FailureCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(NotPictures, Refused, testing::ValuesIn(notPictures()), caseName);
INSTANTIATE_TEST_SUITE_P(CutInTheHeader, Refused, testing::ValuesIn(cutInTheHeader()), caseName);
INSTANTIATE_TEST_SUITE_P(BrokenPixels, Refused, testing::ValuesIn(brokenPixels()), caseName);
INSTANTIATE_TEST_SUITE_P(RefusedSizes, Refused, testing::ValuesIn(refusedSizes()), caseName);

// The real codecs' header reads with a decode step that only counts: a refused size must never
// reach it, and so never reach the canvas allocation that comes right before it.
int decodeCalls = 0;

class CountingDecoder final : public PictureDecoder {
  public:
    explicit CountingDecoder(std::unique_ptr<PictureDecoder> real) : real_(std::move(real)) {}

    PictureSize size() const override { return real_->size(); }
    Result<void> decode(Canvas&) override {
        ++decodeCalls;
        return {};
    }

  private:
    std::unique_ptr<PictureDecoder> real_;
};

// Sniffs again to find the real codec: the table below keeps the real sniffs, in their order.
Result<std::unique_ptr<PictureDecoder>> readCountingHeader(std::span<const std::uint8_t> data) {
    const auto real = std::ranges::find_if(pictureCodecs(),
                                           [&](const Codec& codec) { return codec.sniff(data); });
    auto decoder = real->readHeader(data);
    if (!decoder) return decoder;
    return std::make_unique<CountingDecoder>(std::move(*decoder));
}

std::vector<Codec> countingCodecs() {
    std::vector<Codec> codecs;
    for (const Codec& codec : pictureCodecs()) {
        codecs.push_back({codec.name, codec.sniff, readCountingHeader});
    }
    return codecs;
}

TEST(BombHeader, IsRefusedBeforeAnyPixelMemoryExists) {
    const auto codecs = countingCodecs();
    for (const FailureCase& bomb : refusedSizes()) {
        decodeCalls = 0;
        const auto canvas = makeCanvasWith(codecs, bomb.bytes);
        ASSERT_FALSE(canvas) << bomb.name;
        EXPECT_EQ(canvas.error(), kSize) << bomb.name;
        EXPECT_EQ(decodeCalls, 0) << bomb.name;
    }
}

TEST(BombHeader, ReachesDecodingWhenTheSizeIsAllowed) {
    const auto codecs = countingCodecs();
    decodeCalls = 0;
    EXPECT_TRUE(makeCanvasWith(codecs, pngWithHeader(7999, 5000)));
    EXPECT_EQ(decodeCalls, 1);
}

// The largest pictures allowed are decoded whole: the bottom-right pixel is the only white one.
class LargestPicture : public testing::TestWithParam<std::pair<std::uint32_t, std::uint32_t>> {};

TEST_P(LargestPicture, IsDecodedToTheLastPixel) {
    const auto [w, h] = GetParam();
    const auto canvas = makeCanvas(blackPngWithWhiteCorner(w, h));
    ASSERT_TRUE(canvas) << canvas.error();
    ASSERT_EQ(canvas->w, w);
    ASSERT_EQ(canvas->h, h);
    EXPECT_EQ(pixelText(pixelAt(*canvas, 0, 0)), pixelText(Rgba{0, 0, 0, 255}));
    const std::int64_t beforeLast = std::int64_t{w} * h - 2;  // in memory order
    EXPECT_EQ(pixelText(pixelAt(*canvas, beforeLast % w, beforeLast / w)),
              pixelText(Rgba{0, 0, 0, 255}));
    EXPECT_EQ(pixelText(pixelAt(*canvas, w - 1, h - 1)), pixelText(Rgba{255, 255, 255, 255}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargestPicture,
                         testing::Values(std::pair{39999999u, 1u}, std::pair{7999u, 5000u},
                                         std::pair{1u, 39999999u}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "By" +
                                    std::to_string(info.param.second);
                         });

TEST(SmallestPicture, IsACanvasOfFourBytes) {
    const auto canvas = makeCanvas(blackPngWithWhiteCorner(1, 1));
    ASSERT_TRUE(canvas) << canvas.error();
    EXPECT_EQ(canvas->byteCount(), 4);
    EXPECT_EQ(pixelText(pixelAt(*canvas, 0, 0)), pixelText(Rgba{255, 255, 255, 255}));
}

}  // namespace

}  // namespace cliptint::test
