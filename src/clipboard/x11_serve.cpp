#include "clipboard/x11_serve.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace cliptint::x11 {

namespace {

// Readers that stop taking chunks are given up after this long, so their state cannot pile up.
constexpr auto kTransferWait = std::chrono::seconds(10);
constexpr std::size_t kMaxTransfers = 64;
// A MULTIPLE request may name at most 512 (target, property) pairs.
constexpr std::uint32_t kMaxMultipleWords = 1024;

}  // namespace

SelectionServer::SelectionServer(const Session& session, std::span<const std::uint8_t> png,
                                 std::size_t chunkBytes)
    : session_(session),
      c_(session.c()),
      png_(png),
      chunkBytes_(std::max<std::size_t>(chunkBytes, 1)) {}

void SelectionServer::run() {
    for (;;) {
        const auto event = nextEvent(c_, nextDeadline());
        if (!event && xcb_connection_has_error(c_) != 0) return;
        if (event && !handle(*event)) return;
        dropExpired();
    }
}

bool SelectionServer::handle(const xcb_generic_event_t& event) {
    switch (responseType(event)) {
        case 0: {
            // A requestor that vanished makes our next request about its window fail; that ends
            // its transfers and nothing else.
            const auto& error = eventAs<xcb_generic_error_t>(event);
            if (error.error_code == XCB_WINDOW) drop(error.resource_id);
            break;
        }
        case XCB_SELECTION_REQUEST:
            answer(eventAs<xcb_selection_request_event_t>(event));
            break;
        case XCB_SELECTION_CLEAR: {
            const auto& clear = eventAs<xcb_selection_clear_event_t>(event);
            if (clear.selection == session_.atoms.clipboard && clear.owner == session_.window) {
                return false;
            }
            break;
        }
        case XCB_PROPERTY_NOTIFY:
            sendNextChunk(eventAs<xcb_property_notify_event_t>(event));
            break;
        case XCB_DESTROY_NOTIFY:
            drop(eventAs<xcb_destroy_notify_event_t>(event).window);
            break;
        default:
            break;
    }
    return true;
}

// ICCCM 2.2: a request without a property comes from an obsolete client, and its target names
// the property; MULTIPLE alone cannot work that way and is refused (2.6.2).
void SelectionServer::answer(const xcb_selection_request_event_t& request) {
    xcb_atom_t property = request.property;
    if (property == XCB_NONE && request.target != session_.atoms.multiple) {
        property = request.target;
    }
    const bool converted = property != XCB_NONE && request.selection == session_.atoms.clipboard &&
                           !predatesOwnership(request.time) &&
                           (request.target == session_.atoms.multiple
                                ? convertMultiple(request.requestor, property)
                                : convert(request.requestor, request.target, property));
    notify(request, converted ? property : XCB_NONE);
}

// One target into the property on the requestor's window; false for a target not offered.
bool SelectionServer::convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property) {
    const Atoms& atoms = session_.atoms;
    if (target == atoms.targets) {
        const std::array offered{atoms.targets, atoms.timestamp, atoms.multiple, atoms.png};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                            offered.size(), offered.data());
        return true;
    }
    if (target == atoms.timestamp) {
        // ICCCM 2.6.2: the time at which the selection was taken.
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &session_.time);
        return true;
    }
    if (target == atoms.png) return putPng(requestor, property);
    return false;
}

// ICCCM 2.6.2: the property holds (target, property) atom pairs, converted in order and each on
// its own; a pair that cannot be converted gets None as its property, and one SelectionNotify
// answers them all.
bool SelectionServer::convertMultiple(xcb_window_t requestor, xcb_atom_t property) {
    const auto cookie = xcb_get_property(c_, 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                         kMaxMultipleWords);
    const auto reply = awaitReply<xcb_get_property_reply_t>(c_, cookie, answerDeadline());
    if (!reply || reply->format != 32) return false;
    const auto* value = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    std::vector<xcb_atom_t> pairs(value, value + reply->value_len / 2 * 2);
    for (std::size_t n = 0; n < pairs.size(); n += 2) {
        const bool converted = pairs[n] != session_.atoms.multiple && pairs[n + 1] != XCB_NONE &&
                               convert(requestor, pairs[n], pairs[n + 1]);
        if (!converted) pairs[n + 1] = XCB_NONE;
    }
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        static_cast<std::uint32_t>(pairs.size()), pairs.data());
    return true;
}

bool SelectionServer::putPng(xcb_window_t requestor, xcb_atom_t property) {
    // A new request into the same property starts that transfer over.
    if (const auto old = find(requestor, property); old != transfers_.end()) transfers_.erase(old);
    if (png_.size() > chunkBytes_) return startIncr(requestor, property);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, session_.atoms.png, 8,
                        static_cast<std::uint32_t>(png_.size()), png_.data());
    return true;
}

// ICCCM 2.7.2: PropertyNotify on the requestor's window is selected before INCR is announced,
// so that its deletion of the property, the cue for each chunk, cannot be missed; DestroyNotify
// tells when the requestor is gone. The INCR value is a lower bound of the size.
bool SelectionServer::startIncr(xcb_window_t requestor, xcb_atom_t property) {
    if (transfers_.size() >= kMaxTransfers) return false;
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &events);
    const auto sizeAtLeast =
        static_cast<std::uint32_t>(std::min<std::size_t>(png_.size(), UINT32_MAX));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, session_.atoms.incr, 32, 1,
                        &sizeAtLeast);
    transfers_.push_back({requestor, property, 0, Clock::now() + kTransferWait});
    return true;
}

// The requestor deleted the property: it took the last chunk and wants the next. After the last
// chunk comes a zero-length one, which ends the transfer.
void SelectionServer::sendNextChunk(const xcb_property_notify_event_t& notify) {
    if (notify.state != XCB_PROPERTY_DELETE) return;
    const auto transfer = find(notify.window, notify.atom);
    if (transfer == transfers_.end()) return;
    const std::size_t size = std::min(chunkBytes_, png_.size() - transfer->sent);
    xcb_change_property(c_, XCB_PROP_MODE_APPEND, notify.window, notify.atom, session_.atoms.png, 8,
                        static_cast<std::uint32_t>(size), png_.data() + transfer->sent);
    if (size == 0) {
        transfers_.erase(transfer);
        stopWatching(notify.window);
        return;
    }
    transfer->sent += size;
    transfer->deadline = Clock::now() + kTransferWait;
}

// ICCCM 2.2: the answer is sent to the requestor window with an empty event mask, which delivers
// it to the client that created the window. SendEvent always sends 32 bytes, more than the event
// struct holds, so it goes out from a zeroed 32-byte buffer.
void SelectionServer::notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    std::array<char, 32> wire{};
    static_assert(sizeof event <= wire.size());
    std::memcpy(wire.data(), &event, sizeof event);
    xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, wire.data());
}

// ICCCM 2.2: requests made with a time before we took the selection are refused. Server time is
// 32-bit milliseconds that wrap, so the difference decides, not the raw values.
bool SelectionServer::predatesOwnership(xcb_timestamp_t time) const {
    if (time == XCB_CURRENT_TIME) return false;
    return static_cast<std::int32_t>(time - session_.time) < 0;
}

SelectionServer::Transfers::iterator SelectionServer::find(xcb_window_t requestor,
                                                           xcb_atom_t property) {
    return std::ranges::find_if(transfers_, [&](const Transfer& transfer) {
        return transfer.requestor == requestor && transfer.property == property;
    });
}

void SelectionServer::drop(xcb_window_t requestor) {
    std::erase_if(transfers_,
                  [&](const Transfer& transfer) { return transfer.requestor == requestor; });
}

void SelectionServer::dropExpired() {
    const auto now = Clock::now();
    std::vector<xcb_window_t> expired;
    for (const Transfer& transfer : transfers_) {
        if (transfer.deadline <= now) expired.push_back(transfer.requestor);
    }
    std::erase_if(transfers_, [&](const Transfer& transfer) { return transfer.deadline <= now; });
    for (const xcb_window_t requestor : expired)
        stopWatching(requestor);
}

// Events from a window with no transfer left are of no use; they are deselected. For a window
// that is gone this fails with BadWindow, which is harmless.
void SelectionServer::stopWatching(xcb_window_t requestor) {
    const bool busy = std::ranges::any_of(
        transfers_, [&](const Transfer& transfer) { return transfer.requestor == requestor; });
    if (busy) return;
    const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &none);
}

Deadline SelectionServer::nextDeadline() const {
    Deadline next = Deadline::max();
    for (const Transfer& transfer : transfers_)
        next = std::min(next, transfer.deadline);
    return next;
}

}  // namespace cliptint::x11
