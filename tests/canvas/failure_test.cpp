// Damaged, hostile and borderline input: each answer is the one failure the run reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "canvas/codec.hpp"
#include "hand_made.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

constexpr char kNoPicture[] = "no picture on the clipboard";
constexpr char kSize[] = "picture size";
constexpr char kImage[] = "image";

Bytes firstBytes(const std::string& file, std::size_t count) {
    Bytes bytes = dataBytes(file);
    bytes.resize(count);
    return bytes;
}

Bytes withoutLast(const std::string& file, std::size_t count) {
    const Bytes bytes = dataBytes(file);
    return firstBytes(file, bytes.size() - count);
}

// Overwrites count bytes from offset at with 0xFF.
Bytes scribbled(const std::string& file, std::size_t at, std::size_t count) {
    Bytes bytes = dataBytes(file);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), count, 0xFF);
    return bytes;
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes pngWithHeader(std::uint32_t w, std::uint32_t h) {
    return fileOf({ihdrOf(w, h)});
}

struct FailureCase {
    std::string name;
    Bytes bytes;
    std::string error;
};

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
        {"PngSignatureOnly", firstBytes("png-rgba8.png", 8), kNoPicture},
        {"PngCutInIhdr", firstBytes("png-rgba8.png", 20), kNoPicture},
        {"TiffMagicOnly", firstBytes("tif-ref-unassoc.tif", 6), kNoPicture},
        {"TiffCutInDirectory", firstBytes("tif-ref-unassoc.tif", 30), kNoPicture},
        // libtiff refuses a directory of 0 columns or 0 rows outright, so that size is never read.
        {"TiffWidth0", tiffWithSize(0, 8), kNoPicture},
        {"TiffHeight0", tiffWithSize(8, 0), kNoPicture},
        {"TiffDirectoryBeyondTheEnd", withoutLast("tif-grid-tiled.tif", 100), kNoPicture},
        {"JpegMarkerOnly", firstBytes("jpg-rgb.jpg", 3), kNoPicture},
        {"JpegCutBeforeFrame", firstBytes("jpg-rgb.jpg", 20), kNoPicture},
        {"WebpRiffOnly", firstBytes("webp-ref-lossless.webp", 16), kNoPicture},
        {"GifSignatureOnly", firstBytes("gif-trns.gif", 8), kNoPicture},
    };
}

// The header reads, the pixels do not decode.
std::vector<FailureCase> brokenPixels() {
    return {
        {"PngCutInPixels", withoutLast("png-grid.png", 20), kImage},
        {"PngWithoutPixels", pngWithHeader(4, 4), kImage},
        {"Png16CutInPixels", withoutLast("png-rgba16.png", 20), kImage},
        {"Png16InterlacedCutInPixels", withoutLast("png-grid16-interlaced.png", 200), kImage},
        // The chunk checksum catches a changed byte in the compressed pixels.
        {"PngScribbledPixels", scribbled("png-grid.png", 60, 4), kImage},
        {"TiffCutInStrip", withoutLast("tif-ref-unassoc.tif", 10), kImage},
        {"TiffStripPastTheEnd", tiffWithSize(8, 8), kImage},
        {"TiffScribbledTile", scribbled("tif-grid-tiled.tif", 10, 40), kImage},
        {"TiffPaletteCutInStrip", withoutLast("tif-palette.tif", 2), kImage},
        {"JpegCutInPixels", withoutLast("jpg-rgb.jpg", 20), kImage},
        {"ProgressiveJpegCutInPixels", withoutLast("jpg-progressive.jpg", 100), kImage},
        {"WebpCutInPixels", withoutLast("webp-ref-lossless.webp", 10), kImage},
        {"GifCutInPixels", withoutLast("gif-interlaced.gif", 10), kImage},
        {"GifWithoutFrame", gifScreen(4, 4), kImage},
    };
}

// Sizes beyond the tool's limit or the library's own, stated by headers with nothing behind
// them: each codec's header read must report the size it states without decoding anything.
std::vector<FailureCase> refusedSizes() {
    return {
        {"Png100000Squared", pngWithHeader(100000, 100000), kSize},
        {"PngLargestWidth", pngWithHeader(0x7FFFFFFF, 0x7FFFFFFF), kSize},
        {"PngWidthBeyondPng", pngWithHeader(0x80000000u, 1), kSize},
        {"PngWidth0", pngWithHeader(0, 1), kSize},
        {"PngHeight0", pngWithHeader(1, 0), kSize},
        {"Tiff100000Squared", tiffWithSize(100000, 100000), kSize},
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

// The real codecs with a decode step that counts its calls: a refused size must never reach it,
// and so never reach the canvas allocation that comes right before it.
int decodeCalls = 0;

class CountingDecoder final : public PictureDecoder {
  public:
    explicit CountingDecoder(std::unique_ptr<PictureDecoder> real) : real_(std::move(real)) {}
    PictureSize size() const override { return real_->size(); }
    Result<void> decode(Canvas& canvas) override {
        ++decodeCalls;
        return real_->decode(canvas);
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

Result<Canvas> decodeCounting(std::span<const std::uint8_t> data, CanvasLimits limits = {}) {
    static const std::vector<Codec> codecs = [] {
        std::vector<Codec> counting;
        for (const Codec& codec : pictureCodecs())
            counting.push_back({codec.name, codec.sniff, readCountingHeader});
        return counting;
    }();
    decodeCalls = 0;
    return makeCanvasWith(codecs, data, limits);
}

class Refused : public testing::TestWithParam<FailureCase> {};

TEST_P(Refused, WithTheFailureOfTheFirstStepThatFails) {
    const auto canvas = decodeCounting(GetParam().bytes);
    ASSERT_FALSE(canvas) << "decoded " << canvas->w << " x " << canvas->h;
    EXPECT_EQ(canvas.error(), GetParam().error);
    EXPECT_EQ(decodeCalls, GetParam().error == kImage ? 1 : 0);
}

std::string caseName(const testing::TestParamInfo<FailureCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(NotPictures, Refused, testing::ValuesIn(notPictures()), caseName);
INSTANTIATE_TEST_SUITE_P(CutInTheHeader, Refused, testing::ValuesIn(cutInTheHeader()), caseName);
INSTANTIATE_TEST_SUITE_P(BrokenPixels, Refused, testing::ValuesIn(brokenPixels()), caseName);
INSTANTIATE_TEST_SUITE_P(RefusedSizes, Refused, testing::ValuesIn(refusedSizes()), caseName);

// The pixel limit bounds the width, the height and their product, each allowed up to and
// including the limit; what is allowed is decoded to the last pixel.
TEST(CanvasLimits, AllowUpToTheLimitAndNotOnePixelMore) {
    struct Case {
        std::int64_t w, h;
        bool allowed;
    };
    const Case cases[] = {{12, 1, true},  {1, 12, true},  {4, 3, true},  {13, 1, false},
                          {1, 13, false}, {5, 3, false},  {4, 4, false}, {3, 5, false},
                          {12, 2, false}, {2, 12, false}, {1, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        Canvas picture = clearCanvas(c.w, c.h);
        setPixel(picture, c.w - 1, c.h - 1, {9, 8, 7, 255});
        const std::string png = pngOf(picture);
        const auto canvas = decodeCounting(
            {reinterpret_cast<const std::uint8_t*>(png.data()), png.size()}, {.maxPixels = 12});
        EXPECT_EQ(decodeCalls, c.allowed ? 1 : 0);
        if (!c.allowed) {
            ASSERT_FALSE(canvas);
            EXPECT_EQ(canvas.error(), kSize);
            continue;
        }
        ASSERT_TRUE(canvas) << canvas.error();
        EXPECT_EQ(allPixels(*canvas), allPixels(picture));
    }
}

}  // namespace

}  // namespace cliptint::test
