#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

// The platform calls that the tool's I/O goes through. Each passes straight to the C library,
// unless a test has asked for it to fail.
namespace cliptint::sys {

enum class Call { open, read, write, poll, pipe, fork, mkstemp, fchmod, fsync, close, rename };

int open(const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buffer, std::size_t count);
ssize_t write(int fd, const void* buffer, std::size_t count);
int poll(pollfd* fds, nfds_t count, int timeoutMs);
// flags: O_CLOEXEC and O_NONBLOCK, for both ends.
int pipe2(int ends[2], int flags);
pid_t fork();
int mkstemp(char* pathTemplate);
int fchmod(int fd, mode_t mode);
int fsync(int fd);
int close(int fd);
int rename(const char* from, const char* to);

// dup2 that also sets close-on-exec on `to` when flags hold O_CLOEXEC.
int dup3(int from, int to, int flags);
// Closes every descriptor from lowest up.
void closeFrom(int lowest);
// Asks for the memory to sit on huge pages where the system offers them; advice only.
void adviseHugePages(void* memory, std::size_t bytes);
// Points stderr at /dev/null, for libraries that write there on their own; leaves it as it is
// when /dev/null cannot be opened.
void discardStderr();

// For tests: after `after` more calls that succeed, the next one fails with the errno, once.
void failCall(Call call, int error, int after = 0);
// For tests: forgets every failure asked for and not yet made.
void clearFailures();

}  // namespace cliptint::sys
