#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "canvas/hand_made.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

constexpr char kUsage[] = "ERR usage: probe | paint RRGGBB\n";
constexpr char kNoPicture[] = "ERR no picture on the clipboard\n";

// A 10 x 10 canvas with one opaque red pixel at (3, 7): MONO.
std::string monoPng() {
    Canvas canvas = clearCanvas(10, 10);
    setPixel(canvas, 3, 7, {255, 0, 0, 255});
    setPixel(canvas, 4, 7, {100, 0, 0, 100});
    return pngOf(canvas);
}
constexpr char kMonoLine[] = "MONO FF0000 0.3000 0.7000 0.5000 0.8000\n";

// Opaque everywhere: MULTI.
std::string multiPng() {
    Canvas canvas = clearCanvas(2, 2);
    for (int n = 0; n < 4; ++n)
        setPixel(canvas, n % 2, n / 2, {0, 0, 0, 255});
    return pngOf(canvas);
}
constexpr char kMultiLine[] = "MULTI 000000 0.0000 0.0000 1.0000 1.0000\n";

std::string emptyPng() {
    return pngOf(clearCanvas(4, 4));
}

// Every run answers with one line, exit status 0 and nothing on stderr.
void expectReply(const ToolRun& run, const std::string& line) {
    EXPECT_EQ(run.out, line);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Run : public testing::Test {
  protected:
    TempDir dir;
    std::string in = dir.file("in.png");
    std::string out = dir.file("out.png");
    // A FIFO with no writer: any attempt to read it would block until the deadline.
    std::string fifo = dir.file("never-read");
    void SetUp() override { ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); }
};

// Every reply that stores nothing, with OUT already there: it is left byte for byte, and nothing
// is added beside it.
TEST_F(Run, AnswersTheRightLineAndStoresNothing) {
    struct Case {
        const char* picture;             // "mono", "multi", "empty", or "none" for a missing file
        std::vector<std::string> words;  // "IN", "OUT" and "FIFO" stand for the fixture's paths
        std::string reply;
    };
    // clang-format off
    const Case cases[] = {
        {"mono", {}, kUsage},
        {"mono", {"--file", "FIFO", "OUT"}, kUsage},  // reads nothing without a mode
        {"mono", {"--file", "FIFO", "probe"}, kUsage},  // OUT forgotten: reads nothing
        {"mono", {"--file", "IN", "OUT", "probe"}, kMonoLine},
        {"mono", {"--file", "IN", "OUT", "probe", "x", "y"}, kMonoLine},
        {"mono", {"--file", "IN", "OUT", "Probe"}, kUsage},
        {"mono", {"--file", "IN", "OUT", "--file", "a", "b"}, kUsage},
        {"empty", {"--file", "IN", "OUT", "draw"}, "ERR empty picture\n"},
        {"mono", {"--file", "IN", "OUT", "paint"}, kUsage},
        {"multi", {"--file", "IN", "OUT", "paint"}, kUsage},
        {"none", {"--file", "IN", "OUT", "paint"}, kNoPicture},
        {"multi", {"--file", "IN", "OUT", "paint", "zz"}, kMultiLine},  // colour not examined
        {"multi", {"--file", "IN", "OUT", "paint", "3366cc"}, kMultiLine},
        {"mono", {"--file", "IN", "OUT", "paint", "#00FF0"}, "ERR colour 00FF0\n"},
        {"none", {"--file", "IN", "OUT", "probe"}, kNoPicture},
        {"none", {"--file", "/", "OUT", "probe"}, kNoPicture},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::filesystem::remove(in);
        const std::string picture = c.picture;
        if (picture != "none") {
            writeWholeFile(in, picture == "mono"    ? monoPng()
                               : picture == "multi" ? multiPng()
                                                    : emptyPng());
        }
        writeWholeFile(out, "precious");
        std::vector<std::string> words;
        std::string shown = picture;
        for (const auto& word : c.words) {
            words.push_back(word == "IN" ? in : word == "OUT" ? out : word == "FIFO" ? fifo : word);
            shown += " " + word;
        }
        SCOPED_TRACE(shown);
        expectReply(runTool(words, std::chrono::seconds(20)), c.reply);
        EXPECT_EQ(readWholeFile(out), "precious");
        EXPECT_EQ(entries(dir.path()).size(), picture == "none" ? 2u : 3u);
    }
}

// The one run at the tool's real limits: a header of 39,999,999 pixels passes (what fails is the
// pixel data that is not there), one of 40,000,000 does not, and a file of 1 GiB and one byte is
// refused by its size alone. Every other boundary is tested on small limits.
TEST_F(Run, KeepsTheRealLimitsOfPixelsAndBytes) {
    for (const auto& [w, h, reply] :
         {std::tuple{39999999u, 1u, "ERR image\n"}, std::tuple{1u, 40000000u, "ERR picture size\n"},
          std::tuple{8000u, 5000u, "ERR picture size\n"}}) {
        const Bytes header = fileOf({ihdrOf(w, h)});
        writeWholeFile(in, std::string(header.begin(), header.end()));
        expectReply(runTool({"--file", in, out, "probe"}), reply);
    }
    std::filesystem::resize_file(in, (std::uintmax_t{1} << 30) + 1);
    expectReply(runTool({"--file", in, out, "probe"}), "ERR picture size\n");
}

TEST_F(Run, ReadsAPictureFromStandardInput) {
    const auto run = runProgram({CLIPTINT_BINARY, "--file", "/dev/stdin", out, "probe"},
                                std::chrono::seconds(20), {}, monoPng());
    expectReply(run, kMonoLine);
}

TEST_F(Run, PaintWritesThePictureInTheNewColourWithItsAlpha) {
    writeWholeFile(in, monoPng());
    expectReply(runTool({"--file", in, out, "paint", "#3366cc"}),
                "MONO 3366CC 0.3000 0.7000 0.5000 0.8000\n");
    const StraightPicture painted = decodeWithLibpng(readWholeFile(out));
    ASSERT_EQ(painted.w, 10u);
    ASSERT_EQ(painted.h, 10u);
    for (std::size_t i = 0; i < painted.rgba.size(); i += 4) {
        const std::size_t pixel = i / 4;
        const std::uint8_t alpha = pixel == 73 ? 255 : pixel == 74 ? 100 : 0;
        EXPECT_EQ(painted.rgba[i + 3], alpha) << "pixel " << pixel;
        if (alpha == 255) {
            EXPECT_EQ(painted.rgba[i], 0x33);
            EXPECT_EQ(painted.rgba[i + 1], 0x66);
            EXPECT_EQ(painted.rgba[i + 2], 0xCC);
        }
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.png", "never-read", "out.png"}));
}

TEST_F(Run, PaintReplacesItsOwnInput) {
    writeWholeFile(in, monoPng());
    expectReply(runTool({"--file", in, in, "paint", "00ff00"}),
                "MONO 00FF00 0.3000 0.7000 0.5000 0.8000\n");
    expectReply(runTool({"--file", in, out, "probe"}), "MONO 00FF00 0.3000 0.7000 0.5000 0.8000\n");
}

TEST_F(Run, UnstorablePictureIsReportedNotAnswered) {
    writeWholeFile(in, monoPng());
    for (const std::string& target : {dir.file("missing/out.png"), std::string("/proc/out.png"),
                                      std::string("/dev/full"), dir.path()}) {
        expectReply(runTool({"--file", in, target, "paint", "3366cc"}), "ERR write\n");
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.png", "never-read"}));
}

TEST_F(Run, ReplacedOutKeepsItsPermissionsAndNewOutFollowsTheUmask) {
    writeWholeFile(in, monoPng());
    writeWholeFile(out, "old");
    ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
    expectReply(runTool({"--file", in, out, "paint", "3366cc"}),
                "MONO 3366CC 0.3000 0.7000 0.5000 0.8000\n");
    EXPECT_EQ(std::filesystem::status(out).permissions(), std::filesystem::perms(0640));

    const std::string fresh = dir.file("fresh.png");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    expectReply(runTool({"--file", in, fresh, "paint", "3366cc"}),
                "MONO 3366CC 0.3000 0.7000 0.5000 0.8000\n");
    EXPECT_EQ(std::filesystem::status(fresh).permissions(), std::filesystem::perms(0666 & ~mask));
}

TEST_F(Run, PaintThroughASymbolicLinkReplacesItsTarget) {
    writeWholeFile(in, monoPng());
    std::filesystem::create_directory(dir.file("sub"));
    const std::string target = dir.file("sub/target.png");
    writeWholeFile(target, "old");
    std::filesystem::create_symlink("sub/target.png", out);
    expectReply(runTool({"--file", in, out, "paint", "3366cc"}),
                "MONO 3366CC 0.3000 0.7000 0.5000 0.8000\n");
    EXPECT_TRUE(std::filesystem::is_symlink(out));
    EXPECT_EQ(decodeWithLibpng(readWholeFile(target)).w, 10u);
    EXPECT_EQ(entries(dir.file("sub")), std::vector<std::string>{"target.png"});
}

TEST_F(Run, PaintWritesIntoASpecialFileInPlace) {
    writeWholeFile(in, monoPng());
    const auto run = runProgram({"sh", "-c",
                                 std::string(CLIPTINT_BINARY) + " --file " + in +
                                     " /dev/stderr paint 3366cc 2>&1 >/dev/null"},
                                std::chrono::seconds(20));
    EXPECT_EQ(decodeWithLibpng(run.out).w, 10u);
}

}  // namespace
}  // namespace cliptint::test
