// GNUstep's pasteboard server (gpbs) through the AppKit backend, for what the round trips
// (Backends/RoundTrip, which run here too) do not show: a server that is gone, and a picture over
// the server's message limit.

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>

#include "clipboard/desktop.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

// A pasteboard server that is gone, its name left behind: paint answers "no clipboard" and nothing
// on stderr, and starts no server of GNUstep's own in its place, which would end with the tool and
// the picture with it. (One that does not answer: Backends/RoundTrip.) A --file run does not even
// look the server up: GNUstep removes the name of a server that is gone when it looks.
TEST(PasteboardServer, GoneAnswersNoClipboardAndFileRunsDoNotLookItUp) {
    Desktop desktop(Backend::gnustep);
    const std::string tmp = desktop.env()[0].substr(4), name = tmp + "/" + kGpbsName;  // TMP=
    ::kill(desktop.server(), SIGKILL);
    runTool({"--file", testData("icc-glyph.png"), tmp + "/o.png", "paint", "3366cc"}, 60s,
            desktop.env());
    EXPECT_TRUE(std::filesystem::exists(name)) << "a --file run looked the server up";
    const auto run = runTool({"paint", "3366cc"}, 60s, desktop.env());
    EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple("ERR no clipboard\n", "", 0));
    EXPECT_FALSE(std::filesystem::exists(name)) << "so the check on the --file run means something";
}

// GNUstep's server takes no message over 32 MiB: a picture that fits as offered but not as painted
// is "ERR write", one line, and nothing on stderr, where GNUstep complains on its own. The
// pasteboard was cleared for the PNG by then, and is left empty.
TEST(PasteboardServer, PaintOverItsMessageLimitAnswersWrite) {
    // 40 MP of black in 32 alphas at random, a quarter of them clear: MONO. As an 8-bit palette
    // PNG some 25 MiB; painted, as RGBA, some 36 MiB (were it less, the paint would succeed).
    constexpr std::uint32_t w = 7999, h = 5000;
    std::vector<std::uint8_t> alphas(32), indices(std::size_t{w} * h);
    std::iota(alphas.begin() + 8, alphas.end(), 208);
    std::mt19937 random(7);
    std::ranges::generate(indices, [&] { return static_cast<std::uint8_t>(random() % 32); });
    const Bytes noise = libpngFile(w, h, PNG_COLOR_TYPE_PALETTE, PNG_FILTER_NONE, indices, alphas);
    Desktop desktop(Backend::gnustep);
    desktop.copy("image/png", std::string(noise.begin(), noise.end()));
    const auto run = runTool({"paint", "3366cc"}, 120s, desktop.env());
    EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple("ERR write\n", "", 0));
    EXPECT_EQ(runTool({"probe"}, 60s, desktop.env()).out, "ERR no picture on the clipboard\n");
}

}  // namespace
}  // namespace cliptint::test
