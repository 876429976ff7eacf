#pragma once

// The probe and the recolour the plain way, pixel by pixel in memory order: what scanCanvas's
// block-wise passes and recolour's per-alpha tables must reproduce bit for bit; and the colour
// word read from its accepted forms. The one copy, used by the fuzz targets and by the tests.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "canvas/canvas.hpp"
#include "probe/probe.hpp"

namespace cliptint::fuzz {

// The counts, box, sums, means and reply line of ProbeStats, every sum one addition at a time;
// nullopt for a picture without a visible pixel.
inline std::optional<ProbeStats> referenceScan(const Canvas& canvas) {
    const std::uint8_t* px = canvas.px();
    const std::int64_t pixels = canvas.w * canvas.h;
    ProbeStats s;
    s.minX = canvas.w;
    s.minY = canvas.h;
    for (std::int64_t n = 0; n < pixels; ++n) {
        const std::uint8_t a = px[4 * n + 3];
        if (a <= 19) ++s.clear;
        if (a <= 20) continue;
        s.minX = std::min(s.minX, n % canvas.w);
        s.maxX = std::max(s.maxX, n % canvas.w);
        s.minY = std::min(s.minY, n / canvas.w);
        s.maxY = std::max(s.maxY, n / canvas.w);
        if (a < 200) continue;
        ++s.drawn;
        s.sr += chan(px, 4 * n, 0);
        s.sg += chan(px, 4 * n, 1);
        s.sb += chan(px, 4 * n, 2);
        s.sw += 1.0;
    }
    if (s.maxX < 0) return std::nullopt;
    if (s.sw > 0.0) {
        s.mr = s.sr / s.sw;
        s.mg = s.sg / s.sw;
        s.mb = s.sb / s.sw;
    }
    for (std::int64_t i = 0; i < 4 * pixels; i += 4) {
        if (px[i + 3] < 200) continue;
        const double distance = std::fabs(chan(px, i, 0) - s.mr) +
                                std::fabs(chan(px, i, 1) - s.mg) + std::fabs(chan(px, i, 2) - s.mb);
        if (distance > 90.0) ++s.stray;
    }
    const bool mono = s.drawn > 0 &&
                      static_cast<double>(s.stray) / static_cast<double>(s.drawn) < 0.06 &&
                      static_cast<double>(s.clear) / static_cast<double>(pixels) > 0.15;
    const double w = static_cast<double>(canvas.w), h = static_cast<double>(canvas.h);
    char line[96];
    std::snprintf(line, sizeof line, "%s %02llX%02llX%02llX %.4f %.4f %.4f %.4f",
                  mono ? "MONO" : "MULTI", std::llround(s.mr), std::llround(s.mg),
                  std::llround(s.mb), static_cast<double>(s.minX) / w,
                  static_cast<double>(s.minY) / h, static_cast<double>(s.maxX + 1) / w,
                  static_cast<double>(s.maxY + 1) / h);
    s.line = line;
    return s;
}

// Every pixel given r, g, b times its own alpha over 255, truncated; alpha kept.
inline Bytes referenceRecolour(const Canvas& canvas, std::uint8_t r, std::uint8_t g,
                               std::uint8_t b) {
    Bytes out(canvas.px(), canvas.px() + canvas.byteCount());
    for (std::size_t i = 0; i < out.size(); i += 4) {
        const unsigned a = out[i + 3];
        out[i] = static_cast<std::uint8_t>(r * a / 255);
        out[i + 1] = static_cast<std::uint8_t>(g * a / 255);
        out[i + 2] = static_cast<std::uint8_t>(b * a / 255);
    }
    return out;
}

// Only "#" and " " are trimmed, from both ends, in any mix.
inline std::string_view referenceTrim(std::string_view word) {
    while (!word.empty() && (word.front() == '#' || word.front() == ' '))
        word.remove_prefix(1);
    while (!word.empty() && (word.back() == '#' || word.back() == ' '))
        word.remove_suffix(1);
    return word;
}

// The text, hexadecimal digits only, read by std::from_chars as a whole number of 32 bits.
inline std::optional<std::uint32_t> wholeHex(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value, 16);
    if (read.ec != std::errc{} || read.ptr != end) return std::nullopt;
    return value;
}

// The base-16 parse with an optional sign, read as a whole number rather than digit by digit:
// after "-" only zeros stay at or above 0 at every step; otherwise the value must fit 32 bits.
inline std::optional<std::uint32_t> referenceParse(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    const auto value = wholeHex(text);
    return negative && value != 0u ? std::nullopt : value;
}

}  // namespace cliptint::fuzz
