#include "clipboard/x11_session.hpp"

#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcbext.h>

#include <array>
#include <cerrno>
#include <string_view>
#include <utility>

namespace cliptint::x11 {

namespace {

constexpr unsigned kConnectSeconds = 5;

// libxcb waits for the server's greeting with a poll that it restarts after every signal, so a
// server that accepts connections but never answers would hold the run for ever. The alarm ends
// the run instead, with the reply a run gets when no server is there at all.
void connectTimedOut(int) {
    static constexpr char kLine[] = "ERR no clipboard\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, kLine, sizeof kLine - 1);
    ::_exit(0);
}

XcbConnection connectWithin(unsigned seconds, int* screen) {
    struct sigaction onAlarm {};
    struct sigaction previous {};
    onAlarm.sa_handler = connectTimedOut;
    sigemptyset(&onAlarm.sa_mask);
    ::sigaction(SIGALRM, &onAlarm, &previous);
    ::alarm(seconds);
    XcbConnection connection(xcb_connect(nullptr, screen));
    ::alarm(0);
    ::sigaction(SIGALRM, &previous, nullptr);
    return connection;
}

std::optional<xcb_window_t> rootOf(xcb_connection_t* c, int screen) {
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int n = 0; roots.rem > 0; ++n, xcb_screen_next(&roots)) {
        if (n == screen) return roots.data->root;
    }
    return std::nullopt;
}

// All intern requests go out before the first reply is awaited: one round trip, not ten.
std::optional<Atoms> internAtoms(xcb_connection_t* c, Deadline deadline) {
    static constexpr std::array<std::pair<std::string_view, xcb_atom_t Atoms::*>, 10> kNames{{
        {"CLIPBOARD", &Atoms::clipboard},
        {"TARGETS", &Atoms::targets},
        {"TIMESTAMP", &Atoms::timestamp},
        {"MULTIPLE", &Atoms::multiple},
        {"ATOM_PAIR", &Atoms::atomPair},
        {"INCR", &Atoms::incr},
        {"image/png", &Atoms::png},
        {"image/tiff", &Atoms::tiff},
        {"CLIPTINT_SELECTION", &Atoms::transfer},
        {"CLIPTINT_TIME", &Atoms::clock},
    }};
    std::array<xcb_intern_atom_cookie_t, kNames.size()> cookies{};
    for (std::size_t n = 0; n < kNames.size(); ++n) {
        const auto name = kNames[n].first;
        cookies[n] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data());
    }
    Atoms atoms;
    for (std::size_t n = 0; n < kNames.size(); ++n) {
        const auto reply = awaitReply<xcb_intern_atom_reply_t>(c, cookies[n], deadline);
        if (!reply) return std::nullopt;
        atoms.*kNames[n].second = reply->atom;
    }
    return atoms;
}

std::optional<xcb_window_t> createWindow(xcb_connection_t* c, xcb_window_t root) {
    const xcb_window_t window = xcb_generate_id(c);
    if (window == static_cast<xcb_window_t>(-1)) return std::nullopt;
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, 0, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    return window;
}

// ICCCM 2.1: selections are owned and asked for with a server time, not CurrentTime. A
// zero-length append changes no property but makes the server send a PropertyNotify carrying
// its current time.
std::optional<xcb_timestamp_t> serverTime(xcb_connection_t* c, xcb_window_t window,
                                          xcb_atom_t property, Deadline deadline) {
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_STRING, 8, 0, nullptr);
    while (const auto event = nextEvent(c, deadline)) {
        if (responseType(*event) != XCB_PROPERTY_NOTIFY) continue;
        const auto& notify = eventAs<xcb_property_notify_event_t>(*event);
        if (notify.window == window && notify.atom == property) return notify.time;
    }
    return std::nullopt;
}

// Waits until the connection has bytes to read; false when the deadline passes first.
bool awaitReadable(xcb_connection_t* c, Deadline deadline) {
    pollfd socket{xcb_get_file_descriptor(c), POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&socket, 1, pollTimeout(deadline));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

}  // namespace

Result<Session> openSession() {
    int screen = 0;
    XcbConnection connection = connectWithin(kConnectSeconds, &screen);
    xcb_connection_t* c = connection.get();
    if (xcb_connection_has_error(c) != 0) return std::unexpected("no clipboard");
    const auto root = rootOf(c, screen);
    if (!root) return std::unexpected("no clipboard");

    const Deadline deadline = answerDeadline();
    const auto atoms = internAtoms(c, deadline);
    if (!atoms) return std::unexpected("no clipboard");
    const auto window = createWindow(c, *root);
    if (!window) return std::unexpected("no clipboard");
    const auto time = serverTime(c, *window, atoms->clock, deadline);
    if (!time) return std::unexpected("no clipboard");
    return Session{std::move(connection), *window, *atoms, *time};
}

// libxcb may already hold events it read while looking for a reply; the socket shows only bytes
// not yet read, so the queue is emptied before each poll.
XcbEvent nextEvent(xcb_connection_t* c, Deadline deadline) {
    xcb_flush(c);
    for (;;) {
        if (XcbEvent event{xcb_poll_for_event(c)}) return event;
        if (xcb_connection_has_error(c) != 0) return nullptr;
        if (!awaitReadable(c, deadline)) return nullptr;
    }
}

// xcb_wait_for_reply has no time limit; polling for the reply bounds the wait on a server that
// has stopped answering.
void* awaitReplyData(xcb_connection_t* c, unsigned sequence, Deadline deadline) {
    xcb_flush(c);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &reply, &error) != 0) {
            std::free(error);
            return reply;
        }
        if (xcb_connection_has_error(c) != 0) return nullptr;
        if (!awaitReadable(c, deadline)) return nullptr;
    }
}

}  // namespace cliptint::x11
