#pragma once

#include <optional>
#include <string_view>

namespace cliptint {

// The answer to a first word that asks about the tool itself: the help text for "--help" or
// "-h", the line "cliptint X.Y.Z" for "--version" or "-V"; nothing for any other word. The help
// text is the one answer of more than one line.
std::optional<std::string_view> aboutTool(std::string_view firstWord);

}  // namespace cliptint
