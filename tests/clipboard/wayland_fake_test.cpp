// The Wayland backend, in this process, against a compositor of the tests' own on a thread of
// it, for what the real sway, KWin and mutter here cannot show: ext-data-control-v1 (with
// wlr-data-control-v1 offered beside it, as a decoy that ends any client binding it), a compositor
// without a seat, one that refuses a new selection, and one that ends data devices. (mutter shows
// the compositor without data control: there the tool goes to XWayland.) And on the real sway,
// what a handed-over connection allows.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-server.h>

#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "clipboard/desktop.hpp"
#include "clipboard/wayland_clipboard.hpp"
#include "ext-data-control-v1-server-protocol.h"
#include "wlr-data-control-unstable-v1-server-protocol.h"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

// How the compositor departs from a sound one: it offers no wl_seat, cancels every new source at
// once, or ends every data device as soon as it is made.
enum class Quirk { none, noSeat, refuseSelections, finishDevices };

// What the compositor's thread works on.
struct {
    Quirk quirk;
    wl_resource* selection = nullptr;
    std::vector<wl_resource*> devices;
    std::map<wl_resource*, std::vector<std::string>> types;  // of each source
} state;

void destroy(wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
}

// Every offer stands for the current selection: the tests read only the newest one.
void receive(wl_client*, wl_resource*, const char* mimeType, std::int32_t fd) {
    if (state.selection != nullptr)
        ext_data_control_source_v1_send_send(state.selection, mimeType, fd);
    ::close(fd);
}
const struct ext_data_control_offer_v1_interface kOffer { receive, destroy };

// As every compositor does: each device learns the selection when it is made and when it changes.
void announce(wl_resource* device) {
    if (state.selection == nullptr)
        return ext_data_control_device_v1_send_selection(device, nullptr);
    wl_resource* offer = wl_resource_create(wl_resource_get_client(device),
                                            &ext_data_control_offer_v1_interface, 1, 0);
    wl_resource_set_implementation(offer, &kOffer, nullptr, nullptr);
    ext_data_control_device_v1_send_data_offer(device, offer);
    for (const auto& type : state.types[state.selection])
        ext_data_control_offer_v1_send_offer(offer, type.c_str());
    ext_data_control_device_v1_send_selection(device, offer);
}
void announceAll() {
    for (wl_resource* device : state.devices)
        announce(device);
}

void offerType(wl_client*, wl_resource* source, const char* mimeType) {
    state.types[source].emplace_back(mimeType);
}
const struct ext_data_control_source_v1_interface kSource { offerType, destroy };
void forgetSource(wl_resource* source) {
    state.types.erase(source);
    if (state.selection != source) return;
    state.selection = nullptr;
    announceAll();
}

void setSelection(wl_client*, wl_resource*, wl_resource* source) {
    if (state.quirk == Quirk::refuseSelections)
        return ext_data_control_source_v1_send_cancelled(source);
    if (state.selection != nullptr && state.selection != source)
        ext_data_control_source_v1_send_cancelled(state.selection);
    state.selection = source;
    announceAll();
}
// The tool never sets the primary selection.
const struct ext_data_control_device_v1_interface kDevice { setSelection, destroy, nullptr };

void createSource(wl_client* client, wl_resource*, std::uint32_t id) {
    wl_resource_set_implementation(
        wl_resource_create(client, &ext_data_control_source_v1_interface, 1, id), &kSource, nullptr,
        forgetSource);
}
void getDevice(wl_client* client, wl_resource*, std::uint32_t id, wl_resource*) {
    wl_resource* device = wl_resource_create(client, &ext_data_control_device_v1_interface, 1, id);
    wl_resource_set_implementation(device, &kDevice, nullptr,
                                   [](wl_resource* gone) { std::erase(state.devices, gone); });
    state.devices.push_back(device);
    announce(device);
    if (state.quirk == Quirk::finishDevices) ext_data_control_device_v1_send_finished(device);
}
const struct ext_data_control_manager_v1_interface kManager { createSource, getDevice, destroy };

void bindExt(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
    wl_resource_set_implementation(
        wl_resource_create(client, &ext_data_control_manager_v1_interface, 1, id), &kManager,
        nullptr, nullptr);
}
void bindWlrDecoy(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource_post_error(wl_resource_create(client, &zwlr_data_control_manager_v1_interface,
                                              static_cast<int>(version), id),
                           0, "bound wlr-data-control although ext-data-control is here");
}

// The seat only names itself to get_data_device: at version 1 a client has no request to make of it
// but for input devices, which the tool never asks for.
void bindSeat(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
    wl_resource_create(client, &wl_seat_interface, 1, id);
}

// The compositor, which this process connects to the way every client does. One at a time.
class FakeCompositor {
  public:
    explicit FakeCompositor(Quirk quirk) {
        state = {quirk, nullptr, {}, {}};
        if (wl_display_add_socket(display_, socket_.c_str()) != 0)
            throw std::runtime_error("cannot listen on " + socket_);
        if (quirk != Quirk::noSeat)
            wl_global_create(display_, &wl_seat_interface, 1, nullptr, bindSeat);
        wl_global_create(display_, &ext_data_control_manager_v1_interface, 1, nullptr, bindExt);
        wl_global_create(display_, &zwlr_data_control_manager_v1_interface, 2, nullptr,
                         bindWlrDecoy);
        thread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                wl_display_flush_clients(display_);
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 50);
            }
        });
        ::setenv("WAYLAND_DISPLAY", socket_.c_str(), 1);
    }
    ~FakeCompositor() {
        ::unsetenv("WAYLAND_DISPLAY");
        thread_ = {};
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
    }

  private:
    TempDir dir_;
    std::string socket_ = dir_.file("wayland-fake");
    wl_display* display_ = wl_display_create();
    std::jthread thread_;
};

// A write, and then a read by another client; the owners left behind end with the compositor.
TEST(WaylandFake, WorksThroughExtDataControlOrFailsAsTheCompositorMakesIt) {
    struct Case {
        const char* name;
        Quirk quirk;
        const char* write;  // "" for success, else the failure; nullptr: not tried
        std::string read;   // "" for the written bytes, else the failure or "none"
    };
    const Case cases[] = {
        {"ext-data-control", Quirk::none, "", ""},
        {"no seat", Quirk::noSeat, "no service", "no service"},
        {"refused selection", Quirk::refuseSelections, "write", "none"},
        {"ended device", Quirk::finishDevices, nullptr, "no clipboard"},
    };
    const Bytes png = {0x89, 'P', 'N', 'G'};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            FakeCompositor compositor(c.quirk);
            auto writer = connectWaylandClipboard(), reader = connectWaylandClipboard();
            if (c.write != nullptr) {
                const auto written =
                    writer ? writeClipboard(*writer, png) : std::unexpected("no service");
                EXPECT_EQ(written ? "" : written.error(), c.write);
                // An owner serves the selection exactly when the write succeeded.
                EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG) == 0, written.has_value());
            }
            const auto read = reader ? readClipboard(*reader) : std::unexpected("no service");
            EXPECT_EQ(!read ? read.error() : *read == png ? "" : *read ? "other" : "none", c.read);
        }
        EXPECT_TRUE(await([] { return ::waitpid(-1, nullptr, WNOHANG) < 0; }, 10s))
            << "an owner outlived its compositor";
    }
}

// On the real sway: a session that hands the tool its connection as WAYLAND_SOCKET: the socket
// serves one process, so the detached owner would have to reach a compositor by another way
// (WAYLAND_DISPLAY, here the same one) that the session did not give. Reading works; painting is
// "ERR write".
TEST(WaylandPeer, HandedOverSocketReadsButDoesNotPaint) {
    Desktop desktop(Backend::wayland);
    const std::string glyph = readWholeFile(testData("icc-glyph.png"));
    desktop.copy("image/png", glyph);
    const auto handOver = [&](const std::vector<std::string>& words) {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        desktop.env()[0].copy(address.sun_path, sizeof address.sun_path - 1, 16);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);  // inherited by the tool
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const auto run =
            runTool(words, 60s,
                    {desktop.env()[0], desktop.env()[1], "WAYLAND_SOCKET=" + std::to_string(fd)});
        ::close(fd);
        return run.out;
    };
    EXPECT_EQ(handOver({"probe"}), runTool({"probe"}, 60s, desktop.env()).out);
    EXPECT_EQ(handOver({"paint", "3366cc"}), "ERR write\n");
    EXPECT_TRUE(desktop.paste("image/png") == glyph);
    EXPECT_TRUE(desktop.running(CLIPTINT_BINARY).empty());
}

}  // namespace
}  // namespace cliptint::test
