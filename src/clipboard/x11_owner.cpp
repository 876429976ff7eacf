#include "clipboard/x11_owner.hpp"

#include <algorithm>
#include <optional>

#include "clipboard/owner.hpp"
#include "clipboard/x11_serve.hpp"
#include "clipboard/x11_session.hpp"

namespace cliptint::x11 {

namespace {

constexpr std::size_t kMaxChunkBytes = 256 * 1024;

// A quarter of the largest request the server takes, and at most 256 KiB: a chunk never comes
// near the limit, and pictures up to that size need no INCR round trips.
std::size_t chunkBytes(xcb_connection_t* c) {
    const std::size_t maxRequestBytes = std::size_t{xcb_get_maximum_request_length(c)} * 4;
    return std::min(maxRequestBytes / 4, kMaxChunkBytes);
}

// The owning process's own connection, never the parent's, whose socket it shares and must not
// disturb.
class X11Owner final : public SelectionOwner {
  public:
    explicit X11Owner(std::span<const std::uint8_t> png) : png_(png) {}

    // ICCCM 2.1: SetSelectionOwner has no reply and is ignored when its time is older than the
    // current owner's, so the owner is read back.
    bool takeSelection() override {
        auto session = openSession();
        if (!session) return false;
        session_ = std::move(*session);
        xcb_connection_t* c = session_->c();
        const xcb_atom_t clipboard = session_->atoms.clipboard;
        xcb_set_selection_owner(c, session_->window, clipboard, session_->time);
        const auto cookie = xcb_get_selection_owner(c, clipboard);
        const auto reply = awaitReply<xcb_get_selection_owner_reply_t>(c, cookie, answerDeadline());
        return reply && reply->owner == session_->window;
    }

    void serveSelection() override {
        SelectionServer(*session_, png_, chunkBytes(session_->c())).run();
    }

  private:
    std::span<const std::uint8_t> png_;
    std::optional<Session> session_;
};

}  // namespace

Result<void> ownClipboard(std::span<const std::uint8_t> png) {
    X11Owner owner(png);
    return startOwner(owner);
}

}  // namespace cliptint::x11
