#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/x_display.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

inline constexpr char kNoPicture[] = "ERR no picture on the clipboard\n";

// Each test gets its own Xvfb, and the peers it starts are stopped before the display goes.
class X11Fixture : public testing::Test {
  protected:
    Xvfb xvfb;
    TempDir dir;
    XClient client{xvfb.display()};
    std::vector<std::unique_ptr<Background>> peers;

    ToolRun tool(const std::vector<std::string>& words,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        return runTool(words, timeout, xvfb.env());
    }

    // xclip, in the foreground, serves the bytes under the target until another client takes
    // the clipboard; returns once it owns it.
    void offerByXclip(const std::string& target, const std::string& bytes);

    // The test owner (see test_owner.cpp) in the mode, offering (target, bytes) pairs.
    void offerByTestOwner(const std::string& mode,
                          const std::vector<std::pair<std::string, std::string>>& offers);

    // The targets the test owner was asked for, one a line.
    std::string askedTargets() const { return readWholeFile(dir.file("asked.log")); }

    // What `xclip -o` reads from the clipboard under the target.
    std::string clipboardAs(const std::string& target);

    // The reply and OUT of the same words run with --file on the bytes.
    std::pair<std::string, std::string> fileRun(const std::string& bytes,
                                                const std::vector<std::string>& words);

  private:
    std::string save(const std::string& bytes);
    int saved_ = 0;
};

}  // namespace cliptint::test
