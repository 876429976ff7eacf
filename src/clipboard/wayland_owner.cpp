#include "clipboard/wayland_owner.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "clipboard/owner.hpp"
#include "clipboard/wayland_connection.hpp"

namespace cliptint::wayland {

namespace {

// Connecting, and then seeing the selection shown back, each within this.
constexpr auto kOwnWithin = std::chrono::seconds(3);
// A reader that takes no byte for this long is dropped, so a stuck paste cannot keep this process
// or its descriptors forever.
constexpr auto kTransferStall = std::chrono::seconds(10);
// Readers served at once; more are turned away (their pipe is closed at once).
constexpr std::size_t kMaxTransfers = 64;

struct Transfer {
    int fd;            // non-blocking writing end of the reader's pipe
    std::size_t sent;  // bytes, not pixels
    Deadline stall;    // dropped when nothing moved by then
};

struct Serving {
    std::string_view mimeType;
    std::span<const std::uint8_t> bytes;
    std::vector<Transfer> transfers;
    bool cancelled = false;  // another selection replaced ours
};

void startTransfer(void* data, wl_proxy*, const char* mimeType, std::int32_t fd) {
    auto& serving = *static_cast<Serving*>(data);
    const bool served = std::string_view(mimeType) == serving.mimeType && !serving.bytes.empty() &&
                        serving.transfers.size() < kMaxTransfers &&
                        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
    if (!served) {
        ::close(fd);
        return;
    }
    serving.transfers.push_back({fd, 0, Clock::now() + kTransferStall});
}

void noteCancelled(void* data, wl_proxy*) {
    static_cast<Serving*>(data)->cancelled = true;
}

constexpr SourceListener kSourceListener{startTransfer, noteCancelled};

// Writes what the reader's pipe takes now. false once the transfer is over: complete, the reader
// gone (EPIPE; SIGPIPE is ignored), or stalled.
bool advance(Transfer& transfer, std::span<const std::uint8_t> bytes, short revents) {
    if ((revents & POLLOUT) == 0) {
        return (revents & (POLLERR | POLLHUP)) == 0 && Clock::now() < transfer.stall;
    }
    while (transfer.sent < bytes.size()) {
        const ssize_t put =
            ::write(transfer.fd, bytes.data() + transfer.sent, bytes.size() - transfer.sent);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno == EAGAIN;
        transfer.sent += static_cast<std::size_t>(put);
        transfer.stall = Clock::now() + kTransferStall;
    }
    return false;
}

int earliestStall(const std::vector<Transfer>& transfers) {
    if (transfers.empty()) return -1;
    const auto first = std::min_element(transfers.begin(), transfers.end(),
                                        [](auto& a, auto& b) { return a.stall < b.stall; });
    return pollTimeout(first->stall);
}

// The selection is ours when the compositor has shown a selection after our request, that
// selection offers exactly our one type, and our source has not been cancelled.
bool selectionShown(Connection& connection, const Proxy& device, const Proxy& source,
                    const SelectionWatch& watch, const Serving& serving) {
    const auto deadline = Clock::now() + kOwnWithin;
    if (!connection.roundtrip(deadline)) return false;
    const std::uint64_t before = watch.selections;
    connection.setSelection(device, source);
    if (!connection.roundtrip(deadline)) return false;
    while (watch.selections == before && !serving.cancelled && Clock::now() < deadline) {
        if (!connection.pump({}, pollTimeout(deadline))) return false;
    }
    if (serving.cancelled || watch.selections == before || !watch.current) return false;
    const OfferTypes& shown = *watch.current->types;
    return shown.count == 1 && shown.png == (serving.mimeType == "image/png") &&
           shown.tiff == (serving.mimeType == "image/tiff");
}

// Serves until the selection is replaced (finishing the transfers already started) or the
// compositor withdraws the device or goes away.
void serve(Connection& connection, Serving& serving, const SelectionWatch& watch) {
    while ((!serving.cancelled || !serving.transfers.empty()) && !watch.finished) {
        std::vector<pollfd> writable;
        for (const auto& transfer : serving.transfers)
            writable.push_back({transfer.fd, POLLOUT, 0});
        if (!connection.pump(writable, earliestStall(serving.transfers))) return;
        // Transfers started while pumping were not polled; they come next turn.
        std::vector<Transfer> going;
        for (std::size_t k = 0; k < serving.transfers.size(); ++k) {
            auto& transfer = serving.transfers[k];
            const short revents = k < writable.size() ? writable[k].revents : short{0};
            if (advance(transfer, serving.bytes, revents)) {
                going.push_back(transfer);
            } else {
                ::close(transfer.fd);
            }
        }
        serving.transfers = std::move(going);
    }
}

// The serving process's own connection, never the parent's.
class WaylandOwner final : public SelectionOwner {
  public:
    WaylandOwner(std::string_view mimeType, std::span<const std::uint8_t> bytes)
        : serving_{mimeType, bytes, {}, false} {}

    bool takeSelection() override {
        connection_ = Connection::open(Clock::now() + kOwnWithin);
        if (!connection_) return false;
        device_ = connection_->makeDevice(watch_);
        source_ = connection_->makeSource(serving_.mimeType, kSourceListener, &serving_);
        return selectionShown(*connection_, device_, source_, watch_, serving_);
    }

    void serveSelection() override { serve(*connection_, serving_, watch_); }

  private:
    // In this order so that each goes before what it reports into.
    Serving serving_;
    SelectionWatch watch_;
    std::unique_ptr<Connection> connection_;
    Proxy device_;
    Proxy source_;
};

}  // namespace

Result<void> ownSelection(std::string_view mimeType, std::span<const std::uint8_t> bytes) {
    WaylandOwner owner(mimeType, bytes);
    return startOwner(owner);
}

}  // namespace cliptint::wayland
