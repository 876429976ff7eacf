// GNUstep's pasteboard server (gpbs) through the AppKit backend, for what one type offered at a
// time cannot show (Backends/RoundTrip runs the rest here too): several types at once, no server
// or a silent one, and a picture over the server's message limit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "clipboard/desktop.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using Offer = std::vector<std::pair<std::string, std::string>>;  // types and their bytes

constexpr char kNoPicture[] = "ERR no picture on the clipboard\n";
constexpr char kNoClipboard[] = "ERR no clipboard\n";

// What the pasteboard holds, type by type in a fixed order.
Offer held(const Desktop& desktop) {
    Offer offer;
    for (const auto& type : desktop.types())
        offer.emplace_back(type, desktop.paste(type));
    std::ranges::sort(offer);
    return offer;
}

// The reply and OUT of the words run with --file on the bytes.
std::pair<std::string, std::string> fileRun(const std::string& bytes,
                                            std::vector<std::string> words) {
    TempDir dir;
    writeWholeFile(dir.file("in"), bytes);
    words.insert(words.begin(), {"--file", dir.file("in"), dir.file("out")});
    const std::string reply = runTool(words).out;
    return {reply, readWholeFile(dir.file("out"))};
}

// A pasteboard holding several types is read PNG first, TIFF only without a PNG: a PNG counts even
// when it does not decode, text is no picture. Runs that answer ERR or MULTI, and --file runs,
// leave every type as it was; a paint leaves the painted PNG alone, the bytes a --file run paints.
// No process of the tool's stays.
TEST(Pasteboard, ReadsPngElseTiffAndOnlyAPaintReplacesEverything) {
    Desktop desktop(Backend::gnustep);
    const std::string glyph = readWholeFile(testData("icc-glyph.png"));  // MONO 78963C
    const std::string tiff = readWholeFile(testData("tif-ga8.tif"));     // MONO 323232
    const std::string multi = readWholeFile(testData("png-rgba8.png"));
    const std::vector<std::string> probe{"probe"}, paint{"paint", "3366cc"};
    TempDir dir;
    struct Case {
        Offer offer;
        std::vector<std::string> words;
        std::string picture;  // the reply is that of the words run with --file on it...
        std::string reply;    // ...or this one
        bool file = false;    // the run itself has --file, on the picture
    };
    const Case cases[] = {
        {{{"image/png", glyph}, {"image/tiff", tiff}}, probe, glyph, ""},
        {{{"text/plain", "words"}, {"image/tiff", tiff}}, probe, tiff, ""},
        {{{"text/plain", "words"}}, probe, "", kNoPicture},
        {{{"image/png", "not a picture"}, {"image/tiff", tiff}}, probe, "", kNoPicture},
        {{{"image/png", "not a picture"}, {"image/tiff", tiff}}, paint, "", kNoPicture},
        {{{"image/png", multi}, {"text/plain", "words"}}, paint, multi, ""},
        {{{"image/png", glyph}, {"text/plain", "words"}}, {"paint", "zz"}, "", "ERR colour zz\n"},
        {{{"image/png", multi}, {"image/tiff", tiff}}, paint, glyph, "", true},
        {{{"image/tiff", tiff}, {"text/plain", "words"}}, paint, tiff, ""},
        {{{"image/png", glyph}, {"image/tiff", tiff}, {"text/plain", "words"}}, paint, glyph, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words) + (c.file ? " with --file" : "") + " on " +
                     testing::PrintToString(c.offer));
        desktop.copy(c.offer);
        const auto [reply, painted] =
            c.picture.empty() ? std::pair(c.reply, std::string()) : fileRun(c.picture, c.words);
        std::vector<std::string> words = c.words;
        if (c.file) words.insert(words.begin(), {"--file", dir.file("in"), dir.file("out")});
        writeWholeFile(dir.file("in"), c.picture);
        const auto run = runTool(words, 60s, desktop.env());
        EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(reply, "", 0));
        Offer expected = c.offer;
        if (!painted.empty() && !c.file) expected = {{"image/png", painted}};
        std::ranges::sort(expected);
        EXPECT_TRUE(held(desktop) == expected);
        EXPECT_TRUE(desktop.running(CLIPTINT_BINARY).empty());
    }
}

// A pasteboard server that has registered its name and never answers: a socket of the test's own
// that listens where GNUstep's name file (mode 0600: the port's path, then a live pid) sends the
// tool. GNUstep connects once to see that it lives, then again to ask.
struct SilentServer {
    TempDir tmp;
    std::string ports = tmp.file("NSMessagePort/ports"), names = tmp.file("NSMessagePort/names");
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);

    SilentServer() {
        for (const auto& folder : {tmp.file("NSMessagePort"), ports, names})
            fs::create_directory(folder);
        for (const auto& folder : {tmp.file("NSMessagePort"), ports, names})
            fs::permissions(folder, fs::perms::owner_all);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        const std::string port = ports + "/silent";
        port.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 8) != 0 || ::fcntl(fd, F_SETFL, O_NONBLOCK) != 0)
            throw std::runtime_error("cannot listen at " + port);
        const std::string name = names + "/R05Vc3RlcEdTUGFzdGVib2FyZFNlcnZlcg==";
        writeWholeFile(name, port + "\n" + std::to_string(::getpid()) + "\n");
        fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write);
    }
    ~SilentServer() { ::close(fd); }
    std::vector<std::string> env() const { return {"TMP=" + tmp.path(), "PATH=/usr/bin:/bin"}; }

    // True when someone has connected since; does not wait.
    bool contacted() const {
        const int peer = ::accept(fd, nullptr, nullptr);
        if (peer >= 0) ::close(peer);
        return peer >= 0;
    }
};

// No pasteboard server, or one that never answers: "no clipboard" and nothing on stderr, and no
// server of GNUstep's own started in its place (probe would then find no picture, and paint would
// store the picture on a server that ends with the tool). A --file run contacts no server.
TEST(PasteboardServer, NoneOrASilentOneAnswersNoClipboardAndFileRunsStayAway) {
    SilentServer silent;
    TempDir none, dir;
    const auto paint =
        runTool({"--file", testData("icc-glyph.png"), dir.file("out.png"), "paint", "3366cc"}, 60s,
                silent.env());
    EXPECT_TRUE(paint.out.starts_with("MONO 3366CC ")) << paint.out;
    EXPECT_FALSE(silent.contacted()) << "a --file run contacted the pasteboard server";

    const std::vector<std::string> noServer{"TMP=" + none.path(), "PATH=/usr/bin:/bin"};
    for (const auto& env : {noServer, silent.env()}) {
        for (const auto& words : {std::vector<std::string>{"probe"}, {"paint", "3366cc"}}) {
            const auto run = runTool(words, 60s, env);
            EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(kNoClipboard, "", 0))
                << env[0] << " " << words[0];
        }
    }
    EXPECT_TRUE(silent.contacted()) << "so the check on the --file run means something";
}

// GNUstep's server takes no message over 32 MiB: a picture that fits as offered but not as painted
// is "ERR write", one line, and nothing on stderr, where GNUstep complains on its own. The
// pasteboard was cleared for the PNG by then, and is left empty.
TEST(Pasteboard, PaintOverTheServersMessageLimitAnswersWrite) {
    Desktop desktop(Backend::gnustep);
    // 40 MP of black in 32 alphas at random, a quarter of them clear: MONO. As an 8-bit palette
    // PNG some 25 MiB; painted, as RGBA, some 36 MiB.
    constexpr std::uint32_t w = 7999, h = 5000;
    std::vector<std::uint8_t> alphas(32), indices(std::size_t{w} * h);
    for (std::size_t i = 0; i < alphas.size(); ++i)
        alphas[i] = static_cast<std::uint8_t>(i < 8 ? 0 : 200 + i);
    std::mt19937 random(7);
    std::ranges::generate(indices, [&] { return static_cast<std::uint8_t>(random() % 32); });
    const Bytes noise = libpngFile(w, h, PNG_COLOR_TYPE_PALETTE, PNG_FILTER_NONE, indices, alphas);
    const std::string offered(noise.begin(), noise.end());
    const auto [reply, painted] = fileRun(offered, {"paint", "3366cc"});
    ASSERT_LT(offered.size(), 32u << 20);
    ASSERT_GT(painted.size(), 33u << 20);
    ASSERT_TRUE(reply.starts_with("MONO 3366CC ")) << reply;

    desktop.copy("image/png", offered);
    const auto run = runTool({"paint", "3366cc"}, 120s, desktop.env());
    EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple("ERR write\n", "", 0));
    EXPECT_EQ(runTool({"probe"}, 60s, desktop.env()).out, kNoPicture);
}

}  // namespace
}  // namespace cliptint::test
