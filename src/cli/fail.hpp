#pragma once

#include <string_view>

namespace cliptint {

// Writes the reply line, a line feed, flushes, and ends the process with status 0.
[[noreturn]] void reply(std::string_view line);

// Replies "ERR " followed by the message.
[[noreturn]] void fail(std::string_view message);

}  // namespace cliptint
