#pragma once

#include <memory>
#include <string>

namespace cliptint::test {

// A compositor of the tests' own, on a thread of the test process, for what a real sway 1.7
// cannot show: ext-data-control-v1 (with wlr-data-control-v1 offered beside it, as a decoy that
// ends any client binding it), a compositor without data control (GNOME's mutter) or without a
// seat, one that refuses a new selection, and one that ends data devices. One at a time.
class FakeCompositor {
  public:
    struct Options {
        bool dataControl = true;        // offers the ext manager and the wlr decoy
        bool seat = true;               // offers a wl_seat
        bool refuseSelections = false;  // cancels every new source at once
        bool finishDevices = false;     // ends every data device as soon as it is made
    };

    explicit FakeCompositor(Options options);
    FakeCompositor(const FakeCompositor&) = delete;
    FakeCompositor& operator=(const FakeCompositor&) = delete;
    ~FakeCompositor();

    // The listening socket, an absolute path for WAYLAND_DISPLAY.
    const std::string& socket() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace cliptint::test
