#pragma once

#include <chrono>
#include <optional>

#include "clipboard/xcb.hpp"
#include "result.hpp"
#include "sys/deadline.hpp"

namespace cliptint::x11 {

// How long the X server, or another client, may take to answer one request.
inline constexpr auto kAnswerWait = std::chrono::seconds(5);

inline Deadline answerDeadline() {
    return Clock::now() + kAnswerWait;
}

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t timestamp = XCB_NONE;
    xcb_atom_t multiple = XCB_NONE;
    xcb_atom_t atomPair = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t png = XCB_NONE;       // image/png
    xcb_atom_t tiff = XCB_NONE;      // image/tiff
    xcb_atom_t transfer = XCB_NONE;  // the property a conversion is delivered into
    xcb_atom_t clock = XCB_NONE;     // the property appended to, to learn the server time
};

// One connection to the X server with a window of our own to request and own selections with.
struct Session {
    XcbConnection connection;
    xcb_window_t window = XCB_NONE;  // unmapped, InputOnly, selects PropertyChange
    Atoms atoms;
    xcb_timestamp_t time = XCB_CURRENT_TIME;  // server time when the session was opened

    xcb_connection_t* c() const { return connection.get(); }
};

// Connects to the display named by DISPLAY, interns the atoms, creates the window and learns the
// server time. Failure: "no clipboard" (no server reachable, or one that does not answer).
Result<Session> openSession();

// The next event, read after libxcb's queue is drained; nullptr when the deadline passes or the
// connection breaks (xcb_connection_has_error tells which).
XcbEvent nextEvent(xcb_connection_t* c, Deadline deadline);

// The reply to the request, or nullptr on an error reply, the deadline, or a broken connection.
void* awaitReplyData(xcb_connection_t* c, unsigned sequence, Deadline deadline);

template <class Reply, class Cookie>
XcbReply<Reply> awaitReply(xcb_connection_t* c, Cookie cookie, Deadline deadline) {
    return XcbReply<Reply>(static_cast<Reply*>(awaitReplyData(c, cookie.sequence, deadline)));
}

}  // namespace cliptint::x11
