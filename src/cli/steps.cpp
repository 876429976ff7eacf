#include "cli/steps.hpp"

#include <utility>

#include "cli/fail.hpp"
#include "cli/files.hpp"

namespace cliptint {

Result<std::optional<Bytes>> FilePictures::read() {
    return readPictureFile(in_);
}

Result<void> FilePictures::store(const Bytes& png) {
    return writeFileAtomically(out_, png);
}

Result<std::optional<Bytes>> ClipboardPictures::read() {
    return readClipboard(pb_);
}

Result<void> ClipboardPictures::store(const Bytes& png) {
    return writeClipboard(pb_, png);
}

Result<std::string> answerRun(const Command& command, Pictures& pictures) {
    auto picture = pictures.read();
    if (!picture) return std::unexpected(picture.error());
    if (!*picture) return std::unexpected("no picture on the clipboard");

    // The owner forked by a clipboard store carries neither the picture nor its canvas: both
    // are gone once answered.
    auto answered = answer(command, std::move(**picture));
    if (!answered) return std::unexpected(answered.error());
    if (answered->png) {
        if (auto stored = pictures.store(*answered->png); !stored) {
            return std::unexpected(stored.error());
        }
    }
    return std::move(answered->line);
}

std::string replyLine(const Result<std::string>& outcome) {
    return outcome ? *outcome : errorLine(outcome.error());
}

}  // namespace cliptint
