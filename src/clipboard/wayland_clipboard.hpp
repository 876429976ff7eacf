#pragma once

#include <memory>

#include "clipboard/clipboard.hpp"

namespace cliptint {

// The selection of the Wayland compositor that libwayland connects this process to, reached
// through the compositor's data-control protocol (ext-data-control-v1, else
// wlr-data-control-unstable-v1). nullptr when no compositor answers, or it offers no data control
// or no seat: then another backend has to serve.
std::unique_ptr<Clipboard> connectWaylandClipboard();

}  // namespace cliptint
