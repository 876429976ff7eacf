#include "clipboard/wayland_library.hpp"

#include <dlfcn.h>

namespace cliptint::wayland {

namespace {

template <class Function>
bool bind(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

const Library* load() {
    void* handle = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static Library library{};
    const bool bound =
        bind(handle, "wl_display_connect", library.displayConnect) &&
        bind(handle, "wl_display_disconnect", library.displayDisconnect) &&
        bind(handle, "wl_display_get_fd", library.displayGetFd) &&
        bind(handle, "wl_display_flush", library.displayFlush) &&
        bind(handle, "wl_display_prepare_read", library.displayPrepareRead) &&
        bind(handle, "wl_display_cancel_read", library.displayCancelRead) &&
        bind(handle, "wl_display_read_events", library.displayReadEvents) &&
        bind(handle, "wl_display_dispatch_pending", library.displayDispatchPending) &&
        bind(handle, "wl_proxy_marshal_flags", library.proxyMarshalFlags) &&
        bind(handle, "wl_proxy_add_listener", library.proxyAddListener) &&
        bind(handle, "wl_proxy_destroy", library.proxyDestroy) &&
        bind(handle, "wl_proxy_get_version", library.proxyGetVersion) &&
        bind(handle, "wl_log_set_handler_client", library.logSetHandlerClient);
    return bound ? &library : nullptr;
}

}  // namespace

const Library* library() {
    static const Library* const library = load();
    return library;
}

}  // namespace cliptint::wayland
