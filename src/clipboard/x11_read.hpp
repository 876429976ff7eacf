#pragma once

#include <optional>

#include "clipboard/x11_session.hpp"
#include "result.hpp"

namespace cliptint::x11 {

struct Conversion {
    std::optional<Bytes> bytes;  // nullopt: nothing of the target on the clipboard
    bool ownerStalled = false;   // the owner missed a deadline; asking it again is pointless
};

// Asks the CLIPBOARD owner for the selection converted to the target and reads the answer, by
// INCR when the owner chooses it. Only data whose property type is the target counts: owners
// answer any target with whatever they hold. An owner that lets kAnswerWait pass without a
// word, or has not finished by the deadline, has stalled. Failures: "picture size" (over
// maxBytes), "memory".
Result<Conversion> convertClipboard(Session& session, xcb_atom_t target,
                                    std::int64_t maxBytes = kMaxInputBytes,
                                    Deadline deadline = Deadline::max());

}  // namespace cliptint::x11
