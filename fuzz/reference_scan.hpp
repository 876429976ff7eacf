#pragma once

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "canvas/canvas.hpp"

namespace cliptint::fuzz {

// The probe reply line computed the plain way, pixel by pixel in memory order, with printf for
// the box: what scanCanvas's block-wise passes must reproduce exactly. nullopt for a picture
// without a visible pixel.
inline std::optional<std::string> referenceProbeLine(const Canvas& canvas) {
    const std::uint8_t* px = canvas.px();
    std::int64_t minX = canvas.w, minY = canvas.h, maxX = -1, maxY = -1;
    double sr = 0.0, sg = 0.0, sb = 0.0, sw = 0.0;
    std::int64_t clear = 0, drawn = 0;
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        for (std::int64_t x = 0; x < canvas.w; ++x) {
            const std::int64_t i = (y * canvas.w + x) * 4;
            const std::uint8_t a = px[i + 3];
            if (a <= 19) ++clear;
            if (a <= 20) continue;
            if (x < minX) minX = x;
            if (x > maxX) maxX = x;
            if (y < minY) minY = y;
            if (y > maxY) maxY = y;
            if (a < 200) continue;
            ++drawn;
            sr += chan(px, i, 0);
            sg += chan(px, i, 1);
            sb += chan(px, i, 2);
            sw += 1.0;
        }
    }
    if (maxX < 0) return std::nullopt;
    const double mr = sw > 0.0 ? sr / sw : 0.0;
    const double mg = sw > 0.0 ? sg / sw : 0.0;
    const double mb = sw > 0.0 ? sb / sw : 0.0;
    std::int64_t stray = 0;
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        if (px[i + 3] < 200) continue;
        const double distance = std::fabs(chan(px, i, 0) - mr) + std::fabs(chan(px, i, 1) - mg) +
                                std::fabs(chan(px, i, 2) - mb);
        if (distance > 90.0) ++stray;
    }
    const double clearShare = static_cast<double>(clear) / static_cast<double>(canvas.w * canvas.h);
    const bool mono = drawn > 0 && static_cast<double>(stray) / static_cast<double>(drawn) < 0.06 &&
                      clearShare > 0.15;
    char line[64];
    std::snprintf(line, sizeof line, "%s%02llX%02llX%02llX %.4f %.4f %.4f %.4f",
                  mono ? "MONO " : "MULTI ", std::llround(mr), std::llround(mg), std::llround(mb),
                  static_cast<double>(minX) / static_cast<double>(canvas.w),
                  static_cast<double>(minY) / static_cast<double>(canvas.h),
                  static_cast<double>(maxX + 1) / static_cast<double>(canvas.w),
                  static_cast<double>(maxY + 1) / static_cast<double>(canvas.h));
    return line;
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

}  // namespace cliptint::fuzz
