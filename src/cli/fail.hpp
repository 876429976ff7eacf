#pragma once

#include <string>
#include <string_view>

namespace cliptint {

// Writes the reply line, a line feed, flushes, and ends the process with status 0.
[[noreturn]] void reply(std::string_view line);

// The reply line of a failure: "ERR " followed by the message.
std::string errorLine(std::string_view message);

// Replies errorLine(message).
[[noreturn]] void fail(std::string_view message);

}  // namespace cliptint
