#include "sys/calls.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace cliptint::sys {

namespace {

struct Planned {
    int after = 0;  // calls left to pass before the failures
    int error = 0;
    int times = 0;  // failures left to make
};

constexpr std::size_t kCalls = static_cast<std::size_t>(Call::reserve) + 1;
std::array<Planned, kCalls> planned;
std::array<bool, kCalls> killing{};

// True when this call is the one planned to fail; errno is then set.
bool failsNow(Call call) {
    if (killing[static_cast<std::size_t>(call)]) ::raise(SIGKILL);
    Planned& plan = planned[static_cast<std::size_t>(call)];
    if (plan.times == 0) return false;
    if (plan.after > 0) {
        --plan.after;
        return false;
    }
    --plan.times;
    errno = plan.error;
    return true;
}

}  // namespace

void failCall(Call call, int error, int after, int times) {
    planned[static_cast<std::size_t>(call)] = {after, error, times};
}

void killAt(Call call) {
    killing[static_cast<std::size_t>(call)] = true;
}

void clearFailures() {
    planned.fill({});
    killing.fill(false);
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

int fchown(int fd, uid_t owner, gid_t group) {
    return failsNow(Call::fchown) ? -1 : ::fchown(fd, owner, group);
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

// CLIPTINT_POSIX_FALLBACKS builds the plain POSIX way where Linux has a better one, so that the
// way other systems go is built and tested here too.
#if defined(O_TMPFILE) && !defined(CLIPTINT_POSIX_FALLBACKS)

int openUnnamed(const char* folder, mode_t mode) {
    if (failsNow(Call::openUnnamed)) return -1;
    return ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

// Through /proc any process may name a file it made unnamed; AT_EMPTY_PATH does without /proc,
// but older kernels allow it only to a process that may read every folder.
int linkUnnamed(int fd, const char* path) {
    if (failsNow(Call::linkUnnamed)) return -1;
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno == EEXIST) return -1;
    return ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH);
}

#else

int openUnnamed(const char*, mode_t) {
    if (failsNow(Call::openUnnamed)) return -1;
    errno = EOPNOTSUPP;
    return -1;
}

int linkUnnamed(int, const char*) {
    if (failsNow(Call::linkUnnamed)) return -1;
    errno = EOPNOTSUPP;
    return -1;
}

#endif

void* mapMemory(std::size_t bytes) {
    if (failsNow(Call::mapMemory)) return nullptr;
    void* memory =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void unmapMemory(void* memory, std::size_t bytes) {
    ::munmap(memory, bytes);
}

bool reserve(Bytes& bytes, std::size_t count) {
    if (failsNow(Call::reserve)) return false;
    try {
        bytes.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace cliptint::sys
