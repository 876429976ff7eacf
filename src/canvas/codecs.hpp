#pragma once

#include "canvas/codec.hpp"

namespace cliptint {

// One per format, each in its own file.
Codec pngCodec();
Codec tiffCodec();
Codec jpegCodec();
Codec webpCodec();
Codec gifCodec();

}  // namespace cliptint
