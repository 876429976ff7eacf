#pragma once

#include "canvas/codec.hpp"

namespace cliptint {

// One per format, each in its own file.
Codec pngCodec();

}  // namespace cliptint
