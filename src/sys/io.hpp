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

struct ReadLimits {
    std::int64_t maxBytes = 0;             // more than this is refused
    std::int64_t sizeHint = 1 << 16;       // the first allocation, when the size is known
    std::optional<Clock::duration> stall;  // fails when no byte arrives for this long
    Deadline deadline = Deadline::max();   // fails when the end has not come by then
};

enum class ReadError { failed, tooLarge };

// Reads to the end of the descriptor. At most maxBytes + 1 bytes are ever read or held, so a
// source longer than the limit is refused without reading it to its end. With a stall or a
// deadline, each read waits in poll(2) first and a silent source fails.
std::expected<Bytes, ReadError> readBounded(int fd, const ReadLimits& limits);

}  // namespace cliptint
