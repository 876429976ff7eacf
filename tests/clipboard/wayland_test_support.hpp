#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "clipboard/wayland_sway.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

// Reproducible incompressible bytes.
std::string noise(std::size_t size, unsigned seed);

inline std::span<const std::uint8_t> asBytes(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Children of this process that are still running (not yet exited), but the one left out.
std::vector<pid_t> liveChildren(pid_t leftOut);

// Waits up to the timeout for the child to exit and reaps it.
bool reaped(pid_t child, std::chrono::milliseconds timeout);

// A test with its own headless sway, and wl-clipboard to look at its selection.
class WaylandTest : public ::testing::Test {
  protected:
    WaylandTest();
    ~WaylandTest() override;

    // wl-copy puts the bytes on the clipboard under the MIME type (it serves them from a
    // background process of its own).
    ToolRun copy(const std::string& mimeType, const std::string& bytes);
    // What wl-paste gets under the MIME type; empty when nothing is offered under it.
    std::string paste(const std::string& mimeType);
    // wl-paste --list-types: one offered type a line.
    std::string types();

    HeadlessSway sway_;

  private:
    std::optional<std::string> waylandDisplay_, display_;  // this process's, restored afterwards
};

}  // namespace cliptint::test
