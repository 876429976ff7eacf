#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace cliptint::x11 {

// libxcb hands replies, events and errors over in malloc'd memory that the caller frees.
struct XcbFree {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;
using XcbEvent = XcbReply<xcb_generic_event_t>;

struct XcbDisconnect {
    void operator()(xcb_connection_t* c) const noexcept { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// The event's code without the bit that marks events sent by other clients (SendEvent).
inline std::uint8_t responseType(const xcb_generic_event_t& event) {
    return event.response_type & 0x7f;
}

// The generic event viewed as the specific event its response type says it is.
template <class Event>
const Event& eventAs(const xcb_generic_event_t& event) {
    return reinterpret_cast<const Event&>(event);
}

}  // namespace cliptint::x11
