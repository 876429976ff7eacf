#include "pictures.hpp"

#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace cliptint::bench {

namespace {

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// Signed distance from p to a ring of the given centre line radius and stroke width; negative
// inside the stroke.
double ringDistance(Point p, Point centre, double radius, double stroke) {
    const double d = std::hypot(p.x - centre.x, p.y - centre.y);
    return std::fabs(d - radius) - stroke / 2;
}

// Signed distance from p to a bar of the given width along the segment a-b, with round ends.
double barDistance(Point p, Point a, Point b, double width) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double t =
        std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy) - width / 2;
}

// xorshift64*: fast, and the same sequence on every machine.
struct Noise {
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    std::uint32_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1Du) >> 32);
    }
};

std::uint8_t clampByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

// A ring and a bar, in fractions of the picture's smaller side and of its width and height.
struct GlyphShape {
    double ringRadius = 0.35;
    double ringStroke = 0.08;
    Point barFrom{0.2, 0.8};
    Point barTo{0.8, 0.2};
    double barWidth = 0.06;
    std::uint8_t ink = 0x1F;
};

Picture drawGlyph(std::int64_t w, std::int64_t h, const GlyphShape& shape) {
    Picture picture{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(4 * w * h))};
    const double size = static_cast<double>(std::min(w, h));
    const Point centre{w / 2.0, h / 2.0};
    const Point barFrom{w * shape.barFrom.x, h * shape.barFrom.y};
    const Point barTo{w * shape.barTo.x, h * shape.barTo.y};
    for (std::int64_t y = 0; y < h; ++y) {
        std::uint8_t* row = picture.rgba.data() + 4 * w * y;
        for (std::int64_t x = 0; x < w; ++x) {
            const Point p{x + 0.5, y + 0.5};
            const double d =
                std::min(ringDistance(p, centre, size * shape.ringRadius, size * shape.ringStroke),
                         barDistance(p, barFrom, barTo, size * shape.barWidth));
            // Coverage falls from 1 to 0 across the pixel that the edge passes through.
            const double coverage = std::clamp(0.5 - d, 0.0, 1.0);
            const auto alpha = static_cast<std::uint8_t>(std::lround(coverage * 255.0));
            const std::uint8_t ink = alpha == 0 ? 0 : shape.ink;
            row[4 * x + 0] = ink;
            row[4 * x + 1] = ink;
            row[4 * x + 2] = ink;
            row[4 * x + 3] = alpha;
        }
    }
    return picture;
}

// The fractional part of k times an irrational step: spread evenly over 0..1 for k = 0, 1, ...
double spread(int k, double step) {
    const double v = k * step;
    return v - std::floor(v);
}

}  // namespace

Picture makeGlyph(std::int64_t w, std::int64_t h) {
    return drawGlyph(w, h, GlyphShape{});
}

Picture makeGlyphVariant(std::int64_t w, std::int64_t h, int variant) {
    constexpr double kPi = 3.14159265358979323846;
    const double angle = 2 * kPi * spread(variant, 0.6180339887);
    const double reach = 0.25 + 0.2 * spread(variant, 0.7548776662);
    GlyphShape shape;
    shape.ringRadius = 0.2 + 0.2 * spread(variant, 0.4142135624);
    shape.ringStroke = 0.05 + 0.08 * spread(variant, 0.3247179572);
    shape.barFrom = {0.5 - reach * std::cos(angle), 0.5 - reach * std::sin(angle)};
    shape.barTo = {0.5 + reach * std::cos(angle), 0.5 + reach * std::sin(angle)};
    shape.barWidth = 0.05 + 0.1 * spread(variant, 0.2360679775);
    shape.ink = static_cast<std::uint8_t>(variant % 64);
    return drawGlyph(w, h, shape);
}

Picture makeNoisy(std::int64_t w, std::int64_t h) {
    Picture picture{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(4 * w * h))};
    Noise noise;
    for (std::int64_t y = 0; y < h; ++y) {
        std::uint8_t* row = picture.rgba.data() + 4 * w * y;
        const double v = static_cast<double>(y) / static_cast<double>(h);
        for (std::int64_t x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / static_cast<double>(w);
            const std::uint32_t n = noise.next();
            // Three noise terms of -12..12 each, one per channel, from one draw.
            const double nr = static_cast<double>(n & 0xFF) / 10.6 - 12.0;
            const double ng = static_cast<double>((n >> 8) & 0xFF) / 10.6 - 12.0;
            const double nb = static_cast<double>((n >> 16) & 0xFF) / 10.6 - 12.0;
            row[4 * x + 0] = clampByte(128.0 + 100.0 * std::sin(3.0 * u + 2.0 * v) + nr);
            row[4 * x + 1] = clampByte(110.0 + 90.0 * std::cos(5.0 * u - 1.5 * v) + ng);
            row[4 * x + 2] = clampByte(90.0 + 80.0 * std::sin(2.0 * v - 4.0 * u * v) + nb);
            row[4 * x + 3] = 255;
        }
    }
    return picture;
}

std::optional<std::vector<std::uint8_t>> pngOf(const Picture& picture) {
    const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                                  spng_ctx_free);
    if (!ctx) return std::nullopt;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(picture.w);
    ihdr.height = static_cast<std::uint32_t>(picture.h);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    auto* pixels = const_cast<std::uint8_t*>(picture.rgba.data());
    if (spng_encode_image(ctx.get(), pixels, picture.rgba.size(), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) != 0) {
        return std::nullopt;
    }
    std::size_t size = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx.get(), &size, &error);
    if (png == nullptr || error != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(png),
                                    static_cast<std::uint8_t*>(png) + size);
    std::free(png);
    return bytes;
}

}  // namespace cliptint::bench
