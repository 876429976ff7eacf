#pragma once

#include <memory>

#include "clipboard/clipboard.hpp"

namespace cliptint {

// The CLIPBOARD selection of the X server that DISPLAY names, also reached under Wayland through
// XWayland. Connects on first use, so a run that never uses it never connects; no server
// reachable makes every use answer "no clipboard".
std::unique_ptr<Clipboard> lazyX11Clipboard();

// The same, connected now: nullptr when no X server answers, so a caller can try another
// clipboard service instead.
std::unique_ptr<Clipboard> connectX11Clipboard();

}  // namespace cliptint
