#pragma once

// libwayland-client, opened when the Wayland backend is first tried. A run on files, or one that
// finds no compositor, never needs it, and mapping it with libffi cost every such run start-up
// time (bench/results.md), so the tool does not link it: libwayland-client.so.0 is opened on
// first use and its functions are reached through this table. The interfaces of the core
// protocol that the code names (wl_registry, wl_callback, wl_seat) are compiled in from
// libwayland's own wayland.xml, as the data-control ones are from protocols/.

#include <wayland-client-core.h>

namespace cliptint::wayland {

struct Library {
    decltype(&wl_display_connect) displayConnect;
    decltype(&wl_display_disconnect) displayDisconnect;
    decltype(&wl_display_get_fd) displayGetFd;
    decltype(&wl_display_flush) displayFlush;
    decltype(&wl_display_prepare_read) displayPrepareRead;
    decltype(&wl_display_cancel_read) displayCancelRead;
    decltype(&wl_display_read_events) displayReadEvents;
    decltype(&wl_display_dispatch_pending) displayDispatchPending;
    decltype(&wl_proxy_marshal_flags) proxyMarshalFlags;
    decltype(&wl_proxy_add_listener) proxyAddListener;
    decltype(&wl_proxy_destroy) proxyDestroy;
    decltype(&wl_proxy_get_version) proxyGetVersion;
    decltype(&wl_log_set_handler_client) logSetHandlerClient;
};

// The loaded library; nullptr when it is not installed or lacks one of the functions, and then
// there is no Wayland clipboard. Loaded once per process and never closed.
const Library* library();

}  // namespace cliptint::wayland
