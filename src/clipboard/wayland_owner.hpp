#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "result.hpp"

namespace cliptint::wayland {

// Starts the detached process that keeps the picture on the clipboard after the tool has ended:
// it opens its own connection, sets the selection to a source offering the bytes under the MIME
// type, and once the compositor shows that selection back, this returns and the process serves
// every request until the selection is replaced. Failure: "write".
Result<void> ownSelection(std::string_view mimeType, std::span<const std::uint8_t> bytes);

}  // namespace cliptint::wayland
