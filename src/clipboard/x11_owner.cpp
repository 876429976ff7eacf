#include "clipboard/x11_owner.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "clipboard/detach.hpp"
#include "clipboard/x11_serve.hpp"
#include "clipboard/x11_session.hpp"

namespace cliptint::x11 {

namespace {

constexpr std::string_view kOwned = "owned";
// Covers the child's connection watchdog and its requests to the server, with room to spare.
constexpr auto kOwnWait = std::chrono::seconds(12);
constexpr std::size_t kMaxChunkBytes = 256 * 1024;

// A quarter of the largest request the server takes, and at most 256 KiB: a chunk never comes
// near the limit, and pictures up to that size need no INCR round trips.
std::size_t chunkBytes(xcb_connection_t* c) {
    const std::size_t maxRequestBytes = std::size_t{xcb_get_maximum_request_length(c)} * 4;
    return std::min(maxRequestBytes / 4, kMaxChunkBytes);
}

// ICCCM 2.1: SetSelectionOwner has no reply and is ignored when its time is older than the
// current owner's, so the owner is read back.
bool takeOwnership(const Session& session) {
    xcb_connection_t* c = session.c();
    xcb_set_selection_owner(c, session.window, session.atoms.clipboard, session.time);
    const auto cookie = xcb_get_selection_owner(c, session.atoms.clipboard);
    const auto reply = awaitReply<xcb_get_selection_owner_reply_t>(c, cookie, answerDeadline());
    return reply && reply->owner == session.window;
}

// The detached child: its own connection, never the parent's, whose socket it shares and must
// not disturb. It reports only after it owns the selection, and ends with _exit so that nothing
// of the parent (stdio buffers, exit handlers) runs twice.
[[noreturn]] void serveClipboard(std::span<const std::uint8_t> png, int reportFd) {
    const auto session = openSession();
    if (!session) ::_exit(0);
    // Only after connecting: XAUTHORITY may name a file relative to the caller's directory.
    [[maybe_unused]] const int moved = ::chdir("/");
    const std::size_t chunk = chunkBytes(session->c());
    if (!takeOwnership(*session)) ::_exit(0);
    reportWord(reportFd, kOwned);
    ::close(reportFd);
    SelectionServer(*session, png, chunk).run();
    ::_exit(0);
}

}  // namespace

Result<void> startOwner(std::span<const std::uint8_t> png) {
    const auto child = forkDetached();
    if (!child) return std::unexpected("write");
    if (child->pid == 0) serveClipboard(png, child->reportFd);

    const bool owned = awaitWord(child->reportFd, kOwned, Clock::now() + kOwnWait);
    ::close(child->reportFd);
    if (owned) return {};
    // A child that took the selection late would contradict the failure reported here.
    ::kill(child->pid, SIGKILL);
    ::waitpid(child->pid, nullptr, 0);
    return std::unexpected("write");
}

}  // namespace cliptint::x11
