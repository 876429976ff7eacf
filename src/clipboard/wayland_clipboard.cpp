#include "clipboard/wayland_clipboard.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "clipboard/wayland_connection.hpp"
#include "clipboard/wayland_owner.hpp"

namespace cliptint {

namespace {

using wayland::Clock;

// How long the compositor may take to answer a round trip.
constexpr auto kAnswerWithin = std::chrono::seconds(2);
// How long the serving process may take to show that the selection is its own. It spends at most
// its own limit (three seconds) on that; the rest is slack for a loaded machine.
constexpr auto kOwnedWithin = std::chrono::seconds(6);
// A transfer that moves no byte for this long has stalled; a whole transfer ends within the
// second limit, which leaves room for the biggest picture allowed.
constexpr auto kTransferStall = std::chrono::seconds(5);
constexpr auto kTransferLimit = std::chrono::seconds(60);

std::string_view mimeTypeOf(PictureType type) {
    return type == PictureType::png ? "image/png" : "image/tiff";
}

bool offers(const wayland::OfferTypes& types, PictureType type) {
    return type == PictureType::png ? types.png : types.tiff;
}

// Reads the pipe to its end. The owner must keep the data moving and finish in time; more than
// kMaxInputBytes is refused as soon as it arrives.
Result<Bytes> readTransfer(int fd) {
    const auto limit = Clock::now() + kTransferLimit;
    Bytes bytes;
    std::uint8_t buffer[65536];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const auto deadline = std::min(limit, Clock::now() + kTransferStall);
        const int ready = ::poll(&readable, 1, wayland::millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::unexpected("no picture on the clipboard");
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) return std::unexpected("no picture on the clipboard");
        if (got == 0) return bytes;
        if (static_cast<std::int64_t>(bytes.size()) + got > kMaxInputBytes) {
            return std::unexpected("picture size");
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
}

// Waits for the serving process's word; anything else, an early end or silence means the
// selection is not ours.
bool awaitOwnership(int fd) {
    const auto deadline = Clock::now() + kOwnedWithin;
    std::string heard;
    char buffer[16];
    while (heard.size() < wayland::kOwnedReport.size()) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, wayland::millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        heard.append(buffer, static_cast<std::size_t>(got));
    }
    return heard == wayland::kOwnedReport;
}

class WaylandClipboard final : public Clipboard {
  public:
    explicit WaylandClipboard(std::unique_ptr<wayland::Connection> connection)
        : connection_(std::move(connection)) {}

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        if (auto watched = watchSelection(); !watched) return std::unexpected(watched.error());
        const auto& offer = watch_.current;
        if (!offer || !offers(*offer->types, type)) return std::nullopt;
        return receive(*offer, mimeTypeOf(type));
    }

    // Setting the selection replaces everything it held, in one step; clearing it first would
    // leave the clipboard empty whenever the new selection cannot be set.
    Result<void> clear() override { return {}; }

    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override;

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
        if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected("no clipboard");
        wayland::OwnedFd readEnd(ends[0]);
        wayland::OwnedFd writeEnd(ends[1]);
        if (!connection_->receive(offer, mimeType, writeEnd.get(), Clock::now() + kAnswerWithin)) {
            return std::unexpected("no clipboard");
        }
        // Only the owner may hold the writing end now, or the pipe never reports its end.
        writeEnd.reset();
        auto bytes = readTransfer(readEnd.get());
        if (!bytes) return std::unexpected(bytes.error());
        return std::move(*bytes);
    }

    // Declared first so that it goes last: the objects below live on this connection.
    std::unique_ptr<wayland::Connection> connection_;
    wayland::SelectionWatch watch_;
    wayland::Proxy device_;
};

// The compositor asks the selection's owner for the data whenever someone pastes, so a process
// has to stay behind and serve it: a detached child. This process answers only after the child
// has shown that the compositor holds the new selection, so a paste right after the reply sees it.
Result<void> WaylandClipboard::put(PictureType type, std::span<const std::uint8_t> bytes) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return std::unexpected("write");
    wayland::OwnedFd listen(report[0]);
    wayland::OwnedFd tell(report[1]);
    const pid_t child = ::fork();
    if (child < 0) return std::unexpected("write");
    if (child == 0) wayland::serveSelection(mimeTypeOf(type), bytes, tell.release());

    tell.reset();
    if (awaitOwnership(listen.get())) return {};
    // A child that is late must not take the selection after this run has reported failure.
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return std::unexpected("write");
}

}  // namespace

std::unique_ptr<Clipboard> connectWaylandClipboard() {
    auto connection = wayland::Connection::open(Clock::now() + kAnswerWithin);
    if (!connection) return nullptr;
    return std::make_unique<WaylandClipboard>(std::move(connection));
}

}  // namespace cliptint
