// The file steps with one platform call made to fail: every failure is "write" or no picture,
// never a success, and a replaced OUT is either the old file or the whole new one.
#include "cli/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>

#include "support/run_tool.hpp"
#include "sys/calls.hpp"
#include "sys/io.hpp"

namespace cliptint::test {
namespace {

using sys::Call;

TEST(WriteFileAtomically, OneFailingCallLeavesTheOldFileAndNoTemporary) {
    // clang-format off
    for (const auto& [name, call, error] : {
             std::tuple{"no temporary", Call::mkstemp, EACCES}, {"no mode", Call::fchmod, EPERM},
             {"disk full", Call::write, ENOSPC}, {"no sync", Call::fsync, EIO},
             {"lost on close", Call::close, EIO}, {"no rename", Call::rename, EXDEV},
             {"write interrupted", Call::write, EINTR}}) {  // retried: the only one that stores
        // clang-format on
        SCOPED_TRACE(name);
        TempDir dir;
        writeWholeFile(dir.file("out.png"), "old");
        sys::failCall(call, error);
        const auto written = writeFileAtomically(dir.file("out.png"), Bytes{'n', 'e', 'w'});
        sys::clearFailures();
        const bool stored = error == EINTR;
        EXPECT_EQ(written ? "" : written.error(), stored ? "" : "write");
        EXPECT_EQ(readWholeFile(dir.file("out.png")), stored ? "new" : "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

// A file reached only through /proc/self/fd (deleted, or a memory file) is written where it is;
// no file is made under the name its link shows.
TEST(WriteFileAtomically, WritesAFileWithoutANameThroughItsDescriptor) {
    TempDir dir;
    std::string name = dir.file("deleted-XXXXXX");
    const int fd = ::mkstemp(name.data());
    ::unlink(name.c_str());
    if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc/self/fd here";
    const auto path = "/proc/self/fd/" + std::to_string(fd);
    const auto written = writeFileAtomically(path, Bytes{'n', 'e', 'w'});
    EXPECT_EQ(written ? "" : written.error(), "");
    EXPECT_EQ(readWholeFile(path), "new");
    ::close(fd);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

// A read error is no picture and an interrupted read goes on; the bound, tried on a small one:
// a file of exactly the bound is read, one byte more is refused by its size before reading, and a
// device that never ends is refused at the bound.
TEST(ReadPictureFile, StopsAtTheBoundAndOnlyAtARealError) {
    TempDir dir;
    const std::string in = dir.file("in.png"), bytes(100, 'p');
    writeWholeFile(in, bytes);
    // What fails (0: nothing) after how many reads, the file, the bound, and the outcome: the
    // error, "none" for no picture, or the bytes read.
    // clang-format off
    for (const auto& [name, error, after, path, bound, outcome] : {
             std::tuple{"the bound", 0, 0, in, 100, bytes},
             {"one byte over", 0, 0, in, 99, "picture size"},
             {"endless", 0, 0, "/dev/zero", 4096, "picture size"},
             {"read error at the end", EIO, 1, in, 100, "none"},
             {"read interrupted", EINTR, 0, in, 100, bytes}}) {
        // clang-format on
        SCOPED_TRACE(name);
        if (error != 0) sys::failCall(Call::read, error, after);
        const auto read = readPictureFile(path, bound);
        sys::clearFailures();
        EXPECT_EQ(!read    ? read.error()
                  : !*read ? "none"
                           : std::string((*read)->begin(), (*read)->end()),
                  outcome);
    }

    // With a deadline each read waits in poll(2) first, and an interrupted poll is tried again.
    const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    sys::failCall(Call::poll, EINTR);
    // At most 100 bytes, a first buffer of 1, no stall limit, 20 s to the deadline.
    const auto polled =
        readBounded(fd, ReadLimits{100, 1, std::nullopt, Clock::now() + std::chrono::seconds(20)});
    sys::clearFailures();
    ::close(fd);
    EXPECT_EQ(polled ? std::string(polled->begin(), polled->end()) : "failed", bytes);
}

}  // namespace
}  // namespace cliptint::test
