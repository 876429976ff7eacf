// The file steps with one platform call made to fail: every failure is "write" or no picture,
// never a success, and a replaced OUT is either the old file or the whole new one.
#include "cli/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/run_tool.hpp"
#include "sys/calls.hpp"
#include "sys/io.hpp"

namespace cliptint::test {
namespace {

using sys::Call;

TEST(WriteFileAtomically, OneFailingCallLeavesTheOldFileAndNoTemporary) {
    struct Fault {
        const char* name;
        Call call;
        int error;
    };
    // clang-format off
    const Fault faults[] = {
        {"no temporary", Call::mkstemp, EACCES}, {"no mode", Call::fchmod, EPERM},
        {"disk full", Call::write, ENOSPC}, {"no sync", Call::fsync, EIO},
        {"lost on close", Call::close, EIO}, {"no rename", Call::rename, EXDEV},
        {"write interrupted", Call::write, EINTR},  // retried: the only one that stores
    };
    // clang-format on
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        TempDir dir;
        writeWholeFile(dir.file("out.png"), "old");
        sys::failCall(f.call, f.error);
        const auto written = writeFileAtomically(dir.file("out.png"), Bytes{'n', 'e', 'w'});
        sys::clearFailures();
        const bool stored = f.error == EINTR;
        EXPECT_EQ(written ? "" : written.error(), stored ? "" : "write");
        EXPECT_EQ(readWholeFile(dir.file("out.png")), stored ? "new" : "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

// A read error is no picture and an interrupted read goes on; the bound, tried on a small one:
// a file of exactly the bound is read, one byte more is refused by its size before reading, and a
// device that never ends is refused at the bound.
TEST(ReadPictureFile, StopsAtTheBoundAndOnlyAtARealError) {
    struct Case {
        const char* name;
        Call call;
        int error;  // 0: no call fails
        int after;  // calls that succeed first
        const char* path;
        std::int64_t bound;
        std::string outcome;  // the error, "none" for no picture, or the bytes read
    };
    TempDir dir;
    const std::string in = dir.file("in.png"), bytes(100, 'p');
    writeWholeFile(in, bytes);
    // clang-format off
    const Case cases[] = {
        {"the bound", Call::read, 0, 0, "IN", 100, bytes},
        {"one byte over", Call::read, 0, 0, "IN", 99, "picture size"},
        {"endless", Call::read, 0, 0, "/dev/zero", 4096, "picture size"},
        {"read error at the end", Call::read, EIO, 1, "IN", 100, "none"},
        {"read interrupted", Call::read, EINTR, 0, "IN", 100, bytes},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error != 0) sys::failCall(c.call, c.error, c.after);
        const auto read = readPictureFile(c.path == std::string("IN") ? in : c.path, c.bound);
        sys::clearFailures();
        EXPECT_EQ(!read    ? read.error()
                  : !*read ? "none"
                           : std::string((*read)->begin(), (*read)->end()),
                  c.outcome);
    }

    // With a deadline each read waits in poll(2) first, and an interrupted poll is tried again.
    const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    sys::failCall(Call::poll, EINTR);
    const auto polled = readBounded(fd, {.maxBytes = 100,
                                         .sizeHint = 1,
                                         .stall = std::nullopt,
                                         .deadline = Clock::now() + std::chrono::seconds(20)});
    sys::clearFailures();
    ::close(fd);
    EXPECT_EQ(polled ? std::string(polled->begin(), polled->end()) : "failed", bytes);
}

}  // namespace
}  // namespace cliptint::test
