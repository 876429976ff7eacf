#include "clipboard/desktop.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace cliptint::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPath = "PATH=/usr/local/bin:/usr/bin:/bin";

// SIGTERM to the process's group, then SIGKILL when the process has not ended within 5 s; what
// is left of the group after it goes too.
void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    await([&] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, 5s);
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::vector<std::string> split(const std::string& text, char separator = '\n') {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        result.push_back(part);
    return result;
}

}  // namespace

bool await(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    for (const auto end = Clock::now() + timeout; !condition(); std::this_thread::sleep_for(20ms)) {
        if (Clock::now() > end) return false;
    }
    return true;
}

Desktop::Desktop(Backend backend) : backend_(backend) {
    const std::string log = dir_.file("server.log"), shown = dir_.file("display");
    // Xvfb picks a free display number and writes it once it accepts connections. The compositors
    // run headless, rendering in software, with the folder as runtime folder and home.
    // kwin_wayland carries a file capability, which exec refuses where the capability is not
    // allowed (containers); through the loader it runs without, and KWIN_FORCE_OWN_QPA makes it
    // take its own Qt platform all the same. mutter runs mutter_session.py in its session, which
    // gives the seat a keyboard and writes the session's environment (mutter's XWayland display
    // and its authority file) to the folder's file "session". What the server reads is copied
    // into the folder: the source tree may lie where the server's account cannot enter (root's
    // home). gpbs needs no display (and takes the X11 clipboard when it has one); GNUstep finds it
    // through TMP, a folder of its own.
    std::string command =
        backend == Backend::x11 ? "Xvfb -displayfd 1 -nolisten tcp -noreset -screen 0 64x64x24"
        : backend == Backend::wayland ? "sway -c " + dir_.file("config")
        : backend == Backend::kwin
            ? "/lib64/ld-linux-x86-64.so.2 /usr/bin/kwin_wayland --virtual --socket wayland-1"
        : backend == Backend::gnustep
            ? "gpbs --no-fork -GSLogSyslog NO"
            : "dbus-run-session -- mutter --headless --wayland-display wayland-1 "
              "--virtual-monitor 640x480 -- python3 " +
                  dir_.file("session.py") + " " + dir_.path();
    writeWholeFile(dir_.file("config"), "xwayland disable\n");
    writeWholeFile(dir_.file("session.py"), readWholeFile(CLIPTINT_MUTTER_SESSION));
    if (::getuid() == 0 && backend != Backend::x11 && backend != Backend::gnustep) {
        const passwd* nobody = ::getpwnam("nobody");
        for (const auto& path : {dir_.path(), dir_.file("config"), dir_.file("session.py")}) {
            if (nobody == nullptr || ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid))
                throw std::runtime_error("cannot hand " + path + " to the account nobody");
        }
        command = "setpriv --reuid=" + std::to_string(nobody->pw_uid) +
                  " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups " + command;
    }
    ::chmod(dir_.path().c_str(), 0700);
    // GNUstep's TMP: a folder that is not its user's alone it takes for a shared one, and goes
    // elsewhere.
    ::mkdir(dir_.file("tmp").c_str(), 0700);
    // stdin on /dev/null, stdout (Xvfb's display number) and stderr to the files; in a group of
    // its own, so that stop() reaches what a server starts (XWayland, its D-Bus).
    const int append = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    const std::array<int, 3> fds{
        ::open("/dev/null", O_RDONLY | O_CLOEXEC),
        ::open((backend == Backend::x11 ? shown : log).c_str(), append, 0600),
        ::open(log.c_str(), append, 0600)};
    server_ =
        startProgram(split(command, ' '),
                     {"XDG_RUNTIME_DIR=" + dir_.path(), "HOME=" + dir_.path(),
                      "TMP=" + dir_.file("tmp"), "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                      "WLR_LIBINPUT_NO_DEVICES=1", "KWIN_FORCE_OWN_QPA=1", kPath},
                     fds);
    for (const int fd : fds)
        ::close(fd);
    // Up once Xvfb has written the number, once the compositor's socket is there (wayland-1, which
    // sway takes first in a folder of its own), for mutter once its session has begun, and for
    // gpbs once it has registered its name.
    const auto up = [&] {
        if (backend == Backend::x11) return readWholeFile(shown).ends_with('\n');
        if (backend == Backend::gnustep) return fs::exists(dir_.file("tmp/" + kGpbsName));
        return fs::exists(dir_.file(backend < Backend::mutter ? "wayland-1" : "session"));
    };
    if (!await([&] { return up() || ::waitpid(server_, nullptr, WNOHANG) != 0; }, kPatience) ||
        !up()) {
        stop(server_);
        throw std::runtime_error("the display server did not start:\n" + readWholeFile(log));
    }
    env_ = {backend == Backend::x11       ? "DISPLAY=:" + split(readWholeFile(shown))[0]
            : backend == Backend::gnustep ? "TMP=" + dir_.file("tmp")
                                          : "WAYLAND_DISPLAY=" + dir_.file("wayland-1"),
            kPath};
    for (const auto& line : split(readWholeFile(dir_.file("session"))))
        if (line.starts_with("DISPLAY=") || line.starts_with("XAUTHORITY=")) env_.push_back(line);
    // A server listens long before it answers: KWin loads its plugins, Xwayland compiles its
    // keymap, and on a loaded machine that takes longer than the tool waits for an answer. The
    // desktop is up once the peer's paste, and under mutter xclip on its Xwayland, are answered.
    // KWin tells a new data device of no selection at all while nothing has been copied, so a
    // paste there waits for ever; clearing the clipboard is answered at once.
    if (backend == Backend::kwin)
        runProgram({"wl-copy", "--clear"}, kPatience, env_);
    else
        types();
    if (backend == Backend::mutter)
        runProgram({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, kPatience, env_);
}

Desktop::~Desktop() {
    for (const pid_t pid : running())
        ::kill(pid, SIGKILL);
    stop(server_);
}

void Desktop::copy(const std::string& type, const std::string& bytes) {
    if (backend_ == Backend::gnustep) return copy({{type, bytes}});
    const auto before = running();  // the owner, which the peer's copy ends
    // xclip and wl-copy leave a process behind to serve the data until another client takes the
    // clipboard, holding whatever output it was given; with its output elsewhere, the run ends
    // when that process has been started (xclip) or has set the selection (wl-copy).
    const std::string peer = x11Peer(backend_) ? "xclip -selection clipboard -t" : "wl-copy --type";
    runProgram({"sh", "-c", "exec " + peer + " \"$0\" >/dev/null 2>&1", type}, kPatience, env_,
               bytes);
    const auto copied = [&] {
        return std::ranges::find_first_of(before, running()) == before.end() &&
               std::ranges::count(types(), type) != 0;  // KWin lists wl-copy's text twice
    };
    if (!await(copied, kPatience))
        throw std::runtime_error("the peer did not put " + type + " on the clipboard");
}

// The peer leaves nothing running: gpbs keeps what it was given.
void Desktop::copy(const Offer& offer) {
    if (backend_ != Backend::gnustep) return copy(offer.at(0).first, offer.at(0).second);
    std::vector<std::string> put{CLIPTINT_PASTEBOARD_PEER, "put"};
    for (const auto& [type, bytes] : offer) {
        put.insert(put.end(), {type, dir_.file("offered-" + std::to_string(put.size()))});
        writeWholeFile(put.back(), bytes);
    }
    if (runProgram(put, 60s, env_).status != 0) throw std::runtime_error("the peer put nothing");
}

std::string Desktop::paste(const std::string& type) const {
    if (backend_ == Backend::gnustep)
        return runProgram({CLIPTINT_PASTEBOARD_PEER, "paste", type}, 60s, env_).out;
    if (x11Peer(backend_))
        return runProgram({"xclip", "-selection", "clipboard", "-o", "-t", type}, kPatience, env_)
            .out;
    return runProgram({"wl-paste", "--no-newline", "--type", type}, kPatience, env_).out;
}

std::vector<std::string> Desktop::types() const {
    if (backend_ == Backend::gnustep)
        return split(runProgram({CLIPTINT_PASTEBOARD_PEER, "types"}, 20s, env_).out);
    return split(x11Peer(backend_) ? paste("TARGETS")
                                   : runProgram({"wl-paste", "--list-types"}, kPatience, env_).out);
}

std::vector<pid_t> Desktop::running(const std::string& exe) const {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        const auto path = fs::read_symlink(entry.path() / "exe", error);  // none for a zombie
        if (error || pid == ::getpid() || pid == server_) continue;
        if (!exe.empty() && path.filename() != fs::path(exe).filename()) continue;
        const std::string environ = '\0' + readWholeFile(entry.path() / "environ");
        if (environ.find('\0' + env_[0] + '\0') == std::string::npos) continue;
        found.push_back(pid);
    }
    return found;
}

}  // namespace cliptint::test
