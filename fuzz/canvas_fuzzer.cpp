// Fuzzes makeCanvas: every codec, chosen by sniffing, with its header checks, size limits,
// format conversion and premultiplication. PNGs of up to 8 bits a sample are also checked
// against libspng's own decoding, since the PNG codec takes a hand-written path for most.

#include <cstring>

#include "fuzz_checks.hpp"
#include "png_reference.hpp"

namespace cliptint::fuzz {

namespace {

// Pictures up to this size are decoded twice more into memory filled with 0x00 and with 0xFF
// beforehand; any difference means decode left bytes unwritten (or is not deterministic).
constexpr std::int64_t kFillCheckPixels = std::int64_t{1} << 18;

// Each decode reads the header afresh, as makeCanvas does: a decoder decodes once.
Canvas decodeIntoFilled(std::span<const std::uint8_t> data, const Codec& codec,
                        const Canvas& reference, std::uint8_t fill) {
    const auto decoder = codec.readHeader(data);
    expect(decoder.has_value(), "header read failed the second time");
    const PictureSize size = (*decoder)->size();
    expect(size.w == reference.w && size.h == reference.h, "header size differs from canvas");
    auto canvas = allocateCanvas(reference.w, reference.h);
    expect(canvas.has_value(), "allocateCanvas failed on a small canvas");
    std::memset(canvas->px(), fill, static_cast<std::size_t>(canvas->byteCount()));
    expect((*decoder)->decode(*canvas).has_value(), "decode failed the second time");
    return std::move(*canvas);
}

void checkEveryByteWritten(std::span<const std::uint8_t> data, const Canvas& canvas) {
    if (canvas.w * canvas.h > kFillCheckPixels) return;
    const Codec* codec = sniffedCodec(data);
    expect(codec != nullptr, "makeCanvas decoded bytes that no codec sniffs");
    const auto count = static_cast<std::size_t>(canvas.byteCount());
    for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        const Canvas again = decodeIntoFilled(data, *codec, canvas, fill);
        expect(std::memcmp(again.px(), canvas.px(), count) == 0,
               "decode left canvas bytes unwritten or is not deterministic");
    }
}

}  // namespace

}  // namespace cliptint::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace cliptint;
    const std::span<const std::uint8_t> data(bytes, size);
    if (fuzz::tooSlowToDecode(data)) return 0;

    const auto canvas = makeCanvas(data);
    if (const Codec* codec = fuzz::sniffedCodec(data); codec != nullptr && codec->name == "png") {
        if (const auto disagreement = fuzz::pngDisagreement(data, canvas)) {
            fuzz::broken(*disagreement);
        }
    }
    if (!canvas) {
        if (!fuzz::knownCanvasFailure(canvas.error())) {
            fuzz::broken("unknown makeCanvas failure: " + canvas.error());
        }
        return 0;
    }
    fuzz::checkCanvas(*canvas);
    fuzz::checkEveryByteWritten(data, *canvas);
    return 0;
}
