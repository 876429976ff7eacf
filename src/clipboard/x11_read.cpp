#include "clipboard/x11_read.hpp"

#include <algorithm>
#include <cstring>

#include "sys/io.hpp"

namespace cliptint::x11 {

namespace {

// A GetProperty asks for at most this many 32-bit units (256 KiB), so no reply is large however
// large the property.
constexpr std::uint32_t kChunkWords = 64 * 1024;

struct PropertyHead {
    xcb_atom_t type = XCB_NONE;   // XCB_NONE: there is no such property
    std::uint8_t format = 0;      // 8, 16 or 32 bits an item
    std::uint32_t size = 0;       // bytes
    std::uint32_t firstWord = 0;  // the first 32-bit item, for INCR's size
};

// A property of bytes (format 8) of the target's type: anything else is not data of the target.
bool holds(const PropertyHead& head, xcb_atom_t target) {
    return head.type == target && head.format == 8;
}

Conversion stalled() {
    return Conversion{std::nullopt, true};
}

// Each answer comes within kAnswerWait, and the last by the whole read's deadline.
Deadline answerBy(Deadline deadline) {
    return std::min(answerDeadline(), deadline);
}

// The owner's SelectionNotify for our window: the property it names, XCB_NONE for a refusal, or
// nullopt when the deadline passes first.
std::optional<xcb_atom_t> awaitSelectionNotify(const Session& session, Deadline deadline) {
    while (const auto event = nextEvent(session.c(), deadline)) {
        if (responseType(*event) != XCB_SELECTION_NOTIFY) continue;
        const auto& notify = eventAs<xcb_selection_notify_event_t>(*event);
        if (notify.requestor == session.window && notify.selection == session.atoms.clipboard) {
            return notify.property;
        }
    }
    return std::nullopt;
}

// Waits for a new value of the property on our window; false when the deadline passes first.
bool awaitNewValue(const Session& session, xcb_atom_t property, Deadline deadline) {
    while (const auto event = nextEvent(session.c(), deadline)) {
        if (responseType(*event) != XCB_PROPERTY_NOTIFY) continue;
        const auto& notify = eventAs<xcb_property_notify_event_t>(*event);
        if (notify.window == session.window && notify.atom == property &&
            notify.state == XCB_PROPERTY_NEW_VALUE) {
            return true;
        }
    }
    return false;
}

// The property's type, format and size, with at most its first 32-bit item.
std::optional<PropertyHead> peekProperty(const Session& session, xcb_atom_t property,
                                         Deadline deadline) {
    const auto cookie =
        xcb_get_property(session.c(), 0, session.window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1);
    const auto reply =
        awaitReply<xcb_get_property_reply_t>(session.c(), cookie, answerBy(deadline));
    if (!reply) return std::nullopt;
    const auto length = static_cast<std::uint32_t>(xcb_get_property_value_length(reply.get()));
    PropertyHead head{reply->type, reply->format, length + reply->bytes_after, 0};
    if (length >= sizeof head.firstWord) {
        std::memcpy(&head.firstWord, xcb_get_property_value(reply.get()), sizeof head.firstWord);
    }
    return head;
}

// Appends the whole property to data in chunks of kChunkWords; the read that reaches the end
// deletes it, which tells the owner it was taken (ICCCM 2.4). False when a reply does not come
// in time or the property changes under the reads.
Result<bool> takeProperty(const Session& session, xcb_atom_t property, Deadline deadline,
                          std::int64_t maxBytes, ByteCollector& data) {
    for (std::uint32_t offset = 0;; offset += kChunkWords) {
        const auto cookie = xcb_get_property(session.c(), 1, session.window, property,
                                             XCB_GET_PROPERTY_TYPE_ANY, offset, kChunkWords);
        const auto reply =
            awaitReply<xcb_get_property_reply_t>(session.c(), cookie, answerBy(deadline));
        if (!reply) return false;
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
        if (data.size() + std::int64_t(length) > maxBytes) return std::unexpected("picture size");
        const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
        if (!data.append({value, length})) return std::unexpected("memory");
        if (reply->bytes_after == 0) return true;
        if (length != std::size_t{kChunkWords} * 4) return false;
    }
}

// The bytes taken, in one vector. Failure: "memory".
Result<Conversion> taken(ByteCollector& data) {
    auto bytes = data.take();
    if (!bytes) return std::unexpected("memory");
    return Conversion{std::move(*bytes)};
}

// ICCCM 2.7.2: deleting the INCR property starts the transfer; the owner then puts each chunk
// into the property and waits for us to delete it, and a zero-length chunk ends the data. The
// size the owner announces is a lower bound that it may well not keep, so nothing is set aside
// for it; only one too large to be allowed counts.
Result<Conversion> readIncrementally(const Session& session, xcb_atom_t target, xcb_atom_t property,
                                     std::uint32_t sizeAtLeast, Deadline deadline,
                                     std::int64_t maxBytes) {
    xcb_delete_property(session.c(), session.window, property);
    if (sizeAtLeast > maxBytes) return std::unexpected("picture size");
    ByteCollector data;
    for (;;) {
        if (!awaitNewValue(session, property, answerBy(deadline))) return stalled();
        const auto head = peekProperty(session, property, deadline);
        if (!head) return stalled();
        if (head->size == 0) break;
        if (!holds(*head, target)) return Conversion{};
        if (data.size() + head->size > maxBytes) return std::unexpected("picture size");
        const auto whole = takeProperty(session, property, deadline, maxBytes, data);
        if (!whole) return std::unexpected(whole.error());
        if (!*whole) return stalled();
    }
    xcb_delete_property(session.c(), session.window, property);
    return taken(data);
}

}  // namespace

Result<Conversion> convertClipboard(Session& session, xcb_atom_t target, std::int64_t maxBytes,
                                    Deadline deadline) {
    xcb_convert_selection(session.c(), session.window, session.atoms.clipboard, target,
                          session.atoms.transfer, session.time);
    const auto property = awaitSelectionNotify(session, answerBy(deadline));
    if (!property) return stalled();
    if (*property == XCB_NONE) return Conversion{};

    const auto head = peekProperty(session, *property, deadline);
    if (!head) return stalled();
    if (head->type == session.atoms.incr) {
        return readIncrementally(session, target, *property, head->firstWord, deadline, maxBytes);
    }
    if (!holds(*head, target)) {
        xcb_delete_property(session.c(), session.window, *property);
        return Conversion{};
    }
    if (head->size > maxBytes) return std::unexpected("picture size");
    ByteCollector data;
    const auto whole = takeProperty(session, *property, deadline, maxBytes, data);
    if (!whole) return std::unexpected(whole.error());
    if (!*whole) return stalled();
    return taken(data);
}

}  // namespace cliptint::x11
