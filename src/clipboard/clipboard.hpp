#pragma once

#include <memory>
#include <optional>
#include <span>

#include "result.hpp"

namespace cliptint {

enum class PictureType { png, tiff };

// The desktop clipboard. Obtaining one costs nothing and fails nothing: a backend reaches its
// clipboard service only on the first read or write, so a run that never uses it never connects.
class Clipboard {
  public:
    virtual ~Clipboard() = default;

    // The bytes stored under the type, or nullopt when the clipboard holds nothing of that type.
    // Failures: "no clipboard" (no clipboard service reachable), "picture size" (over
    // kMaxInputBytes).
    virtual Result<std::optional<Bytes>> dataForType(PictureType type) = 0;

    // Removes everything the clipboard holds.
    virtual Result<void> clear() = 0;

    // Stores the bytes under the type, to stay there after this process ends. Failure: "write".
    virtual Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) = 0;
};

// The desktop's general clipboard.
std::unique_ptr<Clipboard> obtainClipboard();

// The picture on the clipboard: its PNG data, else its TIFF data; nullopt when it holds neither.
Result<std::optional<Bytes>> readClipboard(Clipboard& pb);

// Replaces whatever the clipboard holds by the PNG.
Result<void> writeClipboard(Clipboard& pb, std::span<const std::uint8_t> png);

// Data that a clipboard service handed over whole, as the run's own bytes. Failure: "picture
// size" (over maxBytes).
Result<Bytes> copyData(std::span<const std::uint8_t> data, std::int64_t maxBytes = kMaxInputBytes);

}  // namespace cliptint
