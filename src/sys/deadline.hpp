#pragma once

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

namespace cliptint {

using Clock = std::chrono::steady_clock;

// A point after which a wait gives up; Deadline::max() waits for ever.
using Deadline = Clock::time_point;

// The poll(2) timeout that ends at the deadline: -1 for ever, else milliseconds rounded up so the
// wait never wakes just before the deadline and spins.
inline int pollTimeout(Deadline deadline) {
    if (deadline == Deadline::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

}  // namespace cliptint
