#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "result.hpp"

namespace cliptint {

// The whole file, or nullopt when it cannot be read (missing, no permission, a directory).
// Failure: "picture size" for more than maxBytes, found without reading past the bound, so
// /dev/zero or a FIFO that never ends costs at most that much. Tests pass a small bound.
Result<std::optional<Bytes>> readPictureFile(const std::string& path,
                                             std::int64_t maxBytes = kMaxInputBytes);

// Replaces the file at path (or the file a symbolic link there points to) by the bytes, so that
// it is afterwards either the old file or the whole new one. Failure: "write".
Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace cliptint
