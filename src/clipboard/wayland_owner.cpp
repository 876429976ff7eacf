#include "clipboard/wayland_owner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "clipboard/wayland_connection.hpp"

namespace cliptint::wayland {

namespace {

// The selection must be shown back within this; the tool waits a little longer for the word.
constexpr auto kOwnWithin = std::chrono::seconds(3);
// A reader that takes no byte for this long is dropped, so a stuck paste cannot keep this process
// or its descriptors forever.
constexpr auto kTransferStall = std::chrono::seconds(10);
// Readers served at once; more are turned away (their pipe is closed at once).
constexpr std::size_t kMaxTransfers = 64;

struct Transfer {
    int fd;                   // non-blocking writing end of the reader's pipe
    std::size_t sent;         // bytes, not pixels
    Clock::time_point stall;  // dropped when nothing moved by then
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
    return millisecondsUntil(first->stall);
}

void closeFrom(unsigned first, unsigned last) {
    if (first > last) return;
    if (::close_range(first, last, 0) == 0) return;
    // Kernels before 5.9 lack close_range: close one by one, up to the descriptor limit.
    rlimit limit{};
    const unsigned top = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                             ? static_cast<unsigned>(limit.rlim_cur)
                             : 65536;
    for (unsigned fd = first; fd <= last && fd < top; ++fd)
        ::close(static_cast<int>(fd));
}

// Leaves the caller's session, working directory and descriptors, so that a shell's $(...) around
// the tool ends when the tool does. Returns where keepFd now is (at least 3).
int detach(int keepFd) {
    ::setsid();
    if (::chdir("/") != 0) {
        // "/" always exists; nothing is left to do if it cannot be entered.
    }
    const int kept = ::fcntl(keepFd, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int stream = 0; stream <= 2; ++stream) {
        if (null < 0 || ::dup2(null, stream) < 0) ::close(stream);
    }
    const unsigned keep = kept < 0 ? 3u : static_cast<unsigned>(kept);
    closeFrom(3, keep - 1);
    closeFrom(keep + 1, ~0u);
    return kept;
}

// The selection is ours when the compositor has shown a selection after our request, that
// selection offers exactly our one type, and our source has not been cancelled.
bool takeSelection(Connection& connection, const Proxy& device, const Proxy& source,
                   const SelectionWatch& watch, const Serving& serving) {
    const auto deadline = Clock::now() + kOwnWithin;
    if (!connection.roundtrip(deadline)) return false;
    const std::uint64_t before = watch.selections;
    connection.setSelection(device, source);
    if (!connection.roundtrip(deadline)) return false;
    while (watch.selections == before && !serving.cancelled && Clock::now() < deadline) {
        if (!connection.pump({}, millisecondsUntil(deadline))) return false;
    }
    if (serving.cancelled || watch.selections == before || !watch.current) return false;
    const OfferTypes& shown = *watch.current->types;
    return shown.count == 1 && shown.png == (serving.mimeType == "image/png") &&
           shown.tiff == (serving.mimeType == "image/tiff");
}

void report(int fd) {
    std::string_view word = kOwnedReport;
    while (!word.empty()) {
        const ssize_t put = ::write(fd, word.data(), word.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        word.remove_prefix(static_cast<std::size_t>(put));
    }
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

}  // namespace

void serveSelection(std::string_view mimeType, std::span<const std::uint8_t> bytes, int reportFd) {
    const int reportTo = detach(reportFd);
    ::signal(SIGPIPE, SIG_IGN);

    Serving serving{mimeType, bytes, {}, false};
    SelectionWatch watch;
    auto connection = Connection::open(Clock::now() + kOwnWithin);
    if (!connection) ::_exit(1);
    const Proxy device = connection->makeDevice(watch);
    const Proxy source = connection->makeSource(mimeType, kSourceListener, &serving);
    if (!takeSelection(*connection, device, source, watch, serving)) ::_exit(1);
    report(reportTo);
    ::close(reportTo);

    serve(*connection, serving, watch);
    ::_exit(0);
}

}  // namespace cliptint::wayland
