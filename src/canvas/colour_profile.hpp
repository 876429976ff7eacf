#pragma once

// Pictures tagged with an ICC profile, converted into sRGB, the colour space of the canvas. The
// codecs hand over the embedded profile and their decoded rows; what comes back is straight
// (not premultiplied) 8-bit sRGB, which the codec then premultiplies as it does any picture.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace cliptint {

// Profiles above this size are refused as untagged. Real ones (matrix-shaper RGB, a CMYK
// printer's tables) stay far below it.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{4} << 20;  // bytes

enum class ColourModel : std::uint8_t { grey, rgb, cmyk };

// How the samples of one pixel lie in the rows handed to ColourConversion::convert.
struct PixelLayout {
    ColourModel model = ColourModel::rgb;
    // 1, or 2 for 16-bit samples in the machine's byte order.
    int sampleBytes = 1;
    // Per pixel: the colours first, then others (alpha), which are skipped.
    int samples = 4;
    // Every colour sample stored as its complement: TIFF's MinIsWhite grey, Adobe's CMYK JPEGs.
    bool inverted = false;
};

// A profile's conversion into sRGB: relative colorimetric, without black-point compensation.
// 16-bit samples are converted at their full depth and only the result is rounded to 8 bits.
class ColourConversion {
  public:
    struct Deleter {
        void operator()(void* transform) const;
    };

    explicit ColourConversion(void* transform) : transform_(transform) {}

    // Converts count pixels at in into the red, green and blue bytes of count 4-byte pixels at
    // out; the fourth byte of each is left as it is. in may be out when the layout has 4 bytes a
    // pixel.
    void convert(const void* in, std::uint8_t* out, std::int64_t count) const;

  private:
    std::unique_ptr<void, Deleter> transform_;
};

// The conversion of pictures of the given layout that carry the given profile; nullopt when the
// picture is to be taken as it stands, as an untagged one is: a profile that is empty, too
// large, does not parse or is not of the picture's colour model, a profile that describes sRGB
// itself, or no lcms2 to be loaded.
std::optional<ColourConversion> profileConversion(std::span<const std::uint8_t> profile,
                                                  PixelLayout layout);

}  // namespace cliptint
