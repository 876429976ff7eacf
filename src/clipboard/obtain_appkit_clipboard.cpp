#include "clipboard/appkit_clipboard.hpp"
#include "clipboard/choose_clipboard.hpp"

namespace cliptint {

// The pasteboard server is reached on the first read or write, never by a --file run.
std::unique_ptr<Clipboard> obtainClipboard() {
    return chooseClipboard({connectAppKitClipboard});
}

}  // namespace cliptint
