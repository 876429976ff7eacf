#include "sys/calls.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sys/platform.hpp"

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

namespace {

// Sets close-on-exec and non-blocking as the open flags ask. Set after the descriptor exists, a
// fork on another thread could inherit it in between; the tool runs on one thread.
[[maybe_unused]] bool setFlags(int fd, int flags) {
    if ((flags & O_CLOEXEC) != 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
    if ((flags & O_NONBLOCK) != 0) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status < 0 || ::fcntl(fd, F_SETFL, status | O_NONBLOCK) != 0) return false;
    }
    return true;
}

}  // namespace

int pipe2(int ends[2], int flags) {
    if (failsNow(Call::pipe)) return -1;
#if CLIPTINT_LINUX_CALLS
    return ::pipe2(ends, flags);
#else
    if (::pipe(ends) != 0) return -1;
    if (setFlags(ends[0], flags) && setFlags(ends[1], flags)) return 0;
    const int error = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    errno = error;
    return -1;
#endif
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

int dup3(int from, int to, int flags) {
#if CLIPTINT_LINUX_CALLS
    return ::dup3(from, to, flags);
#else
    if (from == to) {  // as dup3, which refuses what dup2 would pass over in silence
        errno = EINVAL;
        return -1;
    }
    if (::dup2(from, to) < 0) return -1;
    return setFlags(to, flags) ? to : -1;
#endif
}

namespace {

// Closes the descriptors from lowest up that the folder (/proc/self/fd, /dev/fd) lists, the one
// that lists them excepted; false when it cannot be read.
bool closeListed(const char* folder, int lowest) {
    DIR* listing = ::opendir(folder);
    if (listing == nullptr) return false;
    std::vector<int> open;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;  // "." and ".."
        const int fd = std::atoi(entry->d_name);
        if (fd >= lowest && fd != ::dirfd(listing)) open.push_back(fd);
    }
    ::closedir(listing);
    for (const int fd : open)
        ::close(fd);
    return true;
}

}  // namespace

// close_range needs Linux 5.9; /proc/self/fd, and /dev/fd on macOS and the BSDs, list what is
// open; without either, every number below the descriptor limit is closed.
void closeFrom(int lowest) {
#if CLIPTINT_LINUX_CALLS
    if (::close_range(static_cast<unsigned>(lowest), ~0U, 0) == 0) return;
    if (closeListed("/proc/self/fd", lowest)) return;
#endif
    if (closeListed("/dev/fd", lowest)) return;
    rlimit limit{};
    constexpr rlim_t kMostToClose = 1 << 20;
    const rlim_t end = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                           ? std::min(limit.rlim_cur, kMostToClose)
                           : kMostToClose;
    for (rlim_t fd = static_cast<rlim_t>(lowest); fd < end; ++fd)
        ::close(static_cast<int>(fd));
}

void adviseHugePages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) {
#if CLIPTINT_LINUX_CALLS
    ::madvise(memory, bytes, MADV_HUGEPAGE);
#endif
}

void discardStderr() {
    const int null = sys::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || null == STDERR_FILENO) return;  // stderr was closed: it stays /dev/null
    ::dup2(null, STDERR_FILENO);
    ::close(null);
}

}  // namespace cliptint::sys
