#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "canvas/canvas.hpp"

namespace cliptint {

// Width and height as a picture's header states them; not yet checked against any limit.
struct PictureSize {
    std::int64_t w = 0;
    std::int64_t h = 0;
};

// One picture format. makeCanvas picks the first codec whose sniff accepts the leading bytes,
// reads the header, checks the size and only then allocates the canvas that decode fills.
struct Codec {
    std::string_view name;
    bool (*sniff)(std::span<const std::uint8_t> data);
    // Failure: "no picture on the clipboard" (unreadable header).
    Result<PictureSize> (*readHeader)(std::span<const std::uint8_t> data);
    // Fills every byte of the canvas, premultiplied. Failure: "image".
    Result<void> (*decode)(std::span<const std::uint8_t> data, Canvas& canvas);
};

// The codecs that makeCanvas tries, in order.
std::span<const Codec> pictureCodecs();

// makeCanvas with a given codec table, for tests.
Result<Canvas> makeCanvasWith(std::span<const Codec> codecs, std::span<const std::uint8_t> data);

}  // namespace cliptint
