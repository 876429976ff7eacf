#pragma once

#include <cstdint>
#include <span>

#include "result.hpp"

namespace cliptint::x11 {

// X11 keeps no clipboard data: the owner of CLIPBOARD serves every request itself. This starts a
// detached process that takes the selection and serves the PNG until another client takes it,
// and returns once that process owns CLIPBOARD. Failure: "write".
Result<void> ownClipboard(std::span<const std::uint8_t> png);

}  // namespace cliptint::x11
