// A CLIPBOARD owner that misbehaves as no real peer does, written apart from the tool's own X11
// code. It offers the file as image/png, refuses other targets, logs every target it is asked
// for, and creates the log once it owns the clipboard:
//
//   cliptint_test_owner MODE LOG FILE
//
//   plain       answers with the whole file in the property
//   silent      never answers a request
//   incr        answers by INCR in 64-byte chunks, and sends the requestor events that are not
//               for it: refusals for the PRIMARY selection and for another window before the
//               answer, and before each chunk a ClientMessage laid out like a PropertyNotify, a
//               PropertyNotify for another window, and a new value of another property
//   stall-incr  answers by INCR, sends one chunk, and then stops
//   huge-incr   answers by INCR announcing 2 GiB, and sends nothing
//
// It runs until another client takes the selection, or for 60 s at most.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

namespace {

xcb_connection_t* c = nullptr;
xcb_window_t root = 0;
std::string mode;
xcb_atom_t png = XCB_NONE;
std::string offered;
std::map<std::pair<xcb_window_t, xcb_atom_t>, std::size_t> sent;  // (requestor, property) -> bytes

xcb_atom_t intern(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

std::string nameOf(xcb_atom_t atom) {
    auto* reply = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr);
    std::string name(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

template <typename Event>
void send(xcb_window_t to, const Event& event) {
    char wire[32] = {};
    std::memcpy(wire, &event, sizeof event);
    xcb_send_event(c, 0, to, XCB_EVENT_MASK_NO_EVENT, wire);
}

void answer(const xcb_selection_request_event_t& request, const std::string& log) {
    std::ofstream(log, std::ios::app) << nameOf(request.target) << '\n';
    if (mode == "silent") return;
    const xcb_atom_t property = request.target == png ? request.property : XCB_NONE;
    if (property == XCB_NONE) {
    } else if (mode.ends_with("incr")) {
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        const uint32_t size = mode == "huge-incr" ? 0x80000000u : uint32_t(offered.size());
        xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &events);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, intern("INCR"),
                            32, 1, &size);
        if (mode != "huge-incr") sent[{request.requestor, property}] = 0;
    } else {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, png, 8,
                            uint32_t(offered.size()), offered.data());
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    if (mode == "incr") {  // refusals first, for the PRIMARY selection and for another window
        xcb_selection_notify_event_t other = notify;
        other.property = XCB_NONE;
        other.selection = XCB_ATOM_PRIMARY;
        send(request.requestor, other);
        other.selection = notify.selection;
        other.requestor = root;
        send(request.requestor, other);
    }
    send(request.requestor, notify);
}

// The requestor deleted the property: it took the last chunk and waits for the next.
void nextChunk(const xcb_property_notify_event_t& event) {
    const auto found = sent.find({event.window, event.atom});
    if (event.state != XCB_PROPERTY_DELETE || found == sent.end()) return;
    if (mode == "stall-incr" && found->second > 0) return;
    if (mode == "incr") {
        xcb_client_message_event_t lookalike{};
        lookalike.response_type = XCB_CLIENT_MESSAGE;
        lookalike.format = 32;
        lookalike.window = event.window;
        lookalike.type = event.atom;  // where a PropertyNotify has its atom; state 0 is NewValue
        send(event.window, lookalike);
        xcb_property_notify_event_t elsewhere{};
        elsewhere.response_type = XCB_PROPERTY_NOTIFY;
        elsewhere.window = root;
        elsewhere.atom = event.atom;
        elsewhere.state = XCB_PROPERTY_NEW_VALUE;
        send(event.window, elsewhere);
        const char noise = 'x';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, event.window, intern("CLIPTINT_NOISE"),
                            XCB_ATOM_STRING, 8, 1, &noise);
        xcb_flush(c);
        ::usleep(20'000);  // so that a reader taking the noise for the chunk finds none yet
    }
    const std::size_t size = std::min<std::size_t>(64, offered.size() - found->second);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, event.window, event.atom, png, 8, uint32_t(size),
                        offered.data() + found->second);
    found->second += size;
    if (size == 0) sent.erase(found);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    ::alarm(60);
    mode = argv[1];
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) return 1;
    png = intern("image/png");
    std::ifstream file(argv[3], std::ios::binary);
    offered.assign(std::istreambuf_iterator<char>(file), {});
    root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, 0, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = intern("CLIPBOARD");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    std::free(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    std::ofstream(argv[2], std::ios::trunc).flush();
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const int type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) return 0;
        if (type == XCB_SELECTION_REQUEST)
            answer(*reinterpret_cast<xcb_selection_request_event_t*>(event), argv[2]);
        if (type == XCB_PROPERTY_NOTIFY)
            nextChunk(*reinterpret_cast<xcb_property_notify_event_t*>(event));
        xcb_flush(c);
        std::free(event);
    }
    return 0;
}
