#include "clipboard/clipboard.hpp"
#include "clipboard/x11_clipboard.hpp"

namespace cliptint {

std::unique_ptr<Clipboard> obtainClipboard() {
    return lazyX11Clipboard();
}

}  // namespace cliptint
