#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "result.hpp"
#include "sys/deadline.hpp"

namespace cliptint {

// Writes every byte, resuming after signals and short writes; false when the descriptor takes
// no more (an error, or a write that takes nothing).
bool writeAll(int fd, std::span<const std::uint8_t> bytes);
bool writeAll(int fd, std::string_view text);

// Bytes that arrive a piece at a time, to a length nobody can tell in advance. They go into
// chunks of their own, so that growing never copies what came before, and end in one vector of
// their exact size, each chunk handed back to the system as soon as it is copied there: the
// bytes are never held twice over.
class ByteCollector {
  public:
    ByteCollector() = default;
    ByteCollector(const ByteCollector&) = delete;
    ByteCollector& operator=(const ByteCollector&) = delete;
    ~ByteCollector();

    // Room for the next bytes, at least one; empty when no memory can be had for it.
    std::span<std::uint8_t> room();
    // The first count bytes of room() now hold data.
    void added(std::size_t count);
    // Copies the bytes in; false when no memory can be had for them.
    bool append(std::span<const std::uint8_t> bytes);
    std::int64_t size() const { return size_; }
    // Every byte, in order, the collector left empty; nullopt when memory cannot be had.
    std::optional<Bytes> take();

  private:
    struct Chunk;
    void release();

    Chunk* first_ = nullptr;
    Chunk* last_ = nullptr;
    std::int64_t size_ = 0;  // bytes
};

struct ReadLimits {
    std::int64_t maxBytes = 0;  // more than this is refused
    // The size the source has, when it is known for sure (a regular file's); 0 when it is not.
    std::int64_t sizeHint = 0;
    std::optional<Clock::duration> stall;  // fails when no byte arrives for this long
    Deadline deadline = Deadline::max();   // fails when the end has not come by then
};

enum class ReadError { failed, tooLarge, memory };

// Reads to the end of the descriptor. At most maxBytes + 1 bytes are ever read or held, so a
// source longer than the limit is refused without reading it to its end. With a stall or a
// deadline, each read waits in poll(2) first and a silent source fails.
std::expected<Bytes, ReadError> readBounded(int fd, const ReadLimits& limits);

}  // namespace cliptint
