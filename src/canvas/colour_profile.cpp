#include "canvas/colour_profile.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "canvas/lcms_library.hpp"

namespace cliptint {

namespace {

struct ProfileCloser {
    void operator()(void* profile) const { lcmsLibrary()->closeProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// lcms2 describes the layout of a pixel in one word (lcms2.h, "Format of pixel"): at most 15
// channels and 7 extra samples.
constexpr int kMaxExtraSamples = 7;

// The 256 greys, then ramps of red, green and blue alone, as 8-bit RGB.
constexpr std::size_t kRampPixels = 4 * 256;

// What lcms2 calls each colour model: its colours a pixel, its profiles' colour space and its
// pixel type.
struct ModelNames {
    int colours;
    cmsColorSpaceSignature space;
    cmsUInt32Number pixelType;
};

ModelNames namesOf(ColourModel model) {
    switch (model) {
        case ColourModel::grey:
            return {1, cmsSigGrayData, PT_GRAY};
        case ColourModel::cmyk:
            return {4, cmsSigCmykData, PT_CMYK};
        case ColourModel::rgb:
            break;
    }
    return {3, cmsSigRgbData, PT_RGB};
}

bool layoutFits(const PixelLayout& layout) {
    const int extra = layout.samples - namesOf(layout.model).colours;
    return (layout.sampleBytes == 1 || layout.sampleBytes == 2) && extra >= 0 &&
           extra <= kMaxExtraSamples;
}

cmsUInt32Number inputFormat(const PixelLayout& layout) {
    const ModelNames names = namesOf(layout.model);
    return COLORSPACE_SH(names.pixelType) | CHANNELS_SH(names.colours) |
           EXTRA_SH(layout.samples - names.colours) | BYTES_SH(layout.sampleBytes) |
           FLAVOR_SH(layout.inverted ? 1 : 0);
}

// A profile that converts pictures into something else (a device link, an abstract or a named
// colour profile) describes no picture's colours.
bool describesPictures(const LcmsLibrary& lcms, void* profile, ColourModel model) {
    if (lcms.colourSpace(profile) != namesOf(model).space) return false;
    const cmsProfileClassSignature profileClass = lcms.deviceClass(profile);
    return profileClass == cmsSigInputClass || profileClass == cmsSigDisplayClass ||
           profileClass == cmsSigOutputClass || profileClass == cmsSigColorSpaceClass;
}

// True when the profile moves no grey and no ramp of one primary by more than one step: it
// is sRGB, whatever its tables or its name, up to the rounding of one conversion, and the
// picture is taken as it stands. CMYK never is.
bool describesSrgb(const LcmsLibrary& lcms, void* profile, void* srgb, ColourModel model) {
    if (model == ColourModel::cmyk) return false;
    std::array<std::uint8_t, kRampPixels * 3> rgb{};
    for (std::size_t v = 0; v < 256; ++v) {
        for (std::size_t ramp = 0; ramp < 4; ++ramp) {
            std::uint8_t* p = rgb.data() + (ramp * 256 + v) * 3;
            for (std::size_t k = 0; k < 3; ++k)
                p[k] = ramp == 0 || ramp == k + 1 ? static_cast<std::uint8_t>(v) : 0;
        }
    }
    // Grey profiles are tried on the greys alone: the first 256 pixels, one sample each.
    const bool grey = model == ColourModel::grey;
    std::array<std::uint8_t, 256> greys{};
    for (std::size_t v = 0; v < 256; ++v)
        greys[v] = static_cast<std::uint8_t>(v);
    const std::size_t count = grey ? 256 : kRampPixels;
    const std::unique_ptr<void, ColourConversion::Deleter> probe(
        lcms.createTransform(profile, grey ? TYPE_GRAY_8 : TYPE_RGB_8, srgb, TYPE_RGB_8,
                             INTENT_RELATIVE_COLORIMETRIC, 0));
    if (!probe) return false;
    std::array<std::uint8_t, kRampPixels * 3> out{};
    lcms.doTransform(probe.get(), grey ? greys.data() : rgb.data(), out.data(),
                     static_cast<cmsUInt32Number>(count));
    // The first 256 pixels of rgb are the greys, as sRGB shows them.
    for (std::size_t i = 0; i < count * 3; ++i) {
        if (std::abs(out[i] - rgb[i]) > 1) return false;
    }
    return true;
}

}  // namespace

void ColourConversion::Deleter::operator()(void* transform) const {
    lcmsLibrary()->deleteTransform(transform);
}

// lcms2 reads and writes one pixel at a time, so in may be out when both have 4 bytes a pixel;
// the output format's fourth byte is an extra sample, which lcms2 skips without writing. A row
// or a canvas holds at most kMaxPixels pixels, which lcms2's 32-bit count takes.
void ColourConversion::convert(const void* in, std::uint8_t* out, std::int64_t count) const {
    lcmsLibrary()->doTransform(transform_.get(), in, out, static_cast<cmsUInt32Number>(count));
}

std::optional<ColourConversion> profileConversion(std::span<const std::uint8_t> profile,
                                                  PixelLayout layout) {
    if (profile.empty() || profile.size() > kMaxProfileBytes || !layoutFits(layout)) {
        return std::nullopt;
    }
    const LcmsLibrary* lcms = lcmsLibrary();
    if (lcms == nullptr) return std::nullopt;
    const Profile source(
        lcms->openProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    if (!source || !describesPictures(*lcms, source.get(), layout.model)) return std::nullopt;
    const Profile srgb(lcms->createSrgbProfile());
    if (!srgb || describesSrgb(*lcms, source.get(), srgb.get(), layout.model)) return std::nullopt;
    void* transform = lcms->createTransform(source.get(), inputFormat(layout), srgb.get(),
                                            TYPE_RGBA_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (transform == nullptr) return std::nullopt;
    return ColourConversion(transform);
}

}  // namespace cliptint
