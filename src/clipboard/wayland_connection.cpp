#include "clipboard/wayland_connection.hpp"

#include <unistd.h>
#include <wayland-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/wayland_library.hpp"
#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace cliptint::wayland {

namespace {

// Both protocols number their requests alike; the code below relies on it.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

constexpr std::uint32_t kCreateDataSource = EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE;
constexpr std::uint32_t kGetDataDevice = EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE;
constexpr std::uint32_t kManagerDestroy = EXT_DATA_CONTROL_MANAGER_V1_DESTROY;
constexpr std::uint32_t kSetSelection = EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION;
constexpr std::uint32_t kDeviceDestroy = EXT_DATA_CONTROL_DEVICE_V1_DESTROY;
constexpr std::uint32_t kSourceOffer = EXT_DATA_CONTROL_SOURCE_V1_OFFER;
constexpr std::uint32_t kSourceDestroy = EXT_DATA_CONTROL_SOURCE_V1_DESTROY;
constexpr std::uint32_t kOfferReceive = EXT_DATA_CONTROL_OFFER_V1_RECEIVE;
constexpr std::uint32_t kOfferDestroy = EXT_DATA_CONTROL_OFFER_V1_DESTROY;

// The generic (ext) protocol comes first: it is the one that stays.
const DataControlProtocol kExtDataControl{
    "ext_data_control_manager_v1", &ext_data_control_manager_v1_interface,
    &ext_data_control_device_v1_interface, &ext_data_control_source_v1_interface,
    &ext_data_control_offer_v1_interface};
const DataControlProtocol kWlrDataControl{
    "zwlr_data_control_manager_v1", &zwlr_data_control_manager_v1_interface,
    &zwlr_data_control_device_v1_interface, &zwlr_data_control_source_v1_interface,
    &zwlr_data_control_offer_v1_interface};

// The events of an offer and a device, laid out like the generated listeners of both protocols.
struct OfferListener {
    void (*offer)(void* data, wl_proxy* offer, const char* mimeType);
};
struct DeviceListener {
    void (*dataOffer)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*selection)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*finished)(void* data, wl_proxy* device);
    void (*primarySelection)(void* data, wl_proxy* device, wl_proxy* offer);
};
static_assert(sizeof(OfferListener) == sizeof(ext_data_control_offer_v1_listener));
static_assert(sizeof(OfferListener) == sizeof(zwlr_data_control_offer_v1_listener));
static_assert(sizeof(DeviceListener) == sizeof(ext_data_control_device_v1_listener));
static_assert(sizeof(DeviceListener) == sizeof(zwlr_data_control_device_v1_listener));
static_assert(sizeof(SourceListener) == sizeof(ext_data_control_source_v1_listener));
static_assert(sizeof(SourceListener) == sizeof(zwlr_data_control_source_v1_listener));

// Every call into libwayland goes through the loaded library: a connection, and so any proxy,
// exists only once it has been loaded.
const Library& wl() {
    return *library();
}

template <class Listener>
void addListener(wl_proxy* proxy, const Listener& listener, void* data) {
    // The cast is the one the generated *_add_listener functions make.
    wl().proxyAddListener(
        proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

// The core protocol's requests that the code sends, as the inline functions of
// wayland-client-protocol.h make them, but through the loaded library.
wl_proxy* getRegistry(wl_display* display) {
    auto* proxy = reinterpret_cast<wl_proxy*>(display);
    return wl().proxyMarshalFlags(proxy, WL_DISPLAY_GET_REGISTRY, &wl_registry_interface,
                                  wl().proxyGetVersion(proxy), 0, nullptr);
}

wl_proxy* bindGlobal(wl_proxy* registry, std::uint32_t name, const wl_interface* interface) {
    constexpr std::uint32_t kVersion = 1;
    return wl().proxyMarshalFlags(registry, WL_REGISTRY_BIND, interface, kVersion, 0, name,
                                  interface->name, kVersion, nullptr);
}

wl_proxy* sync(wl_display* display) {
    auto* proxy = reinterpret_cast<wl_proxy*>(display);
    return wl().proxyMarshalFlags(proxy, WL_DISPLAY_SYNC, &wl_callback_interface,
                                  wl().proxyGetVersion(proxy), 0, nullptr);
}

// libwayland reports to stderr by default; this tool prints nothing there.
void silentLog(const char*, va_list) {}

void noteOfferedType(void* data, wl_proxy*, const char* mimeType) {
    auto& types = *static_cast<OfferTypes*>(data);
    const std::string_view type(mimeType);
    if (type == "image/png") types.png = true;
    if (type == "image/tiff") types.tiff = true;
    if (types.count < 2) ++types.count;
}
constexpr OfferListener kOfferListener{noteOfferedType};

void noteDataOffer(void* data, wl_proxy*, wl_proxy* offer) {
    auto& watch = *static_cast<SelectionWatch*>(data);
    // An offer never named by a selection event is dropped once the next one is announced.
    watch.introduced = Offer{Proxy(offer, kOfferDestroy), std::make_unique<OfferTypes>()};
    addListener(offer, kOfferListener, watch.introduced->types.get());
}

void noteSelection(void* data, wl_proxy*, wl_proxy* offer) {
    auto& watch = *static_cast<SelectionWatch*>(data);
    ++watch.selections;
    watch.current.reset();
    if (offer != nullptr && watch.introduced && watch.introduced->proxy.get() == offer) {
        watch.current = std::exchange(watch.introduced, std::nullopt);
    }
}

void noteFinished(void* data, wl_proxy*) {
    static_cast<SelectionWatch*>(data)->finished = true;
}

void notePrimarySelection(void* data, wl_proxy*, wl_proxy* offer) {
    auto& watch = *static_cast<SelectionWatch*>(data);
    if (watch.introduced && watch.introduced->proxy.get() == offer) watch.introduced.reset();
}
constexpr DeviceListener kDeviceListener{noteDataOffer, noteSelection, noteFinished,
                                         notePrimarySelection};

void markDone(void* data, wl_callback*, std::uint32_t) {
    *static_cast<bool*>(data) = true;
}
constexpr wl_callback_listener kSyncListener{markDone};

}  // namespace

Proxy::Proxy(Proxy&& other) noexcept
    : proxy_(std::exchange(other.proxy_, nullptr)), destroyOpcode_(other.destroyOpcode_) {}

Proxy& Proxy::operator=(Proxy&& other) noexcept {
    if (this != &other) {
        reset();
        proxy_ = std::exchange(other.proxy_, nullptr);
        destroyOpcode_ = other.destroyOpcode_;
    }
    return *this;
}

void Proxy::reset() {
    wl_proxy* proxy = std::exchange(proxy_, nullptr);
    if (proxy == nullptr) return;
    if (!destroyOpcode_) return wl().proxyDestroy(proxy);
    wl().proxyMarshalFlags(proxy, *destroyOpcode_, nullptr, wl().proxyGetVersion(proxy),
                           WL_MARSHAL_FLAG_DESTROY);
}

struct Connection::Globals {
    std::optional<std::uint32_t> ext, wlr, seat;  // registry names
};

namespace {

void noteGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                std::uint32_t) {
    auto& globals = *static_cast<Connection::Globals*>(data);
    const std::string_view offered(interface);
    if (offered == kExtDataControl.managerName) globals.ext = name;
    if (offered == kWlrDataControl.managerName) globals.wlr = name;
    if (offered == wl_seat_interface.name && !globals.seat) globals.seat = name;
}
void ignoreGlobalRemoval(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener kRegistryListener{noteGlobal, ignoreGlobalRemoval};

}  // namespace

std::unique_ptr<Connection> Connection::open(Deadline deadline) {
    const Library* library = wayland::library();
    if (library == nullptr) return nullptr;
    library->logSetHandlerClient(silentLog);
    wl_display* display = library->displayConnect(nullptr);
    if (display == nullptr) return nullptr;
    std::unique_ptr<Connection> connection(new Connection);
    connection->display_ = display;
    if (!connection->bindGlobals(deadline)) return nullptr;
    return connection;
}

Connection::~Connection() {
    manager_.reset();
    seat_.reset();
    registry_.reset();
    wl().displayDisconnect(display_);
}

bool Connection::bindGlobals(Deadline deadline) {
    globals_ = std::make_unique<Globals>();
    wl_proxy* registry = getRegistry(display_);
    registry_ = Proxy(registry, std::nullopt);
    addListener(registry, kRegistryListener, globals_.get());
    if (!roundtrip(deadline)) return false;

    const auto managerName = globals_->ext ? globals_->ext : globals_->wlr;
    if (!managerName || !globals_->seat) return false;
    protocol_ = globals_->ext ? &kExtDataControl : &kWlrDataControl;
    manager_ = Proxy(bindGlobal(registry, *managerName, protocol_->manager), kManagerDestroy);
    seat_ = Proxy(bindGlobal(registry, *globals_->seat, &wl_seat_interface), std::nullopt);
    return true;
}

bool Connection::roundtrip(Deadline deadline) {
    bool done = false;
    wl_proxy* callback = sync(display_);
    addListener(callback, kSyncListener, &done);
    bool alive = true;
    while (alive && !done && Clock::now() < deadline) {
        alive = pump({}, pollTimeout(deadline));
    }
    wl().proxyDestroy(callback);
    return alive && done;
}

bool Connection::pump(std::span<pollfd> extra, int timeoutMs) {
    // libwayland's reading protocol: events already queued are dispatched first, and a read is
    // prepared before waiting so that no event is left unread in the socket.
    const Library& library = wl();
    while (library.displayPrepareRead(display_) != 0) {
        if (library.displayDispatchPending(display_) < 0) return false;
    }
    const bool unsent = library.displayFlush(display_) < 0;
    if (unsent && errno != EAGAIN) {
        library.displayCancelRead(display_);
        return false;
    }
    std::vector<pollfd> fds{
        {library.displayGetFd(display_), static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0}};
    fds.insert(fds.end(), extra.begin(), extra.end());
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
        library.displayCancelRead(display_);
        return false;
    }
    for (std::size_t k = 0; k < extra.size(); ++k)
        extra[k].revents = fds[k + 1].revents;
    if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        if (library.displayReadEvents(display_) < 0) return false;
    } else {
        library.displayCancelRead(display_);
    }
    return library.displayDispatchPending(display_) >= 0;
}

Proxy Connection::makeDevice(SelectionWatch& watch) {
    wl_proxy* device =
        wl().proxyMarshalFlags(manager_.get(), kGetDataDevice, protocol_->device,
                               wl().proxyGetVersion(manager_.get()), 0, nullptr, seat_.get());
    addListener(device, kDeviceListener, &watch);
    return Proxy(device, kDeviceDestroy);
}

Proxy Connection::makeSource(std::string_view mimeType, const SourceListener& listener,
                             void* data) {
    const std::uint32_t version = wl().proxyGetVersion(manager_.get());
    wl_proxy* source = wl().proxyMarshalFlags(manager_.get(), kCreateDataSource, protocol_->source,
                                              version, 0, nullptr);
    addListener(source, listener, data);
    const std::string type(mimeType);
    wl().proxyMarshalFlags(source, kSourceOffer, nullptr, version, 0, type.c_str());
    return Proxy(source, kSourceDestroy);
}

void Connection::setSelection(const Proxy& device, const Proxy& source) {
    wl().proxyMarshalFlags(device.get(), kSetSelection, nullptr, wl().proxyGetVersion(device.get()),
                           0, source.get());
}

bool Connection::receive(const Offer& offer, std::string_view mimeType, int fd, Deadline deadline) {
    const std::string type(mimeType);
    // libwayland duplicates fd into its queue; the caller's copy stays the caller's.
    wl().proxyMarshalFlags(offer.proxy.get(), kOfferReceive, nullptr,
                           wl().proxyGetVersion(offer.proxy.get()), 0, type.c_str(), fd);
    while (wl().displayFlush(display_) < 0) {
        if (errno != EAGAIN) return false;
        pollfd writable{wl().displayGetFd(display_), POLLOUT, 0};
        if (::poll(&writable, 1, pollTimeout(deadline)) <= 0) return false;
    }
    return true;
}

}  // namespace cliptint::wayland
