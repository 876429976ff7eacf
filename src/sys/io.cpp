#include "sys/io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

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

// The start of a chunk's mapping; its bytes follow.
struct ByteCollector::Chunk {
    Chunk* next = nullptr;
    std::size_t mapped = 0;  // bytes of the mapping, this header included
    std::size_t filled = 0;  // bytes of data after the header

    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    std::size_t capacity() const { return mapped - sizeof(Chunk); }
};

namespace {

// Chunks double from the first to the largest: a small picture costs one small chunk, and a
// large one is held at most one largest chunk over its size while it is moved into its vector.
constexpr std::size_t kFirstChunk = std::size_t{64} << 10;    // bytes
constexpr std::size_t kLargestChunk = std::size_t{16} << 20;  // bytes

}  // namespace

ByteCollector::~ByteCollector() {
    release();
}

void ByteCollector::release() {
    while (first_ != nullptr) {
        Chunk* next = first_->next;
        sys::unmapMemory(first_, first_->mapped);
        first_ = next;
    }
    last_ = nullptr;
    size_ = 0;
}

std::span<std::uint8_t> ByteCollector::room() {
    if (last_ == nullptr || last_->filled == last_->capacity()) {
        const std::size_t mapped =
            last_ == nullptr ? kFirstChunk : std::min(2 * last_->mapped, kLargestChunk);
        void* memory = sys::mapMemory(mapped);
        if (memory == nullptr) return {};
        auto* chunk = new (memory) Chunk{nullptr, mapped, 0};
        (last_ == nullptr ? first_ : last_->next) = chunk;
        last_ = chunk;
    }
    return {last_->data() + last_->filled, last_->capacity() - last_->filled};
}

void ByteCollector::added(std::size_t count) {
    last_->filled += count;
    size_ += static_cast<std::int64_t>(count);
}

bool ByteCollector::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto into = room();
        if (into.empty()) return false;
        const std::size_t count = std::min(into.size(), bytes.size());
        std::memcpy(into.data(), bytes.data(), count);
        added(count);
        bytes = bytes.subspan(count);
    }
    return true;
}

// The vector's pages are touched only as the chunks are copied in, and each chunk goes as soon
// as it is copied: the bytes are held once, and one chunk more.
std::optional<Bytes> ByteCollector::take() {
    Bytes bytes;
    if (!sys::reserve(bytes, static_cast<std::size_t>(size_))) return std::nullopt;
    while (first_ != nullptr) {
        Chunk* chunk = first_;
        bytes.insert(bytes.end(), chunk->data(), chunk->data() + chunk->filled);
        first_ = chunk->next;
        sys::unmapMemory(chunk, chunk->mapped);
    }
    release();
    return bytes;
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

// One read into the buffer, within the limits: the bytes read, 0 at the end of the source.
std::expected<std::size_t, ReadError> readSome(int fd, const ReadLimits& limits,
                                               std::span<std::uint8_t> into) {
    for (;;) {
        if (!awaitReadable(fd, limits)) return std::unexpected(ReadError::failed);
        const ssize_t got = sys::read(fd, into.data(), into.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR && errno != EAGAIN) return std::unexpected(ReadError::failed);
    }
}

// Reads into data until it is full or the source ends; gives how many bytes it holds.
std::expected<std::size_t, ReadError> fill(int fd, const ReadLimits& limits, Bytes& data) {
    std::size_t filled = 0;
    while (filled < data.size()) {
        const auto got = readSome(fd, limits, std::span(data).subspan(filled));
        if (!got) return got;
        if (*got == 0) break;
        filled += *got;
    }
    return filled;
}

}  // namespace

// A source of a known size is read into one vector of that size and a byte more, so that it ends
// there without a copy. Any other source, and one that goes on past its size, is gathered in a
// ByteCollector: what it says of its size is never taken on trust.
std::expected<Bytes, ReadError> readBounded(int fd, const ReadLimits& limits) {
    const std::int64_t most = limits.maxBytes + 1;
    ByteCollector collected;
    if (limits.sizeHint > 0) {
        Bytes data;
        const auto size = static_cast<std::size_t>(std::min(limits.sizeHint + 1, most));
        if (!sys::reserve(data, size)) return std::unexpected(ReadError::memory);
        data.resize(size);
        const auto filled = fill(fd, limits, data);
        if (!filled) return std::unexpected(filled.error());
        if (*filled < size) {
            data.resize(*filled);
            return data;
        }
        if (static_cast<std::int64_t>(size) == most) return std::unexpected(ReadError::tooLarge);
        if (!collected.append(data)) return std::unexpected(ReadError::memory);
    }
    while (collected.size() < most) {
        const auto room = collected.room();
        if (room.empty()) return std::unexpected(ReadError::memory);
        const auto wanted = std::min<std::int64_t>(std::ssize(room), most - collected.size());
        const auto got = readSome(fd, limits, room.first(static_cast<std::size_t>(wanted)));
        if (!got) return std::unexpected(got.error());
        if (*got == 0) {
            auto bytes = collected.take();
            if (!bytes) return std::unexpected(ReadError::memory);
            return std::move(*bytes);
        }
        collected.added(*got);
    }
    return std::unexpected(ReadError::tooLarge);
}

}  // namespace cliptint
