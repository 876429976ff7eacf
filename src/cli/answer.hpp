#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"

namespace cliptint {

inline constexpr std::string_view kUsage = "usage: probe | paint RRGGBB";

// The words after the program path, with any "--file IN OUT" removed.
struct Command {
    std::string_view mode;
    std::optional<std::string_view> colour;  // the word after the mode, if there is one
};

struct Answer {
    std::string line;          // the reply line
    std::optional<Bytes> png;  // the painted picture, to be stored before the reply
};

// Decodes the picture, scans it and answers the command: a probe line; a paint line with the
// painted PNG; the probe line alone for a picture that is not MONO. The picture bytes are
// consumed by the decoding and the canvas by the paint, so neither outlives its use. Failure:
// the message that fail prints (the canvas's and the scan's, the paint's, or kUsage for a mode
// word that is neither probe nor paint with a colour).
Result<Answer> answer(const Command& command, Bytes picture);

}  // namespace cliptint
