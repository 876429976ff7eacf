// The Wayland backend against a real headless sway, with wl-clipboard's wl-copy and wl-paste as
// the independent peer. These tests use the backend directly; wayland_run_test.cpp runs the tool.

#include "clipboard/wayland_clipboard.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "clipboard/wayland_sway.hpp"
#include "clipboard/wayland_test_support.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

class WaylandClipboardTest : public WaylandTest {
  protected:
    // The backend connects the way every Wayland client does, so this process is pointed at the
    // test compositor, and away from any X display.
    void SetUp() override {
        ::setenv("WAYLAND_DISPLAY", sway_.socket().c_str(), 1);
        ::unsetenv("DISPLAY");
    }

    std::unique_ptr<Clipboard> connect() {
        auto pb = connectWaylandClipboard();
        if (pb == nullptr) ADD_FAILURE() << "no Wayland clipboard on " << sway_.socket();
        return pb;
    }
};

struct ReadCase {
    const char* name;
    const char* offeredType;
    std::optional<PictureType> found;  // what readClipboard should take, if anything
};

void PrintTo(const ReadCase& readCase, std::ostream* out) {
    *out << readCase.name;
}

class WaylandReadTest : public WaylandClipboardTest,
                        public ::testing::WithParamInterface<ReadCase> {};

TEST_P(WaylandReadTest, TakesOnlyPictureTypesByteForByte) {
    const auto bytes = noise(70'000, 1);  // larger than one pipe buffer
    ASSERT_EQ(copy(GetParam().offeredType, bytes).status, 0);
    auto pb = connect();
    ASSERT_NE(pb, nullptr);
    const auto data = readClipboard(*pb);
    ASSERT_TRUE(data) << data.error();
    if (!GetParam().found) {
        EXPECT_FALSE(*data);
        return;
    }
    ASSERT_TRUE(*data);
    EXPECT_EQ(std::string((*data)->begin(), (*data)->end()), bytes);
}

INSTANTIATE_TEST_SUITE_P(Offers, WaylandReadTest,
                         ::testing::Values(ReadCase{"png", "image/png", PictureType::png},
                                           ReadCase{"tiffOnly", "image/tiff", PictureType::tiff},
                                           ReadCase{"textOnly", "text/plain", std::nullopt},
                                           ReadCase{"jpegOnly", "image/jpeg", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WaylandClipboardTest, ReadsPictureFarLargerThanPipeBuffers) {
    const auto bytes = noise(12 << 20, 2);
    ASSERT_EQ(copy("image/png", bytes).status, 0);
    auto pb = connect();
    ASSERT_NE(pb, nullptr);
    const auto data = readClipboard(*pb);
    ASSERT_TRUE(data && *data);
    EXPECT_TRUE(std::string((*data)->begin(), (*data)->end()) == bytes);
}

TEST_F(WaylandClipboardTest, EmptySelectionHoldsNoPicture) {
    auto pb = connect();
    ASSERT_NE(pb, nullptr);
    const auto fresh = readClipboard(*pb);
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(*fresh);

    ASSERT_EQ(copy("image/png", noise(100, 3)).status, 0);
    ASSERT_EQ(runProgram({"wl-copy", "--clear"}, 10s, sway_.env()).status, 0);
    pb = connect();
    const auto cleared = readClipboard(*pb);
    ASSERT_TRUE(cleared);
    EXPECT_FALSE(*cleared);
}

TEST_F(WaylandClipboardTest, ServesSeveralReadersOfALargePictureAtOnce) {
    const auto png = noise(12 << 20, 6);
    auto pb = connect();
    ASSERT_NE(pb, nullptr);
    ASSERT_TRUE(writeClipboard(*pb, asBytes(png)));
    TempDir dir;
    const std::string readers = "cd " + dir.path() +
                                " && for n in 1 2 3; do wl-paste -n -t image/png > $n & done;"
                                " wait";
    ASSERT_EQ(runProgram({"sh", "-c", readers}, 60s, sway_.env()).status, 0);
    for (const char* name : {"1", "2", "3"}) {
        EXPECT_TRUE(readWholeFile(dir.file(name)) == png) << "reader " << name;
    }
}

TEST_F(WaylandClipboardTest, FailureToTakeTheSelectionIsReportedAndLeavesNoProcess) {
    ASSERT_EQ(copy("text/plain", "kept").status, 0);
    auto pb = connect();
    ASSERT_NE(pb, nullptr);
    // The serving process connects on its own, the way libwayland is told: here to nowhere.
    ::setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-0", 1);
    const auto written = writeClipboard(*pb, asBytes(noise(1000, 8)));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "write");
    EXPECT_TRUE(liveChildren(sway_.pid()).empty());
    EXPECT_EQ(paste("text/plain"), "kept");
}

TEST(WaylandConnect, NoCompositorMeansNoWaylandClipboard) {
    const char* before = std::getenv("WAYLAND_DISPLAY");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-0", 1);
    EXPECT_EQ(connectWaylandClipboard(), nullptr);
    if (before != nullptr) {
        ::setenv("WAYLAND_DISPLAY", saved.c_str(), 1);
    } else {
        ::unsetenv("WAYLAND_DISPLAY");
    }
}

}  // namespace
}  // namespace cliptint::test
