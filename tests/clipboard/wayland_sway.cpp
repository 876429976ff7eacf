#include "clipboard/wayland_sway.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/run_tool.hpp"

namespace cliptint::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartWithin = std::chrono::seconds(20);
constexpr auto kStopWithin = std::chrono::seconds(5);

struct Account {
    uid_t uid;
    gid_t gid;
};

// sway refuses root; "nobody" exists on every Debian system. A system without it gets a user of
// our own.
Account swayAccount() {
    if (::getuid() != 0) return {::getuid(), ::getgid()};
    for (const char* name : {"nobody", "cliptint-sway"}) {
        if (const passwd* entry = ::getpwnam(name)) return {entry->pw_uid, entry->pw_gid};
    }
    runProgram({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                "cliptint-sway"});
    if (const passwd* entry = ::getpwnam("cliptint-sway")) return {entry->pw_uid, entry->pw_gid};
    throw std::runtime_error("no unprivileged user to run sway as");
}

std::string makeRuntimeDir(const Account& account) {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base != nullptr ? base : "/tmp") + "/cliptint-sway-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) throw std::runtime_error("mkdtemp");
    writeWholeFile(dir + "/config", "xwayland disable\n");
    if (::chown(dir.c_str(), account.uid, account.gid) != 0 ||
        ::chown((dir + "/config").c_str(), account.uid, account.gid) != 0 ||
        ::chmod(dir.c_str(), 0700) != 0) {
        throw std::runtime_error("cannot prepare the sway runtime directory");
    }
    return dir;
}

[[noreturn]] void execSway(const Account& account, const std::string& dir) {
    const int log = ::open((dir + "/sway.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_RDONLY);
    if (log < 0 || null < 0) ::_exit(126);
    ::dup2(null, STDIN_FILENO);
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    if (::getuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 ||
                            ::setuid(account.uid) != 0)) {
        ::_exit(126);
    }
    const std::string runtime = "XDG_RUNTIME_DIR=" + dir;
    const std::string home = "HOME=" + dir;
    const std::string config = dir + "/config";
    const char* argv[] = {"sway", "-c", config.c_str(), nullptr};
    const char* envp[] = {runtime.c_str(),
                          home.c_str(),
                          "WLR_BACKENDS=headless",
                          "WLR_RENDERER=pixman",
                          "WLR_LIBINPUT_NO_DEVICES=1",
                          "PATH=/usr/local/bin:/usr/bin:/bin",
                          nullptr};
    ::execve("/usr/bin/sway", const_cast<char**>(argv), const_cast<char**>(envp));
    ::_exit(127);
}

// sway names its socket wayland-N; the lock file beside it is not the socket.
std::string findSocket(const std::string& dir) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename();
        if (name.starts_with("wayland-") && entry.is_socket(error)) return entry.path();
    }
    return {};
}

}  // namespace

HeadlessSway::HeadlessSway() {
    const Account account = swayAccount();
    runtimeDir_ = makeRuntimeDir(account);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) execSway(account, runtimeDir_);

    const auto deadline = Clock::now() + kStartWithin;
    while (socket_.empty()) {
        const bool exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (exited) pid_ = -1;  // reaped: its number may belong to someone else now
        if (exited || Clock::now() > deadline) {
            const std::string log = readWholeFile(runtimeDir_ + "/sway.log");
            stop();
            throw std::runtime_error("headless sway did not start:\n" + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        socket_ = findSocket(runtimeDir_);
    }
}

HeadlessSway::~HeadlessSway() {
    stop();
}

void HeadlessSway::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + kStopWithin;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    std::error_code ignored;
    if (!runtimeDir_.empty()) fs::remove_all(runtimeDir_, ignored);
    runtimeDir_.clear();
}

std::vector<std::string> HeadlessSway::env() const {
    return {"WAYLAND_DISPLAY=" + socket_, "PATH=/usr/local/bin:/usr/bin:/bin"};
}

}  // namespace cliptint::test
