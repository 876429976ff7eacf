#include "canvas/codecs.hpp"

#include <array>

#include "canvas/codec.hpp"

namespace cliptint {

// Each codec recognises its own signature, so the order only matters for speed: the formats
// that clipboards carry come first.
std::span<const Codec> pictureCodecs() {
    static const std::array kCodecs{pngCodec(), tiffCodec(), jpegCodec(), webpCodec(), gifCodec()};
    return kCodecs;
}

}  // namespace cliptint
