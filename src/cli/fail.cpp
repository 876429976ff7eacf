#include "cli/fail.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace cliptint {

namespace {

void writeAll(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // stdout is gone; there is no one left to tell
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

// One write(2) of the whole line: nothing is buffered, so nothing is lost on _exit, and the
// process skips freeing a canvas of up to 160 MB page by page.
void reply(std::string_view line) {
    std::string text(line);
    text += '\n';
    writeAll(text);
    std::_Exit(0);
}

void fail(std::string_view message) {
    reply("ERR " + std::string(message));
}

}  // namespace cliptint
