#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace cliptint {

// The failure message is what follows "ERR " on the reply line.
template <class T>
using Result = std::expected<T, std::string>;

// Encoded picture bytes: a whole PNG, TIFF, ... file.
using Bytes = std::vector<std::uint8_t>;

// The most picture bytes read from a file or the clipboard: 1 GiB.
inline constexpr std::int64_t kMaxInputBytes = std::int64_t{1} << 30;

}  // namespace cliptint
