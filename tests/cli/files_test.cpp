// The file steps with one platform call made to fail: every failure is "write" or no picture,
// never a success, and a replaced OUT is either the old file or the whole new one.
#include "cli/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>

#include "support/run_tool.hpp"
#include "sys/calls.hpp"
#include "sys/fd.hpp"
#include "sys/io.hpp"

namespace cliptint::test {
namespace {

using sys::Call;

// Each call fails once, in the unnamed way where the file system has it and in the named way
// (as where O_TMPFILE is refused): the ways fall back on each other, and a real failure is
// "write" and leaves the old file, the owner of the new one being taken over where it can be.
TEST(WriteFileAtomically, OneFailingCallLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const bool unnamed = OwnedFd(sys::openUnnamed(dir.path().c_str(), 0600)).get() >= 0;
    // clang-format off
    for (const auto& [name, call, error, unnamedStores, namedStores] : {
             std::tuple{"no unnamed file", Call::openUnnamed, EOPNOTSUPP, true, true},
             {"no temporary", Call::mkstemp, EACCES, true, false},
             {"no owner", Call::fchown, EPERM, true, true},
             {"no mode", Call::fchmod, EPERM, false, false},
             {"disk full", Call::write, ENOSPC, false, false},
             {"no sync", Call::fsync, EIO, false, false},
             {"lost on close", Call::close, EIO, false, false},
             {"no rename", Call::rename, EXDEV, false, false},
             {"write interrupted", Call::write, EINTR, true, true}}) {  // retried
        // clang-format on
        for (const bool named : {false, true}) {
            if (!named && !unnamed) continue;
            SCOPED_TRACE(std::string(name) + (named ? ", named" : ", unnamed"));
            writeWholeFile(dir.file("out.png"), "old");
            if (named) sys::failCall(Call::openUnnamed, EOPNOTSUPP);
            sys::failCall(call, error);
            const auto written = writeFileAtomically(dir.file("out.png"), Bytes{'n', 'e', 'w'});
            sys::clearFailures();
            const bool stored = named ? namedStores : unnamedStores;
            EXPECT_EQ(written ? "" : written.error(), stored ? "" : "write");
            EXPECT_EQ(readWholeFile(dir.file("out.png")), stored ? "new" : "old");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
        }
    }
}

// Where an unnamed file cannot be named at all (no /proc, and a kernel that gives AT_EMPTY_PATH
// to privileged processes only), the picture is written the named way.
TEST(WriteFileAtomically, UnnamedFileThatCannotBeNamedIsWrittenTheNamedWay) {
    TempDir dir;
    writeWholeFile(dir.file("out.png"), "old");
    sys::failCall(Call::linkUnnamed, ENOENT, 0, 1000);
    const auto written = writeFileAtomically(dir.file("out.png"), Bytes{'n', 'e', 'w'});
    sys::clearFailures();
    EXPECT_EQ(written ? "" : written.error(), "");
    EXPECT_EQ(readWholeFile(dir.file("out.png")), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A run killed after writing the new picture and before the rename leaves the old file alone,
// and nothing beside it where the new one is made without a name; where it cannot be (a file
// system that refuses O_TMPFILE, or a build without it), the named new file is left.
TEST(WriteFileAtomically, KilledBeforeTheRenameLeavesNothingBehindWhereFilesStartUnnamed) {
    TempDir dir;
    const bool unnamed = OwnedFd(sys::openUnnamed(dir.path().c_str(), 0600)).get() >= 0;
    writeWholeFile(dir.file("out.png"), "old");
    const pid_t child = ::fork();
    if (child == 0) {
        sys::killAt(Call::fsync);  // a replaced file is synced once written
        (void)writeFileAtomically(dir.file("out.png"), Bytes{'n', 'e', 'w'});
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(readWholeFile(dir.file("out.png")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), unnamed ? 1 : 2);
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

// A read error is no picture and an interrupted read goes on; memory that cannot be had, for a
// file of known size or for a source that tells none (a device, a /proc file), is "memory"; the
// bound, tried on a small one: a file of exactly the bound is read, one byte more is refused by
// its size before reading, and a device that never ends is refused at the bound.
TEST(ReadPictureFile, StopsAtTheBoundAndOnlyAtARealError) {
    TempDir dir;
    const std::string in = dir.file("in.png"), bytes(100, 'p'), comm = "/proc/self/comm";
    writeWholeFile(in, bytes);
    // What fails after how many calls, the file, the bound, and the outcome: the error, "none"
    // for no picture, or the bytes read.
    // clang-format off
    for (const auto& [name, call, error, after, path, bound, outcome] : {
             std::tuple{"the bound", Call::read, 0, 0, in, 100, bytes},
             {"one byte over", Call::read, 0, 0, in, 99, "picture size"},
             {"endless", Call::read, 0, 0, "/dev/zero", 4096, "picture size"},
             {"size unknown", Call::read, 0, 0, comm, 100, "cliptint_tests\n"},
             {"read error at the end", Call::read, EIO, 1, in, 100, "none"},
             {"read interrupted", Call::read, EINTR, 0, in, 100, bytes},
             {"no memory", Call::reserve, ENOMEM, 0, in, 100, "memory"},
             {"no memory for a chunk", Call::mapMemory, ENOMEM, 0, "/dev/zero", 4096, "memory"},
             {"no memory for the whole", Call::reserve, ENOMEM, 0, comm, 100, "memory"}}) {
        // clang-format on
        SCOPED_TRACE(name);
        if (error != 0) sys::failCall(call, error, after);
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
