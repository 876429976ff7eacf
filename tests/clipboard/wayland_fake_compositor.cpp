#include "clipboard/wayland_fake_compositor.hpp"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "ext-data-control-v1-server-protocol.h"
#include "wlr-data-control-unstable-v1-server-protocol.h"

namespace cliptint::test {

namespace {

// The ext event senders below serve the wlr objects too: both protocols number alike.
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DATA_OFFER == ZWLR_DATA_CONTROL_DEVICE_V1_DATA_OFFER);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SELECTION);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_SEND == ZWLR_DATA_CONTROL_SOURCE_V1_SEND);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_CANCELLED == ZWLR_DATA_CONTROL_SOURCE_V1_CANCELLED);
static_assert(EXT_DATA_CONTROL_OFFER_V1_OFFER == ZWLR_DATA_CONTROL_OFFER_V1_OFFER);

struct Protocol {
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
    int version;
};

const Protocol kExt{&ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
                    &ext_data_control_source_v1_interface, &ext_data_control_offer_v1_interface, 1};
const Protocol kWlr{&zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
                    &zwlr_data_control_source_v1_interface, &zwlr_data_control_offer_v1_interface,
                    2};

}  // namespace

struct FakeCompositor::State {
    struct Source {
        wl_resource* resource;
        std::vector<std::string> types;
    };
    struct Binding {
        State* state;
        const Protocol* protocol;
    };
    struct Device {
        wl_resource* resource;
        const Protocol* protocol;
    };
    struct Handle {  // user data of a source or an offer: which source it stands for
        State* state;
        std::uint64_t source;
    };

    Options options;
    std::string dir, socket;
    wl_display* display = nullptr;
    int stopFd = -1;
    wl_event_source* stopSource = nullptr;
    std::thread thread;
    Binding ext{this, &kExt}, wlr{this, &kWlr};

    mutable std::mutex mutex;  // guards bound, which the test thread reads
    std::vector<std::string> bound;

    // Touched on the compositor's thread only.
    std::map<std::uint64_t, Source> sources;
    std::optional<std::uint64_t> selection;
    std::vector<Device> devices;
    std::vector<int> heldPastes;
    std::uint64_t nextSource = 1;

    void sendSelection(const Device& device);
    void announceSelection() {
        for (const auto& device : devices)
            sendSelection(device);
    }
    void setSelection(std::optional<std::uint64_t> next);
};

namespace {

using State = FakeCompositor::State;

State::Handle* handleOf(wl_resource* resource) {
    return static_cast<State::Handle*>(wl_resource_get_user_data(resource));
}
void destroyResource(wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
}
void freeHandle(wl_resource* resource) {
    delete handleOf(resource);
}

void receive(wl_client*, wl_resource* offer, const char* mimeType, std::int32_t fd) {
    State& state = *handleOf(offer)->state;
    if (state.options.holdPastes) {
        state.heldPastes.push_back(fd);
        return;
    }
    const auto source = state.sources.find(handleOf(offer)->source);
    if (source != state.sources.end()) {
        ext_data_control_source_v1_send_send(source->second.resource, mimeType, fd);
    }
    ::close(fd);
}
// The offer's requests: receive, destroy (the same in both protocols).
const struct ext_data_control_offer_v1_interface kOfferImplementation { receive, destroyResource };

void offerType(wl_client*, wl_resource* source, const char* mimeType) {
    State::Handle& handle = *handleOf(source);
    handle.state->sources.at(handle.source).types.emplace_back(mimeType);
}
const struct ext_data_control_source_v1_interface kSourceImplementation {
    offerType, destroyResource
};

void forgetSource(wl_resource* resource) {
    State::Handle* handle = handleOf(resource);
    State& state = *handle->state;
    state.sources.erase(handle->source);
    if (state.selection == handle->source) {
        state.selection.reset();
        state.announceSelection();
    }
    delete handle;
}

void setSelectionRequest(wl_client*, wl_resource*, wl_resource* source) {
    if (source == nullptr) return;
    State& state = *handleOf(source)->state;
    if (state.options.refuseSelections) {
        ext_data_control_source_v1_send_cancelled(source);
        return;
    }
    state.setSelection(handleOf(source)->source);
}
void ignorePrimary(wl_client*, wl_resource*, wl_resource*) {}
const struct ext_data_control_device_v1_interface kDeviceImplementation {
    setSelectionRequest, destroyResource, ignorePrimary
};

State::Binding* bindingOf(wl_resource* resource) {
    return static_cast<State::Binding*>(wl_resource_get_user_data(resource));
}

void forgetDevice(wl_resource* resource) {
    auto& devices = bindingOf(resource)->state->devices;
    std::erase_if(devices, [resource](const auto& device) { return device.resource == resource; });
}

void createSource(wl_client* client, wl_resource* manager, std::uint32_t id) {
    State::Binding& binding = *bindingOf(manager);
    State& state = *binding.state;
    wl_resource* source =
        wl_resource_create(client, binding.protocol->source, wl_resource_get_version(manager), id);
    const std::uint64_t serial = state.nextSource++;
    state.sources[serial] = {source, {}};
    wl_resource_set_implementation(source, &kSourceImplementation,
                                   new State::Handle{&state, serial}, forgetSource);
}

void getDevice(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource*) {
    State::Binding& binding = *bindingOf(manager);
    wl_resource* device =
        wl_resource_create(client, binding.protocol->device, wl_resource_get_version(manager), id);
    wl_resource_set_implementation(device, &kDeviceImplementation, &binding, forgetDevice);
    binding.state->devices.push_back({device, binding.protocol});
    // As every compositor does: a new device learns the current selection at once.
    binding.state->sendSelection(binding.state->devices.back());
}
const struct ext_data_control_manager_v1_interface kManagerImplementation {
    createSource, getDevice, destroyResource
};

void bindManager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
    State::Binding& binding = *static_cast<State::Binding*>(data);
    {
        std::lock_guard lock(binding.state->mutex);
        binding.state->bound.emplace_back(binding.protocol->manager->name);
    }
    wl_resource* manager =
        wl_resource_create(client, binding.protocol->manager, static_cast<int>(version), id);
    wl_resource_set_implementation(manager, &kManagerImplementation, &binding, nullptr);
}

void noInputDevice(wl_client*, wl_resource*, std::uint32_t) {}
const struct wl_seat_interface kSeatImplementation {
    noInputDevice, noInputDevice, noInputDevice, destroyResource
};

void bindSeat(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource* seat =
        wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
    wl_resource_set_implementation(seat, &kSeatImplementation, nullptr, nullptr);
}

int stop(int, std::uint32_t, void* display) {
    wl_display_terminate(static_cast<wl_display*>(display));
    return 0;
}

int listenOn(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 128) != 0) {
        throw std::runtime_error("cannot listen on " + path);
    }
    return fd;
}

}  // namespace

void State::sendSelection(const Device& device) {
    const auto source = selection ? sources.find(*selection) : sources.end();
    if (source == sources.end()) {
        ext_data_control_device_v1_send_selection(device.resource, nullptr);
        return;
    }
    wl_resource* offer =
        wl_resource_create(wl_resource_get_client(device.resource), device.protocol->offer,
                           wl_resource_get_version(device.resource), 0);
    wl_resource_set_implementation(offer, &kOfferImplementation, new Handle{this, source->first},
                                   freeHandle);
    ext_data_control_device_v1_send_data_offer(device.resource, offer);
    for (const auto& type : source->second.types) {
        ext_data_control_offer_v1_send_offer(offer, type.c_str());
    }
    ext_data_control_device_v1_send_selection(device.resource, offer);
}

void State::setSelection(std::optional<std::uint64_t> next) {
    const auto previous = selection;
    selection = next;
    if (previous && previous != next) {
        const auto old = sources.find(*previous);
        if (old != sources.end()) ext_data_control_source_v1_send_cancelled(old->second.resource);
    }
    announceSelection();
}

FakeCompositor::FakeCompositor(Options options) : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.options = options;
    const char* base = std::getenv("TMPDIR");
    state.dir = std::string(base != nullptr ? base : "/tmp") + "/cliptint-fake-XXXXXX";
    if (::mkdtemp(state.dir.data()) == nullptr) throw std::runtime_error("mkdtemp");
    state.socket = state.dir + "/wayland-fake";

    state.display = wl_display_create();
    if (wl_display_add_socket_fd(state.display, listenOn(state.socket)) != 0) {
        throw std::runtime_error("wl_display_add_socket_fd");
    }
    if (options.seat) wl_global_create(state.display, &wl_seat_interface, 1, nullptr, bindSeat);
    if (options.ext) {
        wl_global_create(state.display, kExt.manager, kExt.version, &state.ext, bindManager);
    }
    if (options.wlr) {
        wl_global_create(state.display, kWlr.manager, kWlr.version, &state.wlr, bindManager);
    }
    state.stopFd = ::eventfd(0, EFD_CLOEXEC);
    state.stopSource = wl_event_loop_add_fd(wl_display_get_event_loop(state.display), state.stopFd,
                                            WL_EVENT_READABLE, stop, state.display);
    state.thread = std::thread([display = state.display] { wl_display_run(display); });
}

FakeCompositor::~FakeCompositor() {
    State& state = *state_;
    const std::uint64_t one = 1;
    if (::write(state.stopFd, &one, sizeof one) != sizeof one) std::abort();
    state.thread.join();
    wl_event_source_remove(state.stopSource);
    wl_display_destroy_clients(state.display);
    wl_display_destroy(state.display);
    ::close(state.stopFd);
    for (int fd : state.heldPastes)
        ::close(fd);
    std::error_code ignored;
    std::filesystem::remove_all(state.dir, ignored);
}

const std::string& FakeCompositor::socket() const {
    return state_->socket;
}

std::vector<std::string> FakeCompositor::boundManagers() const {
    std::lock_guard lock(state_->mutex);
    return state_->bound;
}

}  // namespace cliptint::test
