// Replays every input the fuzzers found a fault with (tests/data/crashers/, named after the
// fault) through the built tool: each must get exactly one reply line, exit status 0 and
// nothing on stderr, in both modes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

std::vector<std::filesystem::path> crashers() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(testData("crashers"))) {
        if (entry.is_regular_file() && entry.path().filename() != "README.md") {
            files.push_back(entry.path());
        }
    }
    std::ranges::sort(files);
    return files;
}

bool isReplyLine(const std::string& out) {
    if (out.empty() || out.back() != '\n' || std::ranges::count(out, '\n') != 1) return false;
    return out.starts_with("MONO ") || out.starts_with("MULTI ") || out.starts_with("ERR ");
}

TEST(Crashers, EachGetsOneReplyLineInEveryMode) {
    const auto files = crashers();
    if (files.empty()) GTEST_SKIP() << "no crashers recorded";
    const std::vector<std::vector<std::string>> modes = {{"probe"}, {"paint", "3366cc"}};
    for (const auto& file : files) {
        for (const auto& mode : modes) {
            SCOPED_TRACE(file.filename().string() + " " + mode.front());
            TempDir dir;
            std::vector<std::string> words = {"--file", file.string(), dir.file("out.png")};
            words.insert(words.end(), mode.begin(), mode.end());
            const ToolRun run = runTool(words);
            EXPECT_TRUE(isReplyLine(run.out)) << "stdout: " << run.out;
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.status, 0);
        }
    }
}

}  // namespace
}  // namespace cliptint::test
