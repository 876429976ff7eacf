// The tool itself on a Wayland desktop: a real headless sway, wl-copy and wl-paste as the peer,
// and libpng as the independent decoder of what the tool puts on the clipboard.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "clipboard/wayland_test_support.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

constexpr Rgba kInk{0x11, 0x22, 0x33, 0xff};

// A 16 x 16 glyph of opaque ink on a clear ground, with a faint (alpha 100) edge: MONO.
std::string monoPng() {
    auto canvas = clearCanvas(16, 16);
    for (int y = 4; y < 12; ++y) {
        for (int x = 3; x < 13; ++x)
            setPixel(canvas, x, y, kInk);
    }
    for (int x = 3; x < 13; ++x)
        setPixel(canvas, x, 12, {0x07, 0x0d, 0x14, 100});
    return pngOf(canvas);
}

// Two opaque colours far apart: MULTI.
std::string multiPng() {
    auto canvas = clearCanvas(8, 8);
    for (int x = 0; x < 8; ++x) {
        setPixel(canvas, x, 2, {0xff, 0, 0, 0xff});
        setPixel(canvas, x, 5, {0, 0, 0xff, 0xff});
    }
    return pngOf(canvas);
}

// Serving processes of the tool on this compositor: the tool's binary, started with this socket.
std::vector<pid_t> toolServers(const std::string& socket) {
    std::vector<pid_t> servers;
    std::error_code error;
    const std::string wanted = "WAYLAND_DISPLAY=" + socket + '\0';
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
        if (error || exe != std::filesystem::path(CLIPTINT_BINARY)) continue;
        if (readWholeFile(entry.path() / "environ").find(wanted) == std::string::npos) continue;
        servers.push_back(std::stoi(name));
    }
    return servers;
}

class WaylandRunTest : public WaylandTest {
  protected:
    ToolRun tool(const std::vector<std::string>& words) { return runTool(words, 60s, sway_.env()); }

    // What the tool answers for the picture given as a file, for comparison.
    std::string fileReply(const std::string& png, const std::vector<std::string>& words) {
        writeWholeFile(dir_.file("in.png"), png);
        std::vector<std::string> all{"--file", dir_.file("in.png"), dir_.file("out.png")};
        all.insert(all.end(), words.begin(), words.end());
        return runTool(all).out;
    }

    TempDir dir_;
};

struct ReadCase {
    const char* name;
    const char* mimeType;  // nullptr: nothing is copied
    std::string (*picture)();
    const char* reply;  // nullptr: the reply for the same picture given as a file
};

void PrintTo(const ReadCase& readCase, std::ostream* out) {
    *out << readCase.name;
}

class WaylandProbeTest : public WaylandRunTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(WaylandProbeTest, ProbesTheSelectionLikeTheSameFile) {
    const auto& c = GetParam();
    const std::string picture = c.picture();
    if (c.mimeType != nullptr) {
        ASSERT_EQ(copy(c.mimeType, picture).status, 0);
    }
    const auto run = tool({"probe"});
    const std::string expected = c.reply != nullptr ? c.reply : fileReply(picture, {"probe"});
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Selections, WaylandProbeTest,
                         ::testing::Values(ReadCase{"png", "image/png", monoPng, nullptr},
                                           ReadCase{"textOnly", "text/plain", monoPng,
                                                    "ERR no picture on the clipboard\n"},
                                           ReadCase{"empty", nullptr, monoPng,
                                                    "ERR no picture on the clipboard\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WaylandRunTest, PaintLeavesOnlyThePaintedPngForOthers) {
    const std::string original = monoPng();
    ASSERT_EQ(copy("image/png", original).status, 0);
    const auto run = tool({"paint", "3366cc"});
    ASSERT_EQ(run.out, fileReply(original, {"paint", "3366cc"}));
    ASSERT_TRUE(run.out.starts_with("MONO 3366CC "));

    EXPECT_EQ(types(), "image/png\n");
    const std::string pasted = paste("image/png");
    EXPECT_TRUE(pasted == readWholeFile(dir_.file("out.png")));
    const StraightPicture painted = decodeWithLibpng(pasted);
    const StraightPicture before = decodeWithLibpng(original);
    ASSERT_EQ(painted.w, 16u);
    ASSERT_EQ(painted.rgba.size(), before.rgba.size());
    for (std::size_t i = 0; i < painted.rgba.size(); i += 4) {
        ASSERT_EQ(painted.rgba[i + 3], before.rgba[i + 3]) << "alpha of pixel " << i / 4;
        if (painted.rgba[i + 3] != 255) continue;
        EXPECT_EQ(painted.rgba[i], 0x33);
        EXPECT_EQ(painted.rgba[i + 1], 0x66);
        EXPECT_EQ(painted.rgba[i + 2], 0xcc);
    }
    // The very next run reads the painted picture.
    EXPECT_EQ(tool({"probe"}).out, run.out);
}

TEST_F(WaylandRunTest, PaintInsideCommandSubstitutionReturns) {
    ASSERT_EQ(copy("image/png", monoPng()).status, 0);
    // A serving process that kept the shell's pipe would hold $(...) open until it exits.
    const auto run = runProgram(
        {"sh", "-c", "out=$(\"$0\" paint 3366cc); printf '%s' \"$out\"", CLIPTINT_BINARY}, 5s,
        sway_.env());
    EXPECT_TRUE(run.out.starts_with("MONO 3366CC ")) << run.out;
    EXPECT_NE(run.status, -1) << "still waiting after " << run.elapsed.count() << " ms";
}

TEST_F(WaylandRunTest, ServingProcessEndsWhenAnotherProgramCopies) {
    ASSERT_EQ(copy("image/png", monoPng()).status, 0);
    ASSERT_TRUE(tool({"paint", "3366cc"}).out.starts_with("MONO "));
    ASSERT_EQ(toolServers(sway_.socket()).size(), 1u);

    ASSERT_EQ(copy("text/plain", "replaced").status, 0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!toolServers(sway_.socket()).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(toolServers(sway_.socket()).empty());
    EXPECT_EQ(paste("text/plain"), "replaced");
}

struct UntouchedCase {
    const char* name;
    std::string (*picture)();
    std::vector<std::string> words;
    const char* replyStart;
};

void PrintTo(const UntouchedCase& c, std::ostream* out) {
    *out << c.name;
}

class WaylandUntouchedTest : public WaylandRunTest,
                             public ::testing::WithParamInterface<UntouchedCase> {};

TEST_P(WaylandUntouchedTest, RunThatDoesNotPaintLeavesTheSelectionAlone) {
    const auto& c = GetParam();
    const std::string original = c.picture();
    ASSERT_EQ(copy("image/png", original).status, 0);
    const auto run = tool(c.words);
    EXPECT_TRUE(run.out.starts_with(c.replyStart)) << run.out;
    EXPECT_EQ(types(), "image/png\n");
    EXPECT_TRUE(paste("image/png") == original);
    EXPECT_TRUE(toolServers(sway_.socket()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WaylandUntouchedTest,
    ::testing::Values(UntouchedCase{"multi", multiPng, {"paint", "3366cc"}, "MULTI "},
                      UntouchedCase{"badColour", monoPng, {"paint", "zz"}, "ERR colour zz\n"},
                      UntouchedCase{"noColour", monoPng, {"paint"}, "ERR usage: "},
                      UntouchedCase{"probe", monoPng, {"probe"}, "MONO 112233 "}),
    [](const auto& info) { return std::string(info.param.name); });

// libwayland reports a missing runtime directory or socket on stderr unless told otherwise.
TEST(WaylandNoCompositor, AnswersNoClipboardAndPrintsNothingElse) {
    const std::vector<std::vector<std::string>> environments = {
        {"PATH=/usr/bin:/bin"},
        {"PATH=/usr/bin:/bin", "WAYLAND_DISPLAY=/nonexistent/wayland-0"},
        {"PATH=/usr/bin:/bin", "WAYLAND_DISPLAY=wayland-7", "XDG_RUNTIME_DIR=/nonexistent"},
    };
    for (const auto& env : environments) {
        SCOPED_TRACE(env.back());
        const auto run = runTool({"probe"}, 60s, env);
        EXPECT_EQ(run.out, "ERR no clipboard\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
}

}  // namespace
}  // namespace cliptint::test
