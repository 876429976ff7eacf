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

struct Reply {
    std::string line;
    std::int64_t w = 0, h = 0;
    std::optional<Bytes> painted;  // the plainly recoloured canvas and the PNG stored, only on
    std::optional<Bytes> png;      // a paint reply
};

Reply lineOnly(std::string line) {
    return {std::move(line), 0, 0, std::nullopt, std::nullopt};
}

Reply replyFor(std::span<const std::uint8_t> data) {
    const Bytes bytes(data.begin(), data.end());
    const auto probed = answer({"probe", std::nullopt}, bytes);
    auto painted = answer({"paint", kColourWord}, bytes);

    const auto canvas = makeCanvas(data);
    const auto scan = canvas ? referenceScan(*canvas) : std::nullopt;
    const auto reference = scan ? std::optional(scan->line) : std::nullopt;
    if (!reference) {
        const std::string error = canvas ? "empty picture" : canvas.error();
        expect(!probed && probed.error() == error && !painted && painted.error() == error,
               "answer's failure differs from the decode's or the plain scan's");
        return lineOnly("ERR " + error);
    }
    expect(probed && probed->line == *reference && !probed->png,
           "probe line differs from the plain scan");
    if (!reference->starts_with("MONO ")) {
        expect(painted && painted->line == *reference && !painted->png,
               "paint of a MULTI picture is not its probe line alone");
        return lineOnly(*reference);
    }
    if (!painted) return lineOnly("ERR " + painted.error());
    // "MONO " and the mean's six digits give way to the new colour; the box stays.
    expect(painted->line == "MONO " + std::string(kPaintedHex) + reference->substr(11),
           "paint reply is not the probe reply with the new colour");
    expect(painted->png.has_value(), "paint stored no picture");
    return {painted->line, canvas->w, canvas->h, referenceRecolour(*canvas, 0x33, 0x66, 0xCC),
            std::move(painted->png)};
}

void checkReplyLine(std::string_view line) {
    expect(line.find('\n') == std::string_view::npos, "reply is more than one line");
    if (line.starts_with("ERR ")) {
        const std::string_view message = line.substr(4);
        if (knownCanvasFailure(message) || message == "empty picture" || message == "encode")
            return;
        broken("unknown ERR reply: " + std::string(line));
    }
}

// libspng, not the codec's own PNG reader, must read the stored PNG as the plainly recoloured
// canvas: the same size, every alpha kept, and each colour un-premultiplied and rounded to
// nearest (0 where alpha is 0), so that opaque pixels hold exactly the new colour.
void checkStoredPicture(const Reply& reply) {
    const auto stored = readPngWithLibspng(*reply.png);
    expect(stored && stored->rgba, "libspng refuses the painted PNG");
    expect(stored->ihdr.width == reply.w && stored->ihdr.height == reply.h,
           "painted PNG changed size");
    const Bytes& painted = *reply.painted;
    const Bytes& straight = *stored->rgba;
    for (std::size_t i = 0; i < painted.size(); i += 4) {
        const unsigned a = painted[i + 3];
        expect(straight[i + 3] == a, "painted PNG changed an alpha byte");
        for (std::size_t k = 0; k < 3; ++k) {
            const unsigned expected = a == 0 ? 0 : (painted[i + k] * 255 + a / 2) / a;
            expect(straight[i + k] == expected,
                   "painted PNG's colour is not the recoloured canvas's, un-premultiplied");
        }
    }
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace cliptint;
    const std::span<const std::uint8_t> data(bytes, size);
    if (fuzz::tooSlowToDecode(data)) return 0;

    const auto reply = fuzz::replyFor(data);
    fuzz::checkReplyLine(reply.line);
    if (reply.png) fuzz::checkStoredPicture(reply);
    return 0;
}
