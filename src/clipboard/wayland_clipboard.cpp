#include "clipboard/wayland_clipboard.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>

#include "clipboard/wayland_connection.hpp"
#include "clipboard/wayland_owner.hpp"
#include "sys/calls.hpp"
#include "sys/fd.hpp"
#include "sys/io.hpp"

namespace cliptint {

namespace {

// How long the compositor may take to answer a round trip.
constexpr auto kAnswerWithin = std::chrono::seconds(2);
// A transfer that moves no byte for this long has stalled.
constexpr auto kTransferStall = std::chrono::seconds(5);

std::string_view mimeTypeOf(PictureType type) {
    return type == PictureType::png ? "image/png" : "image/tiff";
}

bool offers(const wayland::OfferTypes& types, PictureType type) {
    return type == PictureType::png ? types.png : types.tiff;
}

// Reads the pipe to its end. The owner must keep the data moving and finish by the deadline;
// more than kMaxInputBytes is refused as soon as it arrives.
Result<Bytes> readTransfer(int fd, Deadline deadline) {
    auto bytes = readBounded(
        fd,
        {.maxBytes = kMaxInputBytes, .sizeHint = 0, .stall = kTransferStall, .deadline = deadline});
    if (bytes) return std::move(*bytes);
    if (bytes.error() == ReadError::tooLarge) return std::unexpected("picture size");
    if (bytes.error() == ReadError::memory) return std::unexpected("memory");
    return std::unexpected("no picture on the clipboard");
}

class WaylandClipboard final : public Clipboard {
  public:
    WaylandClipboard(std::unique_ptr<wayland::Connection> connection, bool handedOver)
        : connection_(std::move(connection)), handedOver_(handedOver) {}

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        if (!readDeadline_) readDeadline_ = Clock::now() + kReadLimit;
        if (auto watched = watchSelection(); !watched) return std::unexpected(watched.error());
        const auto& offer = watch_.current;
        if (!offer || !offers(*offer->types, type)) return std::nullopt;
        return receive(*offer, mimeTypeOf(type));
    }

    // Setting the selection replaces everything it held, in one step; clearing it first would
    // leave the clipboard empty whenever the new selection cannot be set.
    Result<void> clear() override { return {}; }

    // The compositor asks the selection's owner for the data whenever someone pastes, so a
    // process has to stay behind and serve it, on a connection of its own. A connection handed
    // over as WAYLAND_SOCKET serves one process only, and any other way to a compositor is one
    // the session did not give: then nothing is written.
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        if (handedOver_) return std::unexpected("write");
        return wayland::ownSelection(mimeTypeOf(type), bytes);
    }

  private:
    // The compositor sends the current selection as soon as a device exists.
    Result<void> watchSelection() {
        if (!device_) {
            device_ = connection_->makeDevice(watch_);
            if (!connection_->roundtrip(Clock::now() + kAnswerWithin)) {
                return std::unexpected("no clipboard");
            }
        }
        if (watch_.finished) return std::unexpected("no clipboard");
        return {};
    }

    Result<std::optional<Bytes>> receive(const wayland::Offer& offer, std::string_view mimeType) {
        int ends[2];
        if (sys::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected("no clipboard");
        OwnedFd readEnd(ends[0]);
        OwnedFd writeEnd(ends[1]);
        const Deadline answered = std::min(Clock::now() + kAnswerWithin, *readDeadline_);
        if (!connection_->receive(offer, mimeType, writeEnd.get(), answered)) {
            return std::unexpected("no clipboard");
        }
        // Only the owner may hold the writing end now, or the pipe never reports its end.
        writeEnd.reset();
        auto bytes = readTransfer(readEnd.get(), *readDeadline_);
        if (!bytes) return std::unexpected(bytes.error());
        return std::move(*bytes);
    }

    // Declared first so that it goes last: the objects below live on this connection.
    std::unique_ptr<wayland::Connection> connection_;
    wayland::SelectionWatch watch_;
    wayland::Proxy device_;
    bool handedOver_;
    std::optional<Deadline> readDeadline_;  // set by the first read
};

}  // namespace

std::unique_ptr<Clipboard> connectWaylandClipboard() {
    // Read before connecting: libwayland takes the socket and removes the variable.
    const bool handedOver = std::getenv("WAYLAND_SOCKET") != nullptr;
    auto connection = wayland::Connection::open(Clock::now() + kAnswerWithin);
    if (!connection) return nullptr;
    return std::make_unique<WaylandClipboard>(std::move(connection), handedOver);
}

}  // namespace cliptint
