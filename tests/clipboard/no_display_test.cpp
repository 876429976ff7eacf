// Without a clipboard service: clipboard runs answer "no clipboard" and print nothing else, and
// --file runs never contact the display.

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
    const auto paint =
        runTool({"--file", testData("icc-glyph.png"), dir.file("out.png"), "paint", "3366cc"}, 30s,
                {silent.env, path});
    EXPECT_TRUE(paint.out.starts_with("MONO 3366CC ")) << paint.out;
    EXPECT_FALSE(silent.contacted()) << "a --file run connected to the display";

    // Without XDG_RUNTIME_DIR libwayland reports on stderr unless told otherwise (a missing
    // socket it does not report); the silent display holds a run until the connection watchdog
    // gives up on it.
    for (const auto& env : {std::vector{path}, {path, silent.env}}) {
        for (const auto& words : {std::vector<std::string>{"probe"}, {"paint", "3366cc"}}) {
            const auto run = runTool(words, 30s, env);
            EXPECT_EQ(std::tie(run.out, run.err, run.status),
                      std::tuple("ERR no clipboard\n", "", 0))
                << env.back() << " " << words[0];
        }
    }
    EXPECT_TRUE(silent.contacted()) << "so the check on the --file run means something";
}

}  // namespace
}  // namespace cliptint::test
