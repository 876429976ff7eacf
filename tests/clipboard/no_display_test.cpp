#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "clipboard/pictures.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

std::string pathEnv() {
    return "PATH=" + std::string(std::getenv("PATH"));
}

// Built by append: GCC 12 warns falsely (-Wrestrict) on ":" + std::to_string(n).
std::string displayName(int number) {
    return std::string(":").append(std::to_string(number));
}

bool displayFilesExist(int number) {
    const std::string n = std::to_string(number);
    return std::filesystem::exists("/tmp/.X11-unix/X" + n) ||
           std::filesystem::exists("/tmp/.X" + n + "-lock");
}

// A display that accepts connections and never answers: a listening socket in the abstract
// namespace where libxcb looks first for ":N", never accepted from.
class SilentDisplay {
  public:
    SilentDisplay() {
        for (int number = 700; number < 1000 && fd_ < 0; ++number) {
            if (!displayFilesExist(number)) listenAs(number);
        }
        if (fd_ < 0) throw std::runtime_error("no free display number");
    }
    ~SilentDisplay() { ::close(fd_); }

    const std::string& display() const { return display_; }

    // True when someone has connected since; does not wait.
    bool contacted() const {
        const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (peer < 0) return false;
        ::close(peer);
        return true;
    }

  private:
    void listenAs(int number) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 8) != 0) {
            ::close(fd);
            return;
        }
        fd_ = fd;
        display_ = displayName(number);
    }

    int fd_ = -1;
    std::string display_;
};

// A display number with no server behind it at all.
std::string deadDisplay() {
    for (int number = 600; number < 700; ++number) {
        if (!displayFilesExist(number)) return displayName(number);
    }
    throw std::runtime_error("no free display number");
}

struct DisplayCase {
    std::string name;
    std::function<std::vector<std::string>(const SilentDisplay&)> env;
    bool silent;  // the display is the silent one, which must never be connected to
};
void PrintTo(const DisplayCase& c, std::ostream* os) {
    *os << c.name;
}

class WithoutX : public testing::TestWithParam<DisplayCase> {
  protected:
    TempDir dir;
    SilentDisplay silent;
    std::string in = dir.file("in.png");
    std::string out = dir.file("out.png");
    void SetUp() override { writeWholeFile(in, pngOf(glyph(0, 0, 0))); }
};

TEST_P(WithoutX, FileRunsWorkAndClipboardRunsAnswerNoClipboard) {
    const auto env = GetParam().env(silent);
    const auto probe = runTool({"--file", in, out, "probe"}, 30s, env);
    EXPECT_EQ(probe.out.rfind("MONO 000000 ", 0), 0u) << probe.out;
    const auto paint = runTool({"--file", in, out, "paint", "3366cc"}, 30s, env);
    EXPECT_EQ(paint.out.rfind("MONO 3366CC ", 0), 0u) << paint.out;
    EXPECT_FALSE(decodeWithLibpng(readWholeFile(out)).rgba.empty());
    EXPECT_FALSE(silent.contacted()) << "a --file run connected to the display";

    // The silent display holds the run until the connection watchdog gives up on it.
    for (const auto& words : {std::vector<std::string>{"probe"}, {"paint", "3366cc"}}) {
        const auto run = runTool(words, 30s, env);
        EXPECT_EQ(run.out, "ERR no clipboard\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
    // The runs above did reach the silent display, so the check on the --file runs means something.
    if (GetParam().silent) {
        EXPECT_TRUE(silent.contacted());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithoutX,
    testing::Values(DisplayCase{"DisplayUnset",
                                [](const SilentDisplay&) { return std::vector{pathEnv()}; }, false},
                    DisplayCase{"DeadDisplay",
                                [](const SilentDisplay&) {
                                    return std::vector{"DISPLAY=" + deadDisplay(), pathEnv()};
                                },
                                false},
                    DisplayCase{"SilentDisplay",
                                [](const SilentDisplay& silent) {
                                    return std::vector{"DISPLAY=" + silent.display(), pathEnv()};
                                },
                                true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace cliptint::test
