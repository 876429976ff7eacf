#include "paint/paint.hpp"

#include <array>
#include <cstdio>
#include <cstring>

namespace cliptint {

std::string_view trimColour(std::string_view word) {
    const auto first = word.find_first_not_of("# ");
    if (first == std::string_view::npos) return word.substr(word.size());
    const auto last = word.find_last_not_of("# ");
    return word.substr(first, last - first + 1);
}

namespace {

std::optional<std::uint32_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
    return std::nullopt;
}

// value * 16 + digit, or value * 16 - digit after a minus sign; nullopt outside 0..0xFFFFFFFF.
std::optional<std::uint32_t> shiftIn(std::uint32_t value, std::uint32_t digit, bool negative) {
    constexpr std::uint64_t kMax = 0xFFFF'FFFF;
    const std::uint64_t shifted = std::uint64_t{value} * 16;
    if (shifted > kMax) return std::nullopt;
    if (negative) {
        if (shifted < digit) return std::nullopt;
        return static_cast<std::uint32_t>(shifted - digit);
    }
    // A multiple of 16 that fits 32 bits still does with a digit added.
    return static_cast<std::uint32_t>(shifted + digit);
}

std::string formatColour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", r, g, b);
    return text;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

std::optional<std::uint32_t> parseColour(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const auto digit = hexDigit(c);
        if (!digit) return std::nullopt;
        const auto next = shiftIn(value, *digit, negative);
        if (!next) return std::nullopt;
        value = *next;
    }
    return value;
}

void recolour(Canvas& canvas, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    // A pixel's new bytes depend on its alpha alone, so the 256 possible pixels are worked out
    // first with the exact truncating division; the pass over the canvas is then one table look-up
    // and one 4-byte store per pixel.
    std::array<std::array<std::uint8_t, 4>, 256> pixelOf{};
    for (unsigned a = 0; a < pixelOf.size(); ++a) {
        pixelOf[a] = {static_cast<std::uint8_t>(r * a / 255),
                      static_cast<std::uint8_t>(g * a / 255),
                      static_cast<std::uint8_t>(b * a / 255), static_cast<std::uint8_t>(a)};
    }
    std::uint8_t* px = canvas.px();
    const std::int64_t end = canvas.byteCount();
    for (std::int64_t i = 0; i < end; i += 4) {
        std::memcpy(px + i, pixelOf[px[i + 3]].data(), 4);
    }
}

Result<Painted> paintCanvas(std::string_view word, Canvas canvas, const ProbeStats& stats) {
    const std::string_view c = trimColour(word);
    const auto value = c.size() == 6 ? parseColour(c) : std::nullopt;
    if (!value) return std::unexpected("colour " + std::string(c));

    const auto r = static_cast<std::uint8_t>(*value >> 16);
    const auto g = static_cast<std::uint8_t>(*value >> 8);
    const auto b = static_cast<std::uint8_t>(*value);
    recolour(canvas, r, g, b);

    auto png = encodePng(canvas);
    if (!png) return std::unexpected("encode");
    return Painted{std::move(*png), replaceAll(stats.line, stats.hex, formatColour(r, g, b))};
}

}  // namespace cliptint
