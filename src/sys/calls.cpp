#include "sys/calls.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace cliptint::sys {

namespace {

struct Planned {
    int after = -1;  // calls left to pass before the failure; -1: none planned
    int error = 0;
};

std::array<Planned, static_cast<std::size_t>(Call::rename) + 1> planned;

// True when this call is the one planned to fail; errno is then set.
bool failsNow(Call call) {
    Planned& plan = planned[static_cast<std::size_t>(call)];
    if (plan.after < 0) return false;
    if (plan.after-- > 0) return false;
    errno = plan.error;
    return true;
}

}  // namespace

void failCall(Call call, int error, int after) {
    planned[static_cast<std::size_t>(call)] = {after, error};
}

void clearFailures() {
    planned.fill({});
}

int open(const char* path, int flags, mode_t mode) {
    return failsNow(Call::open) ? -1 : ::open(path, flags, mode);
}

ssize_t read(int fd, void* buffer, std::size_t count) {
    return failsNow(Call::read) ? -1 : ::read(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, std::size_t count) {
    return failsNow(Call::write) ? -1 : ::write(fd, buffer, count);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return failsNow(Call::poll) ? -1 : ::poll(fds, count, timeoutMs);
}

int pipe2(int ends[2], int flags) {
    return failsNow(Call::pipe) ? -1 : ::pipe2(ends, flags);
}

pid_t fork() {
    return failsNow(Call::fork) ? -1 : ::fork();
}

int mkstemp(char* pathTemplate) {
    return failsNow(Call::mkstemp) ? -1 : ::mkstemp(pathTemplate);
}

int fchmod(int fd, mode_t mode) {
    return failsNow(Call::fchmod) ? -1 : ::fchmod(fd, mode);
}

int fsync(int fd) {
    return failsNow(Call::fsync) ? -1 : ::fsync(fd);
}

// A close planned to fail still closes: the descriptor must not leak into the rest of the test.
int close(int fd) {
    const bool fails = failsNow(Call::close);
    const int error = errno;
    const int closed = ::close(fd);
    if (!fails) return closed;
    errno = error;
    return -1;
}

int rename(const char* from, const char* to) {
    return failsNow(Call::rename) ? -1 : ::rename(from, to);
}

}  // namespace cliptint::sys
