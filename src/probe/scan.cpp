#include <charconv>
#include <cmath>
#include <cstdio>

#include "probe/probe.hpp"

namespace cliptint {

namespace {

constexpr double kStrayDistance = 90.0;  // sum of absolute channel differences
constexpr double kMaxStrayShare = 0.06;  // of the solid pixels; this share is already too many
constexpr double kMinClearShare = 0.15;  // of all pixels; this share is not yet enough

void firstPass(const Canvas& canvas, ProbeStats& s) {
    const std::uint8_t* px = canvas.px();
    s.minX = canvas.w;
    s.minY = canvas.h;
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        for (std::int64_t x = 0; x < canvas.w; ++x) {
            const std::int64_t i = (y * canvas.w + x) * 4;
            const std::uint8_t a = px[i + 3];
            if (a <= kClearMaxAlpha) {
                ++s.clear;
                continue;
            }
            if (a < kVisibleMinAlpha) continue;
            if (x < s.minX) s.minX = x;
            if (x > s.maxX) s.maxX = x;
            if (y < s.minY) s.minY = y;
            if (y > s.maxY) s.maxY = y;
            if (a < kSolidMinAlpha) continue;
            ++s.drawn;
            s.sr += chan(px, i, 0);
            s.sg += chan(px, i, 1);
            s.sb += chan(px, i, 2);
            s.sw += 1.0;
        }
    }
}

std::int64_t countStrays(const Canvas& canvas, const ProbeStats& s) {
    const std::uint8_t* px = canvas.px();
    std::int64_t stray = 0;
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        if (px[i + 3] < kSolidMinAlpha) continue;
        const double distance = std::fabs(chan(px, i, 0) - s.mr) +
                                std::fabs(chan(px, i, 1) - s.mg) + std::fabs(chan(px, i, 2) - s.mb);
        if (distance > kStrayDistance) ++stray;
    }
    return stray;
}

bool decideMono(const ProbeStats& s) {
    if (s.drawn == 0) return false;
    if (static_cast<double>(s.stray) / static_cast<double>(s.drawn) >= kMaxStrayShare) return false;
    return s.clearShare > kMinClearShare;
}

std::string formatHex(double r, double g, double b) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", static_cast<unsigned>(std::llround(r)),
                  static_cast<unsigned>(std::llround(g)), static_cast<unsigned>(std::llround(b)));
    return text;
}

// "%.4f" with a full stop whatever the locale: to_chars never consults it.
void appendFraction(std::string& out, double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
    out.append(text, end.ptr);
}

std::string formatBox(const Canvas& canvas, const ProbeStats& s) {
    const double w = static_cast<double>(canvas.w);
    const double h = static_cast<double>(canvas.h);
    std::string box;
    appendFraction(box, static_cast<double>(s.minX) / w);
    box += ' ';
    appendFraction(box, static_cast<double>(s.minY) / h);
    box += ' ';
    appendFraction(box, static_cast<double>(s.maxX + 1) / w);
    box += ' ';
    appendFraction(box, static_cast<double>(s.maxY + 1) / h);
    return box;
}

}  // namespace

Result<ProbeStats> scanCanvas(const Canvas& canvas) {
    ProbeStats s;
    firstPass(canvas, s);
    if (s.maxX < 0) return std::unexpected("empty picture");

    if (s.sw > 0.0) {
        s.mr = s.sr / s.sw;
        s.mg = s.sg / s.sw;
        s.mb = s.sb / s.sw;
    }
    s.stray = countStrays(canvas, s);
    s.clearShare = static_cast<double>(s.clear) / static_cast<double>(canvas.w * canvas.h);
    s.mono = decideMono(s);
    s.hex = formatHex(s.mr, s.mg, s.mb);
    s.box = formatBox(canvas, s);
    s.line = (s.mono ? "MONO " : "MULTI ") + s.hex + ' ' + s.box;
    return s;
}

}  // namespace cliptint
