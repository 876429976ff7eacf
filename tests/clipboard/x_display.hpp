#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/run_tool.hpp"

namespace cliptint::test {

// A private Xvfb on a display number it picks itself (-displayfd), stopped on destruction, so the
// tests never touch the developer's display and can run side by side.
class Xvfb {
  public:
    Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    ~Xvfb();

    const std::string& display() const { return display_; }  // ":N"
    std::vector<std::string> env() const;                    // DISPLAY and PATH only

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// A program left running in the background with stdio on /dev/null, stopped on destruction.
class Background {
  public:
    Background(std::vector<std::string> argv, const std::vector<std::string>& env);
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background();

  private:
    pid_t pid_ = -1;
};

// True while the process exists and is not a zombie.
bool alive(pid_t pid);
// Waits up to the timeout for the process to end.
bool awaitExit(pid_t pid, std::chrono::milliseconds timeout);
// The tool's own processes that run on the display: its detached clipboard owners.
std::vector<pid_t> toolProcessesOn(const std::string& display);

// A connection of the test's own to the display.
class XClient {
  public:
    explicit XClient(const std::string& display);
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;
    ~XClient();

    xcb_connection_t* c() const { return c_; }
    xcb_window_t window() const { return window_; }  // unmapped, selects PropertyChange
    xcb_atom_t atom(const std::string& name);
    std::string atomName(xcb_atom_t atom);

    xcb_window_t clipboardOwner();
    // ConvertSelection of CLIPBOARD; the property of the answer (XCB_NONE for a refusal), or
    // nullopt when none comes within 5 s.
    std::optional<xcb_atom_t> convert(xcb_atom_t target, xcb_atom_t property);
    // Waits up to 5 s for the property on our window to reach the state.
    bool awaitProperty(xcb_atom_t property, std::uint8_t state);

    struct Property {
        xcb_atom_t type = XCB_NONE;
        std::uint8_t format = 0;
        std::string bytes;
    };
    Property read(xcb_atom_t property);  // whole, up to 64 MB
    void write32(xcb_atom_t property, xcb_atom_t type, const std::vector<std::uint32_t>& items);

  private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = XCB_NONE;
};

// Waits up to 5 s until CLIPBOARD is owned by a window other than `before`.
bool awaitNewOwner(XClient& client, xcb_window_t before);

}  // namespace cliptint::test
