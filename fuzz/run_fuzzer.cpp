// Fuzzes a whole `--file IN OUT paint 3366cc` run on the input bytes: decode, scan, recolour
// and encode, then checks the one reply line the run would print. The scan and the recolour are
// compared with plain pixel-by-pixel versions, since both take short cuts over blocks of pixels.
//
// run() itself ends the process, so this calls answer(), the step that run() takes after reading
// the file, once to probe and once to paint.

#include <string>

#include "cli/answer.hpp"
#include "fuzz_checks.hpp"
#include "png_reference.hpp"
#include "reference_scan.hpp"

namespace cliptint::fuzz {

namespace {

constexpr std::string_view kColourWord = "3366cc";
constexpr std::string_view kPaintedHex = "3366CC";

// A reply line is one line; an ERR reply carries a known message.
void checkReplyLine(std::string_view line) {
    expect(line.find('\n') == std::string_view::npos, "reply is more than one line");
    if (!line.starts_with("ERR ")) return;
    const std::string_view message = line.substr(4);
    if (knownCanvasFailure(message) || message == "empty picture" || message == "encode") return;
    broken("unknown ERR reply: " + std::string(line));
}

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
        return checkReplyLine("ERR " + error);
    }
    const std::string& reference = scan->line;
    expect(probed && probed->line == reference && !probed->png,
           "probe line differs from the plain scan");
    checkReplyLine(reference);
    if (!reference.starts_with("MONO ")) {
        expect(painted && painted->line == reference && !painted->png,
               "paint of a MULTI picture is not its probe line alone");
        return;
    }
    if (!painted) return checkReplyLine("ERR " + painted.error());
    // "MONO " and the mean's six digits give way to the new colour; the box stays.
    expect(painted->line == "MONO " + std::string(kPaintedHex) + reference.substr(11),
           "paint reply is not the probe reply with the new colour");
    expect(painted->png.has_value(), "paint stored no picture");
    checkStoredPicture(*canvas, *painted->png);
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::span<const std::uint8_t> data(bytes, size);
    if (!cliptint::fuzz::tooSlowToDecode(data)) cliptint::fuzz::checkRun(data);
    return 0;
}
