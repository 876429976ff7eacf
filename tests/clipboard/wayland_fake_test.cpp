// The Wayland backend against the tests' own compositor: the protocol choice, compositors that
// cannot serve, and owners or compositors that misbehave.

#include <gtest/gtest.h>

#include <cstdlib>

#include "clipboard/choose_clipboard.hpp"
#include "clipboard/wayland_clipboard.hpp"
#include "clipboard/wayland_fake_compositor.hpp"
#include "clipboard/wayland_test_support.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kExt = "ext_data_control_manager_v1";
constexpr const char* kWlr = "zwlr_data_control_manager_v1";

// Points this process at the fake compositor for the test's length.
class UseCompositor {
  public:
    explicit UseCompositor(const FakeCompositor& compositor) {
        if (const char* value = std::getenv("WAYLAND_DISPLAY")) saved_ = value;
        ::setenv("WAYLAND_DISPLAY", compositor.socket().c_str(), 1);
    }
    ~UseCompositor() {
        if (saved_) {
            ::setenv("WAYLAND_DISPLAY", saved_->c_str(), 1);
        } else {
            ::unsetenv("WAYLAND_DISPLAY");
        }
    }

  private:
    std::optional<std::string> saved_;
};

// Serving processes end when their compositor goes; this reaps them afterwards.
void reapServers(const std::vector<pid_t>& servers) {
    for (pid_t server : servers)
        EXPECT_TRUE(reaped(server, 10s));
}

struct ProtocolCase {
    bool ext, wlr;
    const char* bound;
};

TEST(WaylandFake, BindsExtWhenOfferedElseWlrAndWorksThroughEither) {
    const ProtocolCase cases[] = {{true, true, kExt}, {true, false, kExt}, {false, true, kWlr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bound);
        const std::string png = noise(300'000, 11);
        std::vector<pid_t> servers;
        {
            FakeCompositor compositor({.ext = c.ext, .wlr = c.wlr});
            UseCompositor use(compositor);
            auto writer = connectWaylandClipboard();
            ASSERT_NE(writer, nullptr);
            const auto written = writeClipboard(*writer, asBytes(png));
            ASSERT_TRUE(written) << written.error();
            servers = liveChildren(-1);
            EXPECT_EQ(servers.size(), 1u);

            auto reader = connectWaylandClipboard();
            ASSERT_NE(reader, nullptr);
            const auto data = readClipboard(*reader);
            ASSERT_TRUE(data && *data);
            EXPECT_TRUE(std::string((*data)->begin(), (*data)->end()) == png);
            // At least the serving process and the reader bound a manager, each the same one.
            const auto bound = compositor.boundManagers();
            EXPECT_GE(bound.size(), 2u);
            for (const auto& manager : bound)
                EXPECT_EQ(manager, c.bound);
        }
        reapServers(servers);
    }
}

struct UnusableCase {
    const char* name;
    FakeCompositor::Options options;
};

// GNOME's mutter offers no data control: the run has to go to X11 (XWayland) instead.
TEST(WaylandFake, CompositorWithoutDataControlOrSeatIsLeftToTheNextService) {
    const UnusableCase cases[] = {
        {"no data control", {.ext = false, .wlr = false}},
        {"no seat", {.seat = false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCompositor compositor(c.options);
        UseCompositor use(compositor);
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

TEST(WaylandFake, RefusedSelectionIsAWriteFailureAndLeavesNoServer) {
    FakeCompositor compositor({.refuseSelections = true});
    UseCompositor use(compositor);
    auto pb = connectWaylandClipboard();
    ASSERT_NE(pb, nullptr);
    const auto written = writeClipboard(*pb, asBytes(noise(100, 12)));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "write");
    EXPECT_TRUE(liveChildren(-1).empty());
}

TEST(WaylandFake, PasteThatNeverArrivesEndsTheReadInTime) {
    std::vector<pid_t> servers;
    {
        FakeCompositor compositor({.holdPastes = true});
        UseCompositor use(compositor);
        auto writer = connectWaylandClipboard();
        ASSERT_NE(writer, nullptr);
        ASSERT_TRUE(writeClipboard(*writer, asBytes(noise(100, 13))));
        servers = liveChildren(-1);

        auto reader = connectWaylandClipboard();
        ASSERT_NE(reader, nullptr);
        const auto data = readClipboard(*reader);
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error(), "no picture on the clipboard");
    }
    reapServers(servers);
}

}  // namespace
}  // namespace cliptint::test
