#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "result.hpp"

// The platform calls that the tool's I/O goes through. Each passes straight to the C library,
// unless a test has asked for it to fail.
namespace cliptint::sys {

// clang-format off
enum class Call {
    open, read, write, poll, pipe, fork, mkstemp, fchmod, fsync, close, rename,
    openUnnamed, linkUnnamed, fchown, mapMemory, reserve
};
// clang-format on

int open(const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buffer, std::size_t count);
ssize_t write(int fd, const void* buffer, std::size_t count);
int poll(pollfd* fds, nfds_t count, int timeoutMs);
// flags: O_CLOEXEC and O_NONBLOCK, for both ends.
int pipe2(int ends[2], int flags);
pid_t fork();
int mkstemp(char* pathTemplate);
int fchmod(int fd, mode_t mode);
int fchown(int fd, uid_t owner, gid_t group);
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

// A new file without a name in the folder, open for writing, or -1 where the system or the
// folder's file system makes none (Linux's O_TMPFILE; built without it, always -1).
int openUnnamed(const char* folder, mode_t mode);
// Gives the unnamed file open at fd the path as its name; fails when the path exists.
int linkUnnamed(int fd, const char* path);

// Fresh zeroed memory of its own pages, handed back whole to the system by unmapMemory; nullptr
// when none can be had.
void* mapMemory(std::size_t bytes);
void unmapMemory(void* memory, std::size_t bytes);
// Room in the vector for the bytes; false, the vector unchanged, when it cannot be had.
bool reserve(Bytes& bytes, std::size_t count);

// For tests: after `after` more calls that succeed, the next `times` calls fail with the errno.
void failCall(Call call, int error, int after = 0, int times = 1);
// For tests: the process kills itself (SIGKILL) on reaching the call, as a run killed from
// outside at that moment ends.
void killAt(Call call);
// For tests: forgets every failure asked for and not yet made.
void clearFailures();

}  // namespace cliptint::sys
