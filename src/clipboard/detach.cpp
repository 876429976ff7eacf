#include "clipboard/detach.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace cliptint {

namespace {

// The fd the report pipe is moved to in the child, so that one call closes everything above it.
constexpr int kReportFd = 3;

// Kernels before 5.9 lack close_range; /proc/self/fd then lists what is open.
void closeFrom(int lowest) {
    if (::close_range(static_cast<unsigned>(lowest), ~0U, 0) == 0) return;
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) return;
    std::vector<int> open;
    while (const dirent* entry = ::readdir(listing)) {
        const int fd = std::atoi(entry->d_name);
        if (fd >= lowest && fd != ::dirfd(listing)) open.push_back(fd);
    }
    ::closedir(listing);
    for (const int fd : open)
        ::close(fd);
}

// Puts /dev/null on fds 0-2 and the report pipe on kReportFd, and closes every other fd: the
// inherited X connection, and anything the caller left open, such as the write end of a
// `$(cliptint paint ...)` pipe that would otherwise stay open as long as this child lives.
int keepOnlyReportFd(int reportFd) {
    // Above stdio first: with stdin or stdout closed by the caller, the pipe may be fd 0 to 2.
    const int report = ::fcntl(reportFd, F_DUPFD_CLOEXEC, kReportFd);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) {
        if (null < 0) ::close(fd);  // closed is second best: the caller's pipes are let go
        if (null >= 0) ::dup2(null, fd);
    }
    if (report != kReportFd) ::dup3(report, kReportFd, O_CLOEXEC);
    closeFrom(kReportFd + 1);
    return kReportFd;
}

int detachSelf(int reportFd) {
    ::setsid();
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    return keepOnlyReportFd(reportFd);
}

}  // namespace

std::optional<ForkedChild> forkDetached() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return std::nullopt;
    }
    if (pid > 0) {
        ::close(ends[1]);
        return ForkedChild{pid, ends[0]};
    }
    ::close(ends[0]);
    return ForkedChild{0, detachSelf(ends[1])};
}

bool awaitWord(int fd, std::string_view word, Deadline deadline) {
    std::string got;
    while (got.size() < word.size()) {
        pollfd pipe{fd, POLLIN, 0};
        const int ready = ::poll(&pipe, 1, pollTimeout(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[16];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, word.size() - got.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got == word;
}

void reportWord(int fd, std::string_view word) {
    while (!word.empty()) {
        const ssize_t n = ::write(fd, word.data(), word.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        word.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace cliptint
