#include "cli/fail.hpp"

#include <unistd.h>

#include <string>

#include "sys/calls.hpp"
#include "sys/io.hpp"

namespace cliptint {

// One write(2) of the whole line: nothing is buffered, so nothing is lost when the process ends
// at once, skipping the freeing of a canvas of up to 160 MB page by page.
void reply(std::string_view line) {
    std::string text(line);
    text += '\n';
    // A stdout that is gone leaves no one to tell.
    writeAll(STDOUT_FILENO, text);
    sys::endProcess(0);
}

void fail(std::string_view message) {
    reply("ERR " + std::string(message));
}

}  // namespace cliptint
