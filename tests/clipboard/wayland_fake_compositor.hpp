#pragma once

#include <memory>
#include <string>
#include <vector>

namespace cliptint::test {

// A compositor of the tests' own, on a thread of the test process: a seat, the data-control
// managers a test asks for, and one selection shared by all data devices, as the protocols
// describe. It reaches what a real sway 1.7 cannot show: the ext-data-control-v1 protocol, a
// compositor without data control (GNOME's mutter), one that refuses a new selection, and one
// that never passes a paste request on to the selection's owner.
class FakeCompositor {
  public:
    struct Options {
        bool ext = true;   // offers ext_data_control_manager_v1
        bool wlr = true;   // offers zwlr_data_control_manager_v1
        bool seat = true;  // offers a wl_seat
        // Cancels every new source at once and keeps the old selection.
        bool refuseSelections = false;
        // Keeps the pipe of every paste request open and never asks the owner for the data.
        bool holdPastes = false;
    };

    explicit FakeCompositor(Options options);
    FakeCompositor(const FakeCompositor&) = delete;
    FakeCompositor& operator=(const FakeCompositor&) = delete;
    ~FakeCompositor();

    // The listening socket, an absolute path for WAYLAND_DISPLAY.
    const std::string& socket() const;

    // The data-control manager interfaces that clients have bound so far, in order.
    std::vector<std::string> boundManagers() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace cliptint::test
