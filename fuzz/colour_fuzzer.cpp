// Fuzzes the colour word: trimColour and parseColour against plain reference versions written
// from the accepted forms, and paintCanvas's reply on a one-pixel canvas.

#include <charconv>
#include <cstring>
#include <string>

#include "fuzz_checks.hpp"
#include "paint/paint.hpp"
#include "probe/probe.hpp"

namespace cliptint::fuzz {

namespace {

// Only "#" and " " are trimmed, from both ends, in any mix.
std::string_view referenceTrim(std::string_view word) {
    while (!word.empty() && (word.front() == '#' || word.front() == ' '))
        word.remove_prefix(1);
    while (!word.empty() && (word.back() == '#' || word.back() == ' '))
        word.remove_suffix(1);
    return word;
}

// The text, hexadecimal digits only, read by std::from_chars as a whole number of 32 bits.
std::optional<std::uint32_t> wholeHex(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value, 16);
    if (read.ec != std::errc{} || read.ptr != end) return std::nullopt;
    return value;
}

// The base-16 parse with an optional sign, read as a whole number rather than digit by digit:
// after "-" only zeros stay at or above 0 at every step; otherwise the value must fit 32 bits.
std::optional<std::uint32_t> referenceParse(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    const auto value = wholeHex(text);
    return negative && value != 0u ? std::nullopt : value;
}

// The accepted six-character forms as a table: six hex digits; "+" and five; "-00000".
std::optional<std::uint32_t> referenceSixCharacterColour(std::string_view c) {
    if (c.size() != 6) return std::nullopt;
    if (c == "-00000") return 0;
    return wholeHex(c.starts_with('+') ? c.substr(1) : c);
}

// paintCanvas on one opaque pixel: the new colour in the reply, or "colour " and the trimmed
// word. (What the colour does to the pixels is the recolour's, which run_fuzzer and the tests
// check for every colour byte and alpha.)
void checkPaint(std::string_view word, std::string_view c, std::optional<std::uint32_t> accepted) {
    auto canvas = allocateCanvas(1, 1);
    expect(canvas.has_value(), "allocateCanvas failed on one pixel");
    const std::uint8_t original[4] = {0x12, 0x34, 0x56, 0xFF};
    std::memcpy(canvas->px(), original, 4);
    constexpr std::string_view kBox = " 0.0000 0.0000 1.0000 1.0000";
    ProbeStats stats{.mono = true, .hex = "123456", .box = std::string(kBox.substr(1))};
    stats.line = "MONO 123456" + std::string(kBox);

    const auto painted = paintCanvas(word, std::move(*canvas), stats);
    if (!accepted) {
        expect(!painted && painted.error() == "colour " + std::string(c),
               "rejected colour word not reported as \"colour \" and the trimmed word");
        return;
    }
    expect(painted.has_value(), "accepted colour word failed to paint");
    char hex[8];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(*accepted));
    expect(painted->line == "MONO " + std::string(hex) + std::string(kBox),
           "paint reply does not carry the new colour");
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace cliptint;
    const std::string_view word(reinterpret_cast<const char*>(bytes), size);

    const std::string_view c = trimColour(word);
    fuzz::expect(c == fuzz::referenceTrim(word), "trimColour differs from the reference");
    fuzz::expect(parseColour(word) == fuzz::referenceParse(word),
                 "parseColour differs from the reference");

    const auto accepted = c.size() == 6 ? parseColour(c) : std::nullopt;
    fuzz::expect(accepted == fuzz::referenceSixCharacterColour(c),
                 "accepted colour words differ from the six-character forms");
    fuzz::checkPaint(word, c, accepted);
    return 0;
}
