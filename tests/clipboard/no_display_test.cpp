// Without a clipboard service: clipboard runs answer "no clipboard" and print nothing else, and
// --file runs never contact the display; nor do --help, --version and a misplaced --file.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

// A display that accepts connections and never answers: a TCP socket on the loopback address,
// at a port the kernel picks (display N listens on 6000 + N), listening and never accepted from.
struct SilentDisplay {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    std::string env;  // DISPLAY=127.0.0.1:N

    SilentDisplay() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};  // any free port
        socklen_t size = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (::bind(fd, any, size) != 0 || ::listen(fd, 8) != 0 ||
            ::getsockname(fd, any, &size) != 0 || ntohs(address.sin_port) <= 6000)
            throw std::runtime_error("cannot listen on the loopback address");
        env = "DISPLAY=127.0.0.1:" + std::to_string(ntohs(address.sin_port) - 6000);
    }
    ~SilentDisplay() { ::close(fd); }

    // True when someone has connected since; does not wait.
    bool contacted() const {
        const int peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer >= 0) ::close(peer);
        return peer >= 0;
    }
};

TEST(NoClipboard, ClipboardRunsAnswerNoClipboardAndFileRunsStayOffTheDisplay) {
    SilentDisplay silent;
    TempDir dir;
    const std::string path = "PATH=/usr/bin:/bin";
    // The help text, the one reply of several lines, with no environment at all.
    const std::string help = runProgram({"env", "-i", CLIPTINT_BINARY, "--help"}).out;
    EXPECT_TRUE(help.starts_with("usage: cliptint [--file IN OUT] probe\n") &&
                help.ends_with(" man cliptint\n"))
        << help;
    const std::string version = "cliptint " CLIPTINT_VERSION "\n", none = "ERR no clipboard\n";
    const std::vector<std::string> probe{"probe"}, paint{"paint", "3366cc"};
    // The words, whether the silent display is in the environment, the reply. Without
    // XDG_RUNTIME_DIR libwayland reports on stderr unless told otherwise (a missing socket it does
    // not report); the silent display holds a run until the connection watchdog gives up on it.
    // Only these runs for the clipboard contact it: not --file runs, nor those answered from the
    // command line alone (--help, --version, a misplaced --file).
    const std::string file = testData("icc-glyph.png"), out = dir.file("out.png");
    // clang-format off
    for (const auto& [words, display, reply] : {
             std::tuple{probe, false, none}, {paint, false, none}, {probe, true, none},
             {paint, true, none}, {{"-h", "probe"}, true, help}, {{"--version"}, true, version},
             {{"--file", file, out, "paint", "3366cc"}, true, "MONO 3366CC 0.1250 0.1250 0.8750 0.8750\n"},
             {{"-V", "--file", "/", "x", "probe"}, true, version},
             {{"probe", "--file"}, true, "ERR usage: probe | paint RRGGBB\n"}}) {
        // clang-format on
        const auto run =
            runTool(words, 30s, display ? std::vector{path, silent.env} : std::vector{path});
        EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(reply, "", 0)) << words[0];
        EXPECT_EQ(silent.contacted(), display && reply == none) << words[0] << " " << display;
    }
}

}  // namespace
}  // namespace cliptint::test
