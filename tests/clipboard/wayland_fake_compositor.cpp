#include "clipboard/wayland_fake_compositor.hpp"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "ext-data-control-v1-server-protocol.h"
#include "support/run_tool.hpp"
#include "wlr-data-control-unstable-v1-server-protocol.h"

namespace cliptint::test {

struct FakeCompositor::State {
    Options options;
    TempDir dir;
    std::string socket = dir.file("wayland-fake");
    wl_display* display = wl_display_create();
    int stopFd = ::eventfd(0, EFD_CLOEXEC);
    wl_event_source* stopSource = nullptr;
    std::thread thread;

    // Touched on the compositor's thread only. A source or an offer is known by its serial.
    struct Source {
        wl_resource* resource;
        std::vector<std::string> types;
    };
    std::map<std::uintptr_t, Source> sources;
    std::uintptr_t selection = 0, nextSource = 1;
    std::vector<wl_resource*> devices;
};

namespace {

FakeCompositor::State* state = nullptr;

std::uintptr_t serialOf(wl_resource* resource) {
    return reinterpret_cast<std::uintptr_t>(wl_resource_get_user_data(resource));
}
void* asData(std::uintptr_t serial) {
    return reinterpret_cast<void*>(serial);
}
void destroy(wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
}

void receive(wl_client*, wl_resource* offer, const char* mimeType, std::int32_t fd) {
    const auto source = state->sources.find(serialOf(offer));
    if (source != state->sources.end())
        ext_data_control_source_v1_send_send(source->second.resource, mimeType, fd);
    ::close(fd);
}
const struct ext_data_control_offer_v1_interface kOffer { receive, destroy };

// As every compositor does: each device learns the selection when it is made and when it changes.
void announce(wl_resource* device) {
    const auto source = state->sources.find(state->selection);
    if (source == state->sources.end())
        return ext_data_control_device_v1_send_selection(device, nullptr);
    wl_resource* offer = wl_resource_create(wl_resource_get_client(device),
                                            &ext_data_control_offer_v1_interface, 1, 0);
    wl_resource_set_implementation(offer, &kOffer, asData(source->first), nullptr);
    ext_data_control_device_v1_send_data_offer(device, offer);
    for (const auto& type : source->second.types)
        ext_data_control_offer_v1_send_offer(offer, type.c_str());
    ext_data_control_device_v1_send_selection(device, offer);
}
void announceAll() {
    for (wl_resource* device : state->devices)
        announce(device);
}

void offerType(wl_client*, wl_resource* source, const char* mimeType) {
    state->sources.at(serialOf(source)).types.emplace_back(mimeType);
}
const struct ext_data_control_source_v1_interface kSource { offerType, destroy };

void forgetSource(wl_resource* source) {
    state->sources.erase(serialOf(source));
    if (state->selection != serialOf(source)) return;
    state->selection = 0;
    announceAll();
}

void setSelection(wl_client*, wl_resource*, wl_resource* source) {
    if (source == nullptr) return;
    if (state->options.refuseSelections) return ext_data_control_source_v1_send_cancelled(source);
    const auto previous = state->sources.find(std::exchange(state->selection, serialOf(source)));
    if (previous != state->sources.end() && previous->first != state->selection)
        ext_data_control_source_v1_send_cancelled(previous->second.resource);
    announceAll();
}
void ignorePrimary(wl_client*, wl_resource*, wl_resource*) {}
const struct ext_data_control_device_v1_interface kDevice { setSelection, destroy, ignorePrimary };

void forgetDevice(wl_resource* device) {
    std::erase(state->devices, device);
}

void createSource(wl_client* client, wl_resource*, std::uint32_t id) {
    wl_resource* source = wl_resource_create(client, &ext_data_control_source_v1_interface, 1, id);
    const std::uintptr_t serial = state->nextSource++;
    state->sources[serial] = {source, {}};
    wl_resource_set_implementation(source, &kSource, asData(serial), forgetSource);
}
void getDevice(wl_client* client, wl_resource*, std::uint32_t id, wl_resource*) {
    wl_resource* device = wl_resource_create(client, &ext_data_control_device_v1_interface, 1, id);
    wl_resource_set_implementation(device, &kDevice, nullptr, forgetDevice);
    state->devices.push_back(device);
    announce(device);
    if (state->options.finishDevices) ext_data_control_device_v1_send_finished(device);
}
const struct ext_data_control_manager_v1_interface kManager { createSource, getDevice, destroy };

void bindExt(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
    wl_resource* manager =
        wl_resource_create(client, &ext_data_control_manager_v1_interface, 1, id);
    wl_resource_set_implementation(manager, &kManager, nullptr, nullptr);
}
void bindWlrDecoy(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource* manager = wl_resource_create(client, &zwlr_data_control_manager_v1_interface,
                                              static_cast<int>(version), id);
    wl_resource_post_error(manager, 0, "bound wlr-data-control although ext-data-control is here");
}

void noDevice(wl_client*, wl_resource*, std::uint32_t) {}
const struct wl_seat_interface kSeat { noDevice, noDevice, noDevice, destroy };
void bindSeat(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
    wl_resource_set_implementation(wl_resource_create(client, &wl_seat_interface, 1, id), &kSeat,
                                   nullptr, nullptr);
}

int stop(int, std::uint32_t, void* display) {
    wl_display_terminate(static_cast<wl_display*>(display));
    return 0;
}

}  // namespace

FakeCompositor::FakeCompositor(Options options) : state_(std::make_unique<State>()) {
    state = state_.get();
    state->options = options;
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::memcpy(address.sun_path, state->socket.c_str(), state->socket.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (state->socket.size() >= sizeof address.sun_path ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 128) != 0 || wl_display_add_socket_fd(state->display, fd) != 0) {
        throw std::runtime_error("cannot listen on " + state->socket);
    }
    if (options.seat) wl_global_create(state->display, &wl_seat_interface, 1, nullptr, bindSeat);
    if (options.dataControl) {
        wl_global_create(state->display, &ext_data_control_manager_v1_interface, 1, nullptr,
                         bindExt);
        wl_global_create(state->display, &zwlr_data_control_manager_v1_interface, 2, nullptr,
                         bindWlrDecoy);
    }
    state->stopSource =
        wl_event_loop_add_fd(wl_display_get_event_loop(state->display), state->stopFd,
                             WL_EVENT_READABLE, stop, state->display);
    state->thread = std::thread([display = state->display] { wl_display_run(display); });
}

FakeCompositor::~FakeCompositor() {
    const std::uint64_t one = 1;
    if (::write(state->stopFd, &one, sizeof one) != sizeof one) std::abort();
    state->thread.join();
    wl_event_source_remove(state->stopSource);
    wl_display_destroy_clients(state->display);
    wl_display_destroy(state->display);
    ::close(state->stopFd);
    state = nullptr;
}

const std::string& FakeCompositor::socket() const {
    return state_->socket;
}

}  // namespace cliptint::test
