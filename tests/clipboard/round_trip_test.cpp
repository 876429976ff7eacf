// The tool on a real desktop, each through its real peer: xclip under Xvfb and under mutter's
// XWayland (GNOME), wl-copy and wl-paste under headless sway, KWin and mutter. Every case runs
// against each; libpng decodes what the tool puts.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <random>

#include "clipboard/clipboard.hpp"
#include "clipboard/desktop.hpp"
#include "support/canvas_maker.hpp"
#include "sys/calls.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

constexpr char kNoPicture[] = "ERR no picture on the clipboard\n";
const std::string kGlyph = readWholeFile(testData("icc-glyph.png"));  // MONO

enum class Ink { black, random };

// Random alphas, a quarter of the pixels clear: in random colours, MULTI and about 4 bytes a pixel
// as PNG; in black, MONO and about 1 byte a pixel.
std::string randomPng(std::int64_t w, std::int64_t h, Ink ink) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(7);
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        const auto a = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : 200 + random() % 56);
        for (int k = 0; k < 3 && ink == Ink::random; ++k)
            canvas.px()[i + k] = static_cast<std::uint8_t>(random() % (a + 1u));
        canvas.px()[i + 3] = a;
    }
    return pngOf(canvas);
}

class RoundTrip : public testing::TestWithParam<Backend> {
  protected:
    Desktop desktop{GetParam()};
    TempDir dir;

    // The reply and OUT of the words run with --file on the bytes, for comparison.
    std::pair<std::string, std::string> fileRun(const std::string& bytes,
                                                std::vector<std::string> words) {
        writeWholeFile(dir.file("in"), bytes);
        words.insert(words.begin(), {"--file", dir.file("in"), dir.file("out")});
        const std::string reply = runTool(words).out;
        return {reply, readWholeFile(dir.file("out"))};
    }

    std::vector<pid_t> owners() const { return desktop.running(CLIPTINT_BINARY); }
};

// What a peer copied, read by runs that do not paint: they probe, or fail (no picture, a bad
// colour word, bytes that do not decode), or find no MONO picture. None takes the clipboard, and
// each replies as the same run with --file does.
TEST_P(RoundTrip, RunsThatDoNotPaintReadWhatThePeerCopiedAndLeaveIt) {
    struct Case {
        const char* type;  // nullptr: nothing is copied
        std::string bytes;
        std::vector<std::string> words;
        std::string reply;  // "" for the reply of the same run with --file
    };
    const std::vector<std::string> probe{"probe"}, paint{"paint", "3366cc"};
    const Case cases[] = {
        {nullptr, "", probe, kNoPicture},
        {"text/plain", "3366cc\n", paint, kNoPicture},
        {"image/jpeg", readWholeFile(testData("jpg-rgb.jpg")), probe, kNoPicture},
        {"image/tiff", readWholeFile(testData("tif-ga8.tif")), probe, ""},
        {"image/png", kGlyph, probe, ""},
        {"image/png", kGlyph, {"paint", "zz"}, "ERR colour zz\n"},
        {"image/png", readWholeFile(testData("png-rgba8.png")), paint, ""},  // MULTI
        {"image/png", "not a png", paint, kNoPicture},
        // Some 7 MB: xclip hands it over by INCR; far more than a pipe holds.
        {"image/png", randomPng(1600, 1400, Ink::random), probe, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words) + " on " + (c.type ? c.type : "nothing"));
        // xclip serving the large PNG under mutter's XWayland at times stops answering TARGETS,
        // most runs on a loaded machine; the INCR read across mutter's bridge runs with wl-copy as
        // the owner.
        if (c.bytes.size() > 1'000'000 && GetParam() == Backend::mutterX11) continue;
        if (c.type != nullptr) desktop.copy(c.type, c.bytes);
        const auto run = runTool(c.words, 60s, desktop.env());
        const std::string expected = c.reply.empty() ? fileRun(c.bytes, c.words).first : c.reply;
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(expected.starts_with("ERR "), c.reply.empty());  // --file found the picture
        EXPECT_TRUE(c.type == nullptr || desktop.paste(c.type) == c.bytes);
        EXPECT_TRUE(owners().empty());
    }
    // The owner stopped: the paste is passed on to it and never answered.
    for (const pid_t peer : desktop.running(x11Peer(GetParam()) ? "xclip" : "wl-copy"))
        ::kill(peer, SIGSTOP);
    EXPECT_EQ(runTool({"probe"}, 60s, desktop.env()).out, kNoPicture);
}

// The painted picture is the one picture offered, whole to readers side by side (X11 hands one
// this large over by INCR, a transfer per reader); the next runs read from the tool's own owner
// and replace it, which ends when another program copies. `out=$(cliptint paint ...)` waits for
// the end of the pipe, not of the process: the detached owner must not hold it.
TEST_P(RoundTrip, PaintPutsOnlyAPngUntilAnotherProgramCopies) {
    const std::string original = randomPng(800, 600, Ink::black);
    desktop.copy("image/png", original);
    const auto run = runProgram(
        {"sh", "-c", "out=$(\"$0\" paint 3366cc); printf '%s\\n' \"$out\"", CLIPTINT_BINARY}, 60s,
        desktop.env());
    EXPECT_NE(run.status, -1) << "still waiting for the end of the pipe";
    const auto [reply, painted] = fileRun(original, {"paint", "3366cc"});
    ASSERT_EQ(run.out, reply);
    ASSERT_TRUE(reply.starts_with("MONO 3366CC ")) << reply;
    ASSERT_GT(painted.size(), 512u * 1024);
    const auto types = desktop.types();
    EXPECT_EQ(std::ranges::count_if(types, [](const auto& t) { return t.starts_with("image/"); }),
              1);
    const std::string paste = desktop.pasteCommand("image/png");
    const auto readers = runProgram(
        {"sh", "-c", "cd \"$0\" && for n in 1 2 3; do " + paste + " > $n & done; wait", dir.path()},
        60s, desktop.env());
    ASSERT_EQ(readers.status, 0);
    for (const char* name : {"1", "2", "3"})
        EXPECT_TRUE(readWholeFile(dir.file(name)) == painted) << "reader " << name;

    const auto again = runTool({"paint", "ff0000"}, 60s, desktop.env());
    EXPECT_TRUE(again.out.starts_with("MONO FF0000 ")) << again.out;
    EXPECT_EQ(runTool({"probe"}, 60s, desktop.env()).out, again.out);
    EXPECT_EQ(owners().size(), 1u);
    desktop.copy("text/plain", "replaced");  // returns once the programs running before ended
    EXPECT_TRUE(owners().empty());
    EXPECT_EQ(desktop.paste("text/plain"), "replaced");
}

// The write itself fails (here: no process can be started to serve the picture).
TEST_P(RoundTrip, FailedPutIsAWriteFailureAndLeavesTheClipboardAlone) {
    desktop.copy("image/png", kGlyph);
    const auto inDesktop = [&](bool in) {  // this process, with the desktop's environment or not
        for (const auto& entry : desktop.env()) {
            const std::string name = entry.substr(0, entry.find('='));
            if (name != "PATH" && in) ::setenv(name.c_str(), &entry[name.size() + 1], 1);
            if (name != "PATH" && !in) ::unsetenv(name.c_str());
        }
    };
    inDesktop(true);
    auto pb = obtainClipboard();  // connects on first use
    const auto read = readClipboard(*pb);
    inDesktop(false);
    ASSERT_TRUE(read && *read);
    EXPECT_TRUE(std::string((*read)->begin(), (*read)->end()) == kGlyph);
    sys::failCall(sys::Call::fork, EAGAIN);
    const auto written = writeClipboard(*pb, **read);
    sys::clearFailures();
    EXPECT_EQ(written ? "" : written.error(), "write");
    EXPECT_TRUE(desktop.paste("image/png") == kGlyph);
}

INSTANTIATE_TEST_SUITE_P(Backends, RoundTrip,
                         testing::Values(Backend::x11, Backend::wayland, Backend::kwin,
                                         Backend::mutter, Backend::mutterX11),
                         [](const auto& info) { return testing::PrintToString(info.param); });

// A session that hands the tool its connection as WAYLAND_SOCKET: the socket serves one process,
// so the detached owner would have to reach a compositor by another way (WAYLAND_DISPLAY, here
// the same one) that the session did not give. Reading works; painting is "ERR write".
TEST(WaylandPeer, HandedOverSocketReadsButDoesNotPaint) {
    Desktop desktop(Backend::wayland);
    desktop.copy("image/png", kGlyph);
    const auto handOver = [&](const std::vector<std::string>& words) {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        desktop.env()[0].copy(address.sun_path, sizeof address.sun_path - 1, 16);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);  // inherited by the tool
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        auto env = desktop.env();
        env.push_back("WAYLAND_SOCKET=" + std::to_string(fd));
        const auto run = runTool(words, 60s, env);
        ::close(fd);
        return run.out;
    };
    EXPECT_EQ(handOver({"probe"}), runTool({"probe"}, 60s, desktop.env()).out);
    EXPECT_EQ(handOver({"paint", "3366cc"}), "ERR write\n");
    EXPECT_TRUE(desktop.paste("image/png") == kGlyph);
    EXPECT_TRUE(desktop.running(CLIPTINT_BINARY).empty());
}

}  // namespace
}  // namespace cliptint::test
