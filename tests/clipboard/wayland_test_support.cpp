#include "clipboard/wayland_test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace cliptint::test {

namespace {

using namespace std::chrono_literals;

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

// The parent and state fields of /proc/<pid>/stat; the name before them may hold anything.
std::optional<std::pair<char, pid_t>> stateAndParent(const std::string& stat) {
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) return std::nullopt;
    const char state = stat[close + 2];
    return std::pair{state, static_cast<pid_t>(std::atoi(stat.c_str() + close + 4))};
}

}  // namespace

std::string noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random() & 0xff);
    return bytes;
}

std::vector<pid_t> liveChildren(pid_t leftOut) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto fields = stateAndParent(readWholeFile(entry.path() / "stat"));
        const pid_t pid = std::stoi(name);
        if (fields && fields->second == ::getpid() && fields->first != 'Z' && pid != leftOut) {
            children.push_back(pid);
        }
    }
    return children;
}

bool reaped(pid_t child, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::waitpid(child, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

WaylandTest::WaylandTest()
    : waylandDisplay_(environmentValue("WAYLAND_DISPLAY")), display_(environmentValue("DISPLAY")) {}

WaylandTest::~WaylandTest() {
    restore("WAYLAND_DISPLAY", waylandDisplay_);
    restore("DISPLAY", display_);
}

ToolRun WaylandTest::copy(const std::string& mimeType, const std::string& bytes) {
    // wl-copy leaves a process behind to serve the data, holding whatever output it was given;
    // with its output elsewhere, the run ends when wl-copy has set the selection.
    return runProgram({"sh", "-c", "exec wl-copy --type \"$0\" >/dev/null 2>&1", mimeType}, 20s,
                      sway_.env(), bytes);
}

std::string WaylandTest::paste(const std::string& mimeType) {
    return runProgram({"wl-paste", "--no-newline", "--type", mimeType}, 60s, sway_.env()).out;
}

std::string WaylandTest::types() {
    return runProgram({"wl-paste", "--list-types"}, 20s, sway_.env()).out;
}

}  // namespace cliptint::test
