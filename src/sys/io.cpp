#include "sys/io.hpp"

#include <algorithm>
#include <cerrno>

#include "sys/calls.hpp"

namespace cliptint {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = sys::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool writeAll(int fd, std::string_view text) {
    return writeAll(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

namespace {

// Waits until fd has something to read (or its end) within the limits; false on silence.
bool awaitReadable(int fd, const ReadLimits& limits) {
    if (!limits.stall && limits.deadline == Deadline::max()) return true;
    const Deadline until =
        limits.stall ? std::min(limits.deadline, Clock::now() + *limits.stall) : limits.deadline;
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = sys::poll(&readable, 1, pollTimeout(until));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

}  // namespace

std::expected<Bytes, ReadError> readBounded(int fd, const ReadLimits& limits) {
    const std::int64_t most = limits.maxBytes + 1;
    // One byte over the hint, so that a source of exactly the hinted size ends without growing.
    Bytes data(static_cast<std::size_t>(std::clamp<std::int64_t>(limits.sizeHint + 1, 1, most)));
    std::size_t filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (static_cast<std::int64_t>(filled) == most)
                return std::unexpected(ReadError::tooLarge);
            data.resize(static_cast<std::size_t>(std::min<std::int64_t>(2 * filled, most)));
        }
        if (!awaitReadable(fd, limits)) return std::unexpected(ReadError::failed);
        const ssize_t got = sys::read(fd, data.data() + filled, data.size() - filled);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) return std::unexpected(ReadError::failed);
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    data.resize(filled);
    return data;
}

}  // namespace cliptint
