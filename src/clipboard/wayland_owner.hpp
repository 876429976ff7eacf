#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace cliptint::wayland {

// The word the serving process writes to its report pipe once the selection is its own.
inline constexpr std::string_view kOwnedReport = "owned";

// The body of the process that keeps a picture on the clipboard after the tool has ended. It
// detaches from the caller (new session, "/" as working directory, /dev/null on the standard
// streams, every other inherited descriptor closed but reportFd), opens its own connection, sets
// the selection to a source offering the bytes under the MIME type, and writes kOwnedReport to
// reportFd once the compositor shows that selection back. It then serves every request until the
// selection is replaced, and exits. Never returns; never prints.
[[noreturn]] void serveSelection(std::string_view mimeType, std::span<const std::uint8_t> bytes,
                                 int reportFd);

}  // namespace cliptint::wayland
