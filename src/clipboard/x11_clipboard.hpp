#pragma once

#include <memory>

#include "clipboard/clipboard.hpp"

namespace cliptint {

// The CLIPBOARD selection of the X server that DISPLAY names, also reached under Wayland through
// XWayland, connected now: nullptr when no X server answers, so a caller can try another
// clipboard service instead.
std::unique_ptr<Clipboard> connectX11Clipboard();

}  // namespace cliptint
