#pragma once

#include <memory>

#include "clipboard/clipboard.hpp"

namespace cliptint {

// AppKit's general pasteboard: macOS's own, or GNUstep's pasteboard server (gpbs) elsewhere,
// connected now: nullptr when no pasteboard server answers. Its server keeps what is put there,
// so nothing of this process stays behind.
std::unique_ptr<Clipboard> connectAppKitClipboard();

}  // namespace cliptint
