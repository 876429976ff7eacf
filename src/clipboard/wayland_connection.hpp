#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "sys/deadline.hpp"

struct wl_display;
struct wl_interface;
struct wl_proxy;

namespace cliptint::wayland {

// The interfaces of one data-control protocol. ext-data-control-v1 and
// wlr-data-control-unstable-v1 have the same requests and events in the same order, so the code
// above this drives either one through the table of the protocol the compositor offers.
struct DataControlProtocol {
    std::string_view managerName;  // the global's name in the registry
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
};

// A proxy that sends its destroy request (when its interface has one) and frees itself.
class Proxy {
  public:
    Proxy() = default;
    Proxy(wl_proxy* proxy, std::optional<std::uint32_t> destroyOpcode)
        : proxy_(proxy), destroyOpcode_(destroyOpcode) {}
    Proxy(Proxy&& other) noexcept;
    Proxy& operator=(Proxy&& other) noexcept;
    ~Proxy() { reset(); }

    wl_proxy* get() const { return proxy_; }
    explicit operator bool() const { return proxy_ != nullptr; }
    void reset();

  private:
    wl_proxy* proxy_ = nullptr;
    std::optional<std::uint32_t> destroyOpcode_;
};

// The MIME types of one offer, as far as they matter here. Only flags and a count are kept, so an
// offer of any number of types costs no memory.
struct OfferTypes {
    bool png = false;
    bool tiff = false;
    std::uint32_t count = 0;  // saturates; only 0, 1 and "more" matter
};

// The events of a data source, laid out like the listeners that wayland-scanner generates for
// both protocols. The fd of send is the handler's to close.
struct SourceListener {
    void (*send)(void* data, wl_proxy* source, const char* mimeType, std::int32_t fd);
    void (*cancelled)(void* data, wl_proxy* source);
};

// One offer from the compositor with the types it announced.
struct Offer {
    Proxy proxy;
    std::unique_ptr<OfferTypes> types;
};

// What a data device has told about the selection. The compositor announces each new selection
// with a data_offer and its types, then a selection event naming that offer (or none).
struct SelectionWatch {
    std::optional<Offer> introduced;  // announced, not yet named by a selection event
    std::optional<Offer> current;     // the selection; empty when the clipboard holds nothing
    std::uint64_t selections = 0;     // selection events seen so far
    bool finished = false;            // the compositor withdrew the device
};

// A connection to a compositor that offers data control on a seat. Holds the protocol objects;
// everything is given back in the right order on destruction.
class Connection {
  public:
    // Connects the way every Wayland client does (libwayland picks the compositor) and binds the
    // data-control manager and the first seat. nullptr when there is no compositor, it offers no
    // data control or no seat, or it does not answer before the deadline.
    static std::unique_ptr<Connection> open(Deadline deadline);

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    const DataControlProtocol& protocol() const { return *protocol_; }
    wl_display* display() const { return display_; }

    // Waits until the compositor has handled every request sent so far and its answers have been
    // dispatched. false on a broken connection or a compositor that does not answer in time.
    bool roundtrip(Deadline deadline);

    // One turn of the event loop: sends pending requests, waits up to timeoutMs (-1: no limit) for
    // the compositor or any of the extra descriptors, and dispatches what arrived. The extra
    // descriptors' revents are filled in. false once the connection is broken.
    bool pump(std::span<pollfd> extra, int timeoutMs);

    // A data device on the seat, reporting into the watch (which must outlive the device).
    Proxy makeDevice(SelectionWatch& watch);

    // A new data source offering the MIME type, reporting to the listener with the data pointer
    // (both must outlive the source).
    Proxy makeSource(std::string_view mimeType, const SourceListener& listener, void* data);

    void setSelection(const Proxy& device, const Proxy& source);

    // Asks the offer's owner to write its data of the MIME type into fd, and sends the request
    // before the deadline.
    bool receive(const Offer& offer, std::string_view mimeType, int fd, Deadline deadline);

    struct Globals;  // what the registry announced

  private:
    Connection() = default;
    bool bindGlobals(Deadline deadline);

    wl_display* display_ = nullptr;
    Proxy registry_;
    Proxy seat_;
    Proxy manager_;
    const DataControlProtocol* protocol_ = nullptr;
    std::unique_ptr<Globals> globals_;
};

}  // namespace cliptint::wayland
