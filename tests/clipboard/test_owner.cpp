// A deliberately simple CLIPBOARD owner for the tests, written apart from the tool's own X11 code
// so that each checks the other. It offers the files it is given under their targets, logs every
// target it is asked for, and misbehaves on request:
//
//   cliptint_test_owner MODE LOG [TARGET FILE]...
//
//   serve       answers each offered target with the file, typed as the target; refuses others
//   mistyped    as serve, but answers any other target with text, as many real owners do
//   silent      takes the selection and never answers a request
//   stall-incr  answers image/png by INCR, sends one chunk, and then stops
//   huge-incr   answers image/png by INCR announcing 2 GiB, and sends nothing
//
// It runs until another client takes the selection, or for 60 s at most.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

xcb_connection_t* c = nullptr;
xcb_window_t window = 0;
std::string mode;
std::string logPath;
std::map<xcb_atom_t, std::string> offered;  // target -> bytes

xcb_atom_t intern(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

std::string nameOf(xcb_atom_t atom) {
    auto* reply = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr);
    if (reply == nullptr) return "?";
    std::string name(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

void logTarget(xcb_atom_t target) {
    std::ofstream(logPath, std::ios::app) << nameOf(target) << '\n';
}

void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    char wire[32] = {};
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    std::memcpy(wire, &event, sizeof event);
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, wire);
    xcb_flush(c);
}

void startIncr(const xcb_selection_request_event_t& request, uint32_t announced) {
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &events);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                        intern("INCR"), 32, 1, &announced);
    notify(request, request.property);
}

void answerWithText(const xcb_selection_request_event_t& request) {
    static const std::string text = "text, not a picture";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                        intern("UTF8_STRING"), 8, static_cast<uint32_t>(text.size()), text.data());
    notify(request, request.property);
}

void answer(const xcb_selection_request_event_t& request) {
    logTarget(request.target);
    if (mode == "silent") return;
    if (mode == "huge-incr") return startIncr(request, 0x80000000u);
    const auto data = offered.find(request.target);
    if (data == offered.end() && mode == "mistyped") return answerWithText(request);
    if (data == offered.end()) return notify(request, XCB_NONE);
    if (mode == "stall-incr") return startIncr(request, static_cast<uint32_t>(data->second.size()));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                        request.target, 8, static_cast<uint32_t>(data->second.size()),
                        data->second.data());
    notify(request, request.property);
}

// stall-incr: the first deletion of the INCR property gets one chunk; later ones get nothing.
void sendOneChunk(const xcb_property_notify_event_t& event) {
    static bool sent = false;
    if (mode != "stall-incr" || event.state != XCB_PROPERTY_DELETE || sent) return;
    sent = true;
    const std::string& png = offered.begin()->second;
    xcb_change_property(c, XCB_PROP_MODE_APPEND, event.window, event.atom, offered.begin()->first,
                        8, static_cast<uint32_t>(std::min<size_t>(png.size(), 1000)), png.data());
    xcb_flush(c);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    ::alarm(60);
    mode = argv[1];
    logPath = argv[2];
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) return 1;
    for (int n = 3; n + 1 < argc; n += 2) {
        std::ifstream file(argv[n + 1], std::ios::binary);
        offered[intern(argv[n])] = {std::istreambuf_iterator<char>(file), {}};
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    xcb_create_window(c, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = intern("CLIPBOARD");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_flush(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const int type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) return 0;
        if (type == XCB_SELECTION_REQUEST) {
            answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        }
        if (type == XCB_PROPERTY_NOTIFY) {
            sendOneChunk(*reinterpret_cast<xcb_property_notify_event_t*>(event));
        }
        std::free(event);
    }
    return 0;
}
