#include "cli/fail.hpp"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "sys/io.hpp"

namespace cliptint {

// One write(2) of the whole line: nothing is buffered, so nothing is lost on _exit, and the
// process skips freeing a canvas of up to 160 MB page by page.
void reply(std::string_view line) {
    std::string text(line);
    text += '\n';
    // A stdout that is gone leaves no one to tell.
    writeAll(STDOUT_FILENO, text);
    std::_Exit(0);
}

std::string errorLine(std::string_view message) {
    return "ERR " + std::string(message);
}

void fail(std::string_view message) {
    reply(errorLine(message));
}

}  // namespace cliptint
