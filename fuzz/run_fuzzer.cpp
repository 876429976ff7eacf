// Fuzzes a whole `--file IN OUT paint 3366cc` run on the input bytes: decode, scan, recolour
// and encode, then checks the one reply line the run would print. The scan and the recolour are
// compared with plain pixel-by-pixel versions, since both take short cuts over blocks of pixels.
//
// run() itself ends the process, so this calls answer(), the step that run() takes after reading
// the file, once to probe and once to paint.
//
// The same bytes are also the colour word of a paint: trimColour, parseColour and paintCanvas's
// six-character rule are held to plain reference versions written from the accepted forms. A
// colour word costs nothing beside a decode, and the colour seeds sit in the same corpus.

#include <cstring>
#include <string>

#include "cli/answer.hpp"
#include "fuzz_checks.hpp"
#include "paint/paint.hpp"
#include "png_reference.hpp"
#include "reference_scan.hpp"

namespace cliptint::fuzz {

namespace {

constexpr std::string_view kColourWord = "3366cc";
constexpr std::string_view kPaintedHex = "3366CC";

// libspng, not the codec's own PNG reader, must read the stored PNG as the plainly recoloured
// canvas: the same size, every alpha kept, and each colour un-premultiplied and rounded to
// nearest (0 where alpha is 0), so that opaque pixels hold exactly the new colour.
void checkStoredPicture(const Canvas& canvas, const Bytes& png) {
    const auto stored = readPngWithLibspng(png);
    expect(stored && stored->rgba, "libspng refuses the painted PNG");
    expect(stored->ihdr.width == canvas.w && stored->ihdr.height == canvas.h,
           "painted PNG changed size");
    expect(*stored->rgba == straightOf(referenceRecolour(canvas, 0x33, 0x66, 0xCC)),
           "painted PNG is not the recoloured canvas un-premultiplied, every alpha kept");
}

void checkRun(std::span<const std::uint8_t> data) {
    const Bytes bytes(data.begin(), data.end());
    const auto probed = answer({"probe", std::nullopt}, bytes);
    const auto painted = answer({"paint", kColourWord}, bytes);
    const auto canvas = makeCanvas(data);
    const auto scan = canvas ? referenceScan(*canvas) : std::nullopt;
    if (!scan) {
        const std::string error = canvas ? "empty picture" : canvas.error();
        expect(!probed && probed.error() == error && !painted && painted.error() == error,
               "answer's failure differs from the decode's or the plain scan's");
        expect(canvas || knownCanvasFailure(error), "unknown ERR reply: " + error);
        return;
    }
    const std::string& reference = scan->line;
    expect(probed && probed->line == reference && !probed->png,
           "probe line differs from the plain scan");
    if (!reference.starts_with("MONO ")) {
        expect(painted && painted->line == reference && !painted->png,
               "paint of a MULTI picture is not its probe line alone");
        return;
    }
    // A MONO picture is painted, or its PNG fails to encode.
    if (!painted) return expect(painted.error() == "encode", "paint failed: " + painted.error());
    // "MONO " and the mean's six digits give way to the new colour; the box stays.
    expect(painted->line == "MONO " + std::string(kPaintedHex) + reference.substr(11),
           "paint reply is not the probe reply with the new colour");
    expect(painted->png.has_value(), "paint stored no picture");
    checkStoredPicture(*canvas, *painted->png);
}

// paintCanvas on one opaque pixel gives the new colour in the reply for exactly the accepted
// words, and "colour " and the trimmed word for every other. (What the colour does to the pixels
// is the recolour's, which checkRun and the tests check for every colour byte and alpha.)
void checkColourWord(std::string_view word) {
    const std::string_view c = trimColour(word);
    expect(c == referenceTrim(word), "trimColour differs from the reference");
    expect(parseColour(word) == referenceParse(word), "parseColour differs from the reference");

    auto canvas = allocateCanvas(1, 1);
    expect(canvas.has_value(), "allocateCanvas failed on one pixel");
    const std::uint8_t original[4] = {0x12, 0x34, 0x56, 0xFF};
    std::memcpy(canvas->px(), original, 4);
    const auto stats = scanCanvas(*canvas);
    expect(stats && stats->line.starts_with("MULTI 123456 "), "one pixel scanned wrong");
    const auto painted = paintCanvas(word, std::move(*canvas), *stats);
    // Of six characters, that leaves six hex digits, "+" and five, and "-00000".
    const auto accepted = c.size() == 6 ? referenceParse(c) : std::nullopt;
    if (!accepted) {
        expect(!painted && painted.error() == "colour " + std::string(c),
               "rejected colour word not reported as \"colour \" and the trimmed word");
        return;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(*accepted));
    expect(painted && painted->line == "MULTI " + std::string(hex) + stats->line.substr(12),
           "accepted colour word not painted, or its reply does not carry the new colour");
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::span<const std::uint8_t> data(bytes, size);
    cliptint::fuzz::checkColourWord(std::string_view(reinterpret_cast<const char*>(bytes), size));
    if (!cliptint::fuzz::tooSlowToDecode(data)) cliptint::fuzz::checkRun(data);
    return 0;
}
