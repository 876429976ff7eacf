#include "clipboard/x_display.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace cliptint::test {

namespace {

using namespace std::chrono_literals;

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result;
    for (auto& word : words)
        result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

// Forks and execs with stdio on /dev/null; keepFd, when >= 0, stays open across the exec.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int keepFd) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
    if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
    auto args = pointers(argv);
    auto envp = pointers(env);
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int n = 0; n < 100; ++n) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(20ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::string readLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return line;
}

std::string fileText(const std::string& path) {
    std::string text = readWholeFile(path);
    std::replace(text.begin(), text.end(), '\0', '\n');
    return text;
}

}  // namespace

Xvfb::Xvfb() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = spawn({"Xvfb", "-displayfd", std::to_string(ends[1]), "-nolisten", "tcp", "-noreset",
                  "-screen", "0", "64x64x24"},
                 {"PATH=" + std::string(std::getenv("PATH"))}, ends[1]);
    ::close(ends[1]);
    const std::string number = readLine(ends[0], 20s);
    ::close(ends[0]);
    if (number.empty() || number.back() != '\n') {
        stop(pid_);
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = std::string(":").append(number, 0, number.size() - 1);
}

Xvfb::~Xvfb() {
    for (const pid_t pid : toolProcessesOn(display_))
        ::kill(pid, SIGKILL);
    stop(pid_);
}

std::vector<std::string> Xvfb::env() const {
    return {"DISPLAY=" + display_, "PATH=" + std::string(std::getenv("PATH"))};
}

Background::Background(std::vector<std::string> argv, const std::vector<std::string>& env)
    : pid_(spawn(std::move(argv), env, -1)) {}

Background::~Background() {
    stop(pid_);
}

bool alive(pid_t pid) {
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool awaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (alive(pid)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<pid_t> toolProcessesOn(const std::string& display) {
    std::vector<pid_t> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string cmdline = fileText(entry.path() / "cmdline");
        const std::string environ = fileText(entry.path() / "environ");
        if (cmdline.rfind(std::string(CLIPTINT_BINARY) + "\n", 0) != 0) continue;
        if (environ.find("DISPLAY=" + display + "\n") == std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (alive(pid)) found.push_back(pid);
    }
    return found;
}

XClient::XClient(const std::string& display) {
    c_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c_) != 0) throw std::runtime_error("no display " + display);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c_, 0, window_, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_flush(c_);
}

XClient::~XClient() {
    xcb_disconnect(c_);
}

xcb_atom_t XClient::atom(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

std::string XClient::atomName(xcb_atom_t atom) {
    auto* reply = xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, atom), nullptr);
    if (reply == nullptr) return "";
    std::string name(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

xcb_window_t XClient::clipboardOwner() {
    auto* reply =
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom("CLIPBOARD")), nullptr);
    const xcb_window_t owner = reply != nullptr ? reply->owner : XCB_NONE;
    std::free(reply);
    return owner;
}

namespace {

// The next event of the given type, waiting at most 5 s.
xcb_generic_event_t* awaitEvent(xcb_connection_t* c, int type) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    xcb_flush(c);
    while (std::chrono::steady_clock::now() < end) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == type) return event;
            std::free(event);
        }
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, 100);
    }
    return nullptr;
}

}  // namespace

std::optional<xcb_atom_t> XClient::convert(xcb_atom_t target, xcb_atom_t property) {
    xcb_convert_selection(c_, window_, atom("CLIPBOARD"), target, property, XCB_CURRENT_TIME);
    auto* event = awaitEvent(c_, XCB_SELECTION_NOTIFY);
    if (event == nullptr) return std::nullopt;
    const xcb_atom_t answered = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
    std::free(event);
    return answered;
}

bool XClient::awaitProperty(xcb_atom_t property, std::uint8_t state) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < end) {
        auto* event = awaitEvent(c_, XCB_PROPERTY_NOTIFY);
        if (event == nullptr) return false;
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        const bool match = notify->atom == property && notify->state == state;
        std::free(event);
        if (match) return true;
    }
    return false;
}

XClient::Property XClient::read(xcb_atom_t property) {
    auto* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 16 << 20),
        nullptr);
    Property result;
    if (reply == nullptr) return result;
    result.type = reply->type;
    result.format = reply->format;
    result.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return result;
}

void XClient::write32(xcb_atom_t property, xcb_atom_t type,
                      const std::vector<std::uint32_t>& items) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, property, type, 32,
                        static_cast<std::uint32_t>(items.size()), items.data());
    xcb_flush(c_);
}

bool awaitNewOwner(XClient& client, xcb_window_t before) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < end) {
        const xcb_window_t owner = client.clipboardOwner();
        if (owner != XCB_NONE && owner != before) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

}  // namespace cliptint::test
