#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_tool.hpp"

namespace cliptint::test {

// The desktop and the peers the tool meets there: Xvfb and xclip; headless sway, and KWin, with
// wl-copy and wl-paste (both offer data control); headless mutter (GNOME), which offers no data
// control, so the tool goes through its XWayland, with wl-copy and wl-paste across mutter's
// bridge, or with xclip beside it on XWayland, as a GNOME user's X11 programs copy. And GNUstep's
// pasteboard server (gpbs) with the tests' own AppKit program (pasteboard_peer.mm), for the
// AppKit build.
enum class Backend { x11, wayland, kwin, mutter, mutterX11, gnustep };
inline void PrintTo(Backend backend, std::ostream* out) {
    constexpr const char* names[] = {"X11", "Wayland", "KWin", "Mutter", "MutterXclip", "GNUstep"};
    *out << names[static_cast<int>(backend)];
}
// Where in TMP gpbs registers its name (base64 of "GNUstepGSPasteboardServer") once it serves.
inline const std::string kGpbsName = "NSMessagePort/names/R05Vc3RlcEdTUGFzdGVib2FyZFNlcnZlcg==";

inline bool x11Peer(Backend backend) {
    return backend == Backend::x11 || backend == Backend::mutterX11;
}

using Offer = std::vector<std::pair<std::string, std::string>>;  // types and their bytes

// Waits up to the timeout for the condition; false when it never held.
bool await(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A private desktop for one test, with the clipboard tools a user has on it as the tool's peers.
// The compositors refuse to run as root or are not meant to, so under root they run as the
// existing account "nobody" in a runtime folder of their own (mode 0700); root reaches their
// sockets all the same. Stops, within bounded time, every program left running
// on it. Desktops may run side by side, one per thread. Throws std::runtime_error when the server
// does not start. Not copyable, as its folder is not.
class Desktop {
  public:
    explicit Desktop(Backend backend);
    ~Desktop();

    // The whole environment of the tool and the peers: this desktop, PATH, nothing else (no
    // other display, so nothing can fall back to the other backend).
    const std::vector<std::string>& env() const { return env_; }

    // The peer puts the bytes on the clipboard under the type; returns once they are offered.
    // Types are MIME types: GNUstep's peer puts image/png, image/tiff and text/plain under
    // AppKit's PNG, TIFF and string types, and lists those as MIME types again.
    void copy(const std::string& type, const std::string& bytes);
    // The peer offers them all at once: on GNUstep; elsewhere it takes the first alone.
    void copy(const Offer& offer);
    std::string paste(const std::string& type) const;  // what the peer pastes of the type
    std::vector<std::string> types() const;            // the types the clipboard offers

    pid_t server() const { return server_; }  // the display server, compositor or gpbs

    // The programs of that path running on this desktop (the tool's detached owners, peers);
    // with no path, all of them.
    std::vector<pid_t> running(const std::string& exe = "") const;

  private:
    Backend backend_;
    TempDir dir_;
    pid_t server_ = -1;
    std::vector<std::string> env_;
};

}  // namespace cliptint::test
