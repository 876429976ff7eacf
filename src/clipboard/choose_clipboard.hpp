#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "clipboard/clipboard.hpp"

namespace cliptint {

// Reaches one clipboard service: a clipboard, or nullptr when that service is not there.
using ClipboardConnector = std::function<std::unique_ptr<Clipboard>()>;

// A clipboard that costs nothing until it is used. On first use it tries the connectors in order
// and hands every call to the first clipboard one returns; when none does, every call answers
// "no clipboard". Each connector is tried at most once.
std::unique_ptr<Clipboard> chooseClipboard(std::vector<ClipboardConnector> connectors);

}  // namespace cliptint
