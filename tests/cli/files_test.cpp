// The file steps with one platform call made to fail: every failure is "write" or no picture,
// never a success, and a replaced OUT is either the old file or the whole new one.
#include "cli/files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/run_tool.hpp"
#include "sys/calls.hpp"

namespace cliptint::test {
namespace {

using sys::Call;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void store(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Bytes bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

struct Fault {
    const char* name;
    Call call;
    int error;
    bool stored;  // whether the write still succeeds (an interrupted call is retried)
};

class FailingCall : public testing::TestWithParam<Fault> {
  protected:
    void TearDown() override { sys::clearFailures(); }
    TempDir dir;
};

TEST_P(FailingCall, ReplacingOutIsAllOrNothing) {
    const std::string out = dir.file("out.png");
    store(out, "old");
    sys::failCall(GetParam().call, GetParam().error);
    const auto written = writeFileAtomically(out, bytesOf("new picture"));
    sys::clearFailures();

    EXPECT_EQ(written.has_value(), GetParam().stored);
    if (!written) {
        EXPECT_EQ(written.error(), "write");
    }
    EXPECT_EQ(contents(out), GetParam().stored ? "new picture" : "old");
    // No temporary file is left beside OUT.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingCall,
                         testing::Values(Fault{"NoTemporary", Call::mkstemp, EACCES, false},
                                         Fault{"NoMode", Call::fchmod, EPERM, false},
                                         Fault{"DiskFull", Call::write, ENOSPC, false},
                                         Fault{"WriteInterrupted", Call::write, EINTR, true},
                                         Fault{"NoSync", Call::fsync, EIO, false},
                                         Fault{"LostOnClose", Call::close, EIO, false},
                                         Fault{"NoRename", Call::rename, EXDEV, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadingAFile, ReadErrorIsNoPictureAndAnInterruptedReadGoesOn) {
    TempDir dir;
    const std::string in = dir.file("in.png");
    store(in, "picture bytes");

    sys::failCall(Call::read, EIO, 1);
    const auto failed = readPictureFile(in);
    sys::failCall(Call::read, EINTR);
    const auto interrupted = readPictureFile(in);
    sys::clearFailures();

    ASSERT_TRUE(failed);
    EXPECT_FALSE(*failed);
    ASSERT_TRUE(interrupted && *interrupted);
    EXPECT_EQ(**interrupted, bytesOf("picture bytes"));
}

// The bound on what is read, tried on a small one: a file of exactly the bound is read, one byte
// more is refused by its size before reading, and a device that never ends by the bound.
TEST(ReadingAFile, StopsAtTheBoundOnItsSizeOrOnWhatArrives) {
    TempDir dir;
    const std::string in = dir.file("in.png");
    for (const std::size_t size : {std::size_t{100}, std::size_t{101}}) {
        store(in, std::string(size, 'p'));
        const auto read = readPictureFile(in, 100);
        if (size == 100) {
            ASSERT_TRUE(read && *read);
            EXPECT_EQ((*read)->size(), 100u);
        } else {
            ASSERT_FALSE(read);
            EXPECT_EQ(read.error(), "picture size");
        }
    }
    const auto endless = readPictureFile("/dev/zero", 4096);
    ASSERT_FALSE(endless);
    EXPECT_EQ(endless.error(), "picture size");
}

}  // namespace
}  // namespace cliptint::test
