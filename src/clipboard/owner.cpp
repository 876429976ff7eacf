#include "clipboard/owner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "sys/calls.hpp"
#include "sys/fd.hpp"
#include "sys/io.hpp"

namespace cliptint {

namespace {

// What the child writes to its report pipe once the selection is its own, and then closes it.
constexpr std::string_view kOwned = "owned";
// Longer than the slowest backend spends taking the selection (X11: 5 s to connect and 5 s per
// request), with room for a loaded machine. A child that fails exits, which ends the pipe, so
// the wait is over at once; only a child that hangs is waited for this long.
constexpr auto kOwnWait = std::chrono::seconds(12);

// The fd the report pipe is moved to in the child, so that one call closes everything above it.
constexpr int kReportFd = 3;

// Leaves the caller's session, puts /dev/null on fds 0-2 and the report pipe on kReportFd, and
// closes every other fd: the parent's connection to the clipboard service, and anything the
// caller left open, such as the write end of a `$(cliptint paint ...)` pipe that would
// otherwise stay open as long as this child lives. SIGHUP is ignored too, for the moment before
// setsid when the child still shares the caller's terminal; SIGPIPE, so that a reader that goes
// away mid-paste is an error to handle, not the end of the owner.
void detach(int reportFd) {
    ::setsid();
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    // Above stdio first: with stdin or stdout closed by the caller, the pipe may be fd 0 to 2.
    const int report = ::fcntl(reportFd, F_DUPFD_CLOEXEC, kReportFd);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) {
        if (null < 0) ::close(fd);  // closed is second best: the caller's pipes are let go
        if (null >= 0) ::dup2(null, fd);
    }
    if (report != kReportFd) sys::dup3(report, kReportFd, O_CLOEXEC);
    sys::closeFrom(kReportFd + 1);
}

// The child ends with _exit, so that nothing of the parent (stdio buffers, exit handlers) runs
// twice; its status tells only whether it ever owned the selection.
[[noreturn]] void runOwner(SelectionOwner& owner, int reportFd) {
    detach(reportFd);
    if (!owner.takeSelection()) ::_exit(1);
    // Only after connecting: XAUTHORITY may name a file relative to the caller's directory.
    [[maybe_unused]] const int moved = ::chdir("/");
    writeAll(kReportFd, kOwned);
    sys::close(kReportFd);
    owner.serveSelection();
    ::_exit(0);
}

}  // namespace

Result<void> startOwner(SelectionOwner& owner) {
    int ends[2];
    if (sys::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected("write");
    OwnedFd listen(ends[0]);
    OwnedFd tell(ends[1]);
    const pid_t child = sys::fork();
    if (child < 0) return std::unexpected("write");
    if (child == 0) runOwner(owner, tell.release());

    tell.reset();
    const auto word = readBounded(listen.get(), {.maxBytes = kOwned.size(),
                                                 .sizeHint = kOwned.size(),
                                                 .stall = std::nullopt,
                                                 .deadline = Clock::now() + kOwnWait});
    if (word && std::ranges::equal(*word, kOwned)) return {};
    // A child that took the selection late would contradict the failure reported here.
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return std::unexpected("write");
}

}  // namespace cliptint
