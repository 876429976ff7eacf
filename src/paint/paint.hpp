#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "canvas/canvas.hpp"
#include "probe/probe.hpp"
#include "result.hpp"

namespace cliptint {

struct Painted {
    Bytes png;         // the recoloured canvas as PNG
    std::string line;  // the probe reply line with the new colour in place of the mean
};

// Trims and parses the colour word, recolours the canvas, encodes it as PNG and builds the paint
// reply line. The canvas is consumed: its memory is gone when this returns. Failures: "colour "
// and the trimmed word; "encode".
Result<Painted> paintCanvas(std::string_view word, Canvas canvas, const ProbeStats& stats);

// The colour word without the "#" and space characters at either end; nothing else is trimmed.
std::string_view trimColour(std::string_view word);

// Base 16 with an optional leading sign, in unsigned 32-bit arithmetic; nullopt for any other
// character, a lone sign, an empty text, or a value outside 0..0xFFFFFFFF.
std::optional<std::uint32_t> parseColour(std::string_view text);

// Gives every pixel the colour r, g, b premultiplied by its own alpha (truncating), alpha kept.
void recolour(Canvas& canvas, std::uint8_t r, std::uint8_t g, std::uint8_t b);

}  // namespace cliptint
