#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "clipboard/x11_session.hpp"

namespace cliptint::x11 {

// Answers every request for CLIPBOARD, which the session's window owns, offering TARGETS,
// TIMESTAMP, MULTIPLE and image/png. Data over one chunk goes by INCR (ICCCM 2.7.2), with one
// transfer per (requestor window, property), so several readers are served at once.
class SelectionServer {
  public:
    SelectionServer(const Session& session, std::span<const std::uint8_t> png,
                    std::size_t chunkBytes);

    // Serves until another client takes the selection or the connection breaks.
    void run();

  private:
    struct Transfer {
        xcb_window_t requestor = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        std::size_t sent = 0;  // bytes of the PNG put into the property so far
        Deadline deadline;     // dropped when the requestor has not taken a chunk by then
    };
    using Transfers = std::vector<Transfer>;

    bool handle(const xcb_generic_event_t& event);  // false once the selection is lost
    void answer(const xcb_selection_request_event_t& request);
    bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property);
    bool convertMultiple(xcb_window_t requestor, xcb_atom_t property);
    bool putPng(xcb_window_t requestor, xcb_atom_t property);
    bool startIncr(xcb_window_t requestor, xcb_atom_t property);
    void sendNextChunk(const xcb_property_notify_event_t& notify);
    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property);
    bool predatesOwnership(xcb_timestamp_t time) const;

    Transfers::iterator find(xcb_window_t requestor, xcb_atom_t property);
    void drop(xcb_window_t requestor);
    void dropExpired();
    void stopWatching(xcb_window_t requestor);
    Deadline nextDeadline() const;

    const Session& session_;
    xcb_connection_t* c_;
    std::span<const std::uint8_t> png_;
    std::size_t chunkBytes_;  // > 0
    Transfers transfers_;     // at most kMaxTransfers
};

}  // namespace cliptint::x11
