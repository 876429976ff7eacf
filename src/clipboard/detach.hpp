#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

#include "clipboard/deadline.hpp"

namespace cliptint {

struct ForkedChild {
    pid_t pid = 0;      // the child's process id in the parent; 0 in the child itself
    int reportFd = -1;  // the parent's read end of the report pipe, or the child's write end
};

// Forks a child that leaves this process's session and working directory, holds /dev/null on
// fds 0-2 and no other inherited fd but its end of a close-on-exec report pipe, ignores SIGHUP
// and SIGPIPE, and so outlives the parent without holding its terminal or its caller's pipes.
// Returns in both processes; nullopt when there is no pipe or no fork.
std::optional<ForkedChild> forkDetached();

// Reads the word from the report pipe; false on end of file, another word, or the deadline.
bool awaitWord(int fd, std::string_view word, Deadline deadline);

// Writes the word to the report pipe; a parent that stopped waiting is not an error.
void reportWord(int fd, std::string_view word);

}  // namespace cliptint
