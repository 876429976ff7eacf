#include "clipboard/wayland_library.hpp"

#include "sys/library.hpp"

namespace cliptint::wayland {

namespace {

const Library* load() {
    void* handle = sys::openLibrary("libwayland-client.so.0");
    if (handle == nullptr) return nullptr;
    static Library library{};
    const bool bound =
        sys::bindFunction(handle, "wl_display_connect", library.displayConnect) &&
        sys::bindFunction(handle, "wl_display_disconnect", library.displayDisconnect) &&
        sys::bindFunction(handle, "wl_display_get_fd", library.displayGetFd) &&
        sys::bindFunction(handle, "wl_display_flush", library.displayFlush) &&
        sys::bindFunction(handle, "wl_display_prepare_read", library.displayPrepareRead) &&
        sys::bindFunction(handle, "wl_display_cancel_read", library.displayCancelRead) &&
        sys::bindFunction(handle, "wl_display_read_events", library.displayReadEvents) &&
        sys::bindFunction(handle, "wl_display_dispatch_pending", library.displayDispatchPending) &&
        sys::bindFunction(handle, "wl_proxy_marshal_flags", library.proxyMarshalFlags) &&
        sys::bindFunction(handle, "wl_proxy_add_listener", library.proxyAddListener) &&
        sys::bindFunction(handle, "wl_proxy_destroy", library.proxyDestroy) &&
        sys::bindFunction(handle, "wl_proxy_get_version", library.proxyGetVersion) &&
        sys::bindFunction(handle, "wl_log_set_handler_client", library.logSetHandlerClient);
    return bound ? &library : nullptr;
}

}  // namespace

const Library* library() {
    static const Library* const library = load();
    return library;
}

}  // namespace cliptint::wayland
