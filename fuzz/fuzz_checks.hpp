#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "canvas/canvas.hpp"
#include "canvas/codec.hpp"

namespace cliptint::fuzz {

// Reports a broken promise and aborts, which libFuzzer records as a crash with the input.
[[noreturn]] inline void broken(std::string_view what) {
    std::fprintf(stderr, "broken: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

inline void expect(bool holds, std::string_view what) {
    if (!holds) broken(what);
}

// Pictures larger than this are decoded only as far as their header: under the sanitizers a
// legitimate 4-megapixel picture already takes about 2 s to decode, paint and encode, which
// libFuzzer would report as a timeout. The size checks themselves are still fuzzed, since
// headers beyond kMaxPixels are always passed on.
inline constexpr std::int64_t kFuzzMaxPixels = std::int64_t{1} << 20;

// True when the header states a size that is allowed but too slow to decode here.
inline bool tooSlowToDecode(std::span<const std::uint8_t> data) {
    const Codec* codec = sniffCodec(data);
    if (codec == nullptr) return false;
    const auto decoder = codec->readHeader(data);
    if (!decoder) return false;
    const auto [w, h] = (*decoder)->size();
    return w >= 1 && h >= 1 && w <= kMaxPixels && h <= kMaxPixels && w * h > kFuzzMaxPixels &&
           w * h <= kMaxPixels;
}

inline bool knownCanvasFailure(std::string_view message) {
    static constexpr std::array<std::string_view, 4> kKnown{
        "no picture on the clipboard", "picture size", "image", "canvas memory"};
    return std::ranges::find(kKnown, message) != kKnown.end();
}

// The promises every canvas keeps: a size within the limits and premultiplied pixels.
inline void checkCanvas(const Canvas& canvas) {
    expect(canvas.w >= 1 && canvas.h >= 1, "canvas size below 1");
    expect(canvas.w <= kMaxPixels && canvas.h <= kMaxPixels && canvas.w * canvas.h <= kMaxPixels,
           "canvas larger than kMaxPixels");
    expect(canvas.px() != nullptr, "canvas without memory");
    const std::uint8_t* px = canvas.px();
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        const std::uint8_t a = px[i + 3];
        expect(px[i] <= a && px[i + 1] <= a && px[i + 2] <= a, "colour byte above alpha");
    }
}

}  // namespace cliptint::fuzz
