// The Wayland backend, in this process, against the tests' own compositor: what sway 1.7 cannot
// show.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "clipboard/choose_clipboard.hpp"
#include "clipboard/wayland_clipboard.hpp"
#include "clipboard/wayland_fake_compositor.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

// A compositor of the tests' own that this process connects to, the way every client does.
struct UseCompositor : FakeCompositor {
    explicit UseCompositor(Options options) : FakeCompositor(options) {
        ::setenv("WAYLAND_DISPLAY", socket().c_str(), 1);
    }
    ~UseCompositor() { ::unsetenv("WAYLAND_DISPLAY"); }
};

// This process's children that have not ended: the detached owners it started.
std::vector<pid_t> liveChildren() {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = readWholeFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 4 > stat.size() || stat[close + 2] == 'Z')
            continue;
        if (std::atoi(stat.c_str() + close + 4) == ::getpid()) children.push_back(std::stoi(name));
    }
    return children;
}

// Owners end when their compositor goes; waits up to 10 s for each and reaps it.
void reap(const std::vector<pid_t>& owners) {
    for (const pid_t owner : owners) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (::waitpid(owner, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(::kill(owner, 0), -1) << "owner " << owner << " still there";
    }
}

// The decoy wlr manager beside it ends a client that binds it instead.
TEST(WaylandFake, BindsExtDataControlWhenOfferedAndWorksThroughIt) {
    std::string png(300'000, '\0');  // more than a pipe holds
    for (std::size_t i = 0; i < png.size(); ++i)
        png[i] = static_cast<char>(i * 7919 >> 3);
    std::vector<pid_t> owners;
    {
        UseCompositor compositor({});
        auto writer = connectWaylandClipboard();
        ASSERT_NE(writer, nullptr);
        const auto written = writeClipboard(
            *writer, {reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
        ASSERT_TRUE(written) << written.error();
        owners = liveChildren();
        EXPECT_EQ(owners.size(), 1u);
        auto reader = connectWaylandClipboard();
        ASSERT_NE(reader, nullptr);
        const auto data = readClipboard(*reader);
        ASSERT_TRUE(data && *data) << (data ? "no picture" : data.error());
        EXPECT_TRUE(std::string((*data)->begin(), (*data)->end()) == png);
    }
    reap(owners);
}

// GNOME's mutter offers no data control: the run has to go to X11 (XWayland) instead.
TEST(WaylandFake, CompositorWithoutDataControlOrSeatIsLeftToTheNextService) {
    const FakeCompositor::Options cases[] = {{.dataControl = false}, {.seat = false}};
    for (const auto& options : cases) {
        SCOPED_TRACE(options.seat ? "no data control" : "no seat");
        UseCompositor compositor(options);
        EXPECT_EQ(connectWaylandClipboard(), nullptr);
        int fallbacks = 0;
        const auto pb = chooseClipboard({connectWaylandClipboard, [&fallbacks] {
                                             ++fallbacks;
                                             return std::unique_ptr<Clipboard>();
                                         }});
        EXPECT_EQ(pb->dataForType(PictureType::png).error(), "no clipboard");
        EXPECT_EQ(fallbacks, 1);
    }
}

// The owner is started and learns that its selection was cancelled at once.
TEST(WaylandFake, RefusedSelectionIsAWriteFailureAndLeavesNoOwner) {
    UseCompositor compositor({.refuseSelections = true});
    auto pb = connectWaylandClipboard();
    ASSERT_NE(pb, nullptr);
    const std::uint8_t png[] = {1, 2, 3};
    const auto written = writeClipboard(*pb, png);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "write");
    EXPECT_TRUE(liveChildren().empty());
}

// The device ended (its seat went away, say): there is no clipboard to read any more.
TEST(WaylandFake, EndedDataDeviceIsNoClipboard) {
    UseCompositor compositor({.finishDevices = true});
    auto pb = connectWaylandClipboard();
    ASSERT_NE(pb, nullptr);
    const auto read = readClipboard(*pb);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), "no clipboard");
}

}  // namespace
}  // namespace cliptint::test
