// Pictures tagged with colour profiles by Pillow (tests/data/make-icc-data.py), each probed
// against its twin: the same picture converted to sRGB by Pillow's ImageCms and saved untagged,
// or the untagged picture itself where the profile must be ignored.
#include "canvas/colour_profile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "probe/probe.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {

namespace {

enum class Match {
    exact,      // the same reply line
    withinOne,  // the same verdict and box; each channel of the mean colour within 1
};

struct TwinCase {
    std::string tagged;
    std::string twin;
    Match match;
};

const TwinCase kTwins[] = {
    {"icc-glyph-adobe.png", "icc-glyph-adobe-srgb.png", Match::withinOne},
    {"icc-glyph-adobe.webp", "icc-glyph-adobe-srgb.png", Match::withinOne},
    {"icc-glyph-romm.tif", "icc-glyph-romm-srgb.png", Match::withinOne},
    {"icc-flat-adobe.jpg", "icc-flat-adobe-srgb.png", Match::withinOne},
    // Its 183 KiB profile is split over three APP2 markers; Adobe's inverted CMYK.
    {"icc-flat-cmyk.jpg", "icc-flat-cmyk-srgb.png", Match::withinOne},
    // 16 bits a sample, converted before they are rounded.
    {"icc-greys16.png", "icc-greys16-srgb.png", Match::withinOne},
    // sRGB itself, in a profile of its own tables.
    {"icc-glyph-srgb.png", "icc-glyph.png", Match::exact},
    // An sRGB chunk overrides the Adobe RGB profile beside it.
    {"icc-glyph-srgb-chunk.png", "icc-glyph.png", Match::exact},
    // A grey profile on RGB cannot serve (the profiles cut short: failure_test).
    {"icc-glyph-grey-profile.png", "icc-glyph.png", Match::exact},
};

ProbeStats probe(const std::string& file) {
    const auto canvas = makeCanvas(dataBytes(file));
    EXPECT_TRUE(canvas) << file << ": " << canvas.error();
    if (!canvas) return {};
    const auto stats = scanCanvas(*canvas);
    EXPECT_TRUE(stats) << file << ": " << stats.error();
    return stats ? *stats : ProbeStats{};
}

TEST(TaggedPicture, ProbesLikeItsTwin) {
    for (const auto& [taggedFile, twinFile, match] : kTwins) {
        SCOPED_TRACE(taggedFile);
        const ProbeStats tagged = probe(taggedFile), twin = probe(twinFile);
        if (match == Match::exact) {
            EXPECT_EQ(tagged.line, twin.line);
            continue;
        }
        EXPECT_EQ(tagged.mono, twin.mono);
        EXPECT_EQ(tagged.box, twin.box);
        for (std::size_t k = 0; k < 6; k += 2) {
            EXPECT_NEAR(std::stoi(tagged.hex.substr(k, 2), nullptr, 16),
                        std::stoi(twin.hex.substr(k, 2), nullptr, 16), 1)
                << tagged.hex << " against " << twin.hex;
        }
    }
}

// Only a profile of pictures' colours serves, and only within the bound on its size, which is
// checked before lcms2 reads it: the Adobe RGB profile (a display profile) padded with zeros
// still serves at the bound and not one byte beyond it; declared an input, output or colour-space
// profile it still serves, declared a device link, an abstract or a named-colour profile not.
TEST(ProfileConversion, TakesOnlyProfilesOfPicturesWithinTheBound) {
    const Bytes adobe = dataBytes("icc-adobe.icc");
    const auto serves = [&](const char* deviceClass, std::size_t size) {
        Bytes profile = adobe;
        std::copy_n(deviceClass, 4, profile.begin() + 12);  // the header's profile/device class
        profile.resize(size);
        const PixelLayout rgba{.model = ColourModel::rgb, .sampleBytes = 1, .samples = 4};
        return profileConversion(profile, rgba).has_value();
    };
    EXPECT_TRUE(serves("mntr", kMaxProfileBytes));
    EXPECT_FALSE(serves("mntr", kMaxProfileBytes + 1));
    for (const char* deviceClass : {"scnr", "prtr", "spac"})
        EXPECT_TRUE(serves(deviceClass, adobe.size())) << deviceClass;
    for (const char* deviceClass : {"link", "abst", "nmcl"})
        EXPECT_FALSE(serves(deviceClass, adobe.size())) << deviceClass;
}

}  // namespace

}  // namespace cliptint::test
