#include "clipboard/choose_clipboard.hpp"
#include "clipboard/clipboard.hpp"
#include "clipboard/wayland_clipboard.hpp"
#include "clipboard/x11_clipboard.hpp"

namespace cliptint {

// A Wayland compositor with data control first; X11 (XWayland included) otherwise.
std::unique_ptr<Clipboard> obtainClipboard() {
    return chooseClipboard({connectWaylandClipboard, connectX11Clipboard});
}

}  // namespace cliptint
