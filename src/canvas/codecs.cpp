#include <array>

#include "canvas/codec.hpp"
#include "canvas/codecs.hpp"

namespace cliptint {

std::span<const Codec> pictureCodecs() {
    static const std::array kCodecs{pngCodec()};
    return kCodecs;
}

}  // namespace cliptint
