// The built tool run on files: every reply line, where a painted picture lands and what is left
// beside it, the real limits, and the inputs the fuzzers found a fault with; and the bash
// completion, sourced as bash-completion loads it, asked what it offers.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "png_reference.hpp"
#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] = "ERR usage: probe | paint RRGGBB\n";
constexpr char kNoPicture[] = "ERR no picture on the clipboard\n";
constexpr char kMonoLine[] = "MONO FF0000 0.3000 0.7000 0.5000 0.8000\n";
constexpr char kPaintedLine[] = "MONO 3399CC 0.3000 0.7000 0.5000 0.8000\n";
constexpr char kMultiLine[] = "MULTI 000000 0.0000 0.0000 1.0000 1.0000\n";

// Every run answers with one line, exit status 0 and nothing on stderr.
void expectReply(const ToolRun& run, const std::string& line) {
    EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(line, "", 0));
}

std::ptrdiff_t entries(const std::string& directory) {
    return std::distance(fs::directory_iterator(directory), {});
}

class Run : public testing::Test {
  protected:
    TempDir dir;
    std::string in = dir.file("in.png");
    std::string out = dir.file("out.png");
    // A FIFO with no writer: any attempt to read it would block until the deadline.
    std::string fifo = dir.file("never-read");
    // Clear but for an opaque red pixel at (3, 7) and a fainter one beside it: MONO.
    std::string mono =
        pngOf(clearCanvas(10, 10, {{73, 1, {255, 0, 0, 255}}, {74, 1, {100, 0, 0, 100}}}));
    void SetUp() override { ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); }
};

// Every reply that stores nothing, with OUT already there: it is left byte for byte, and nothing
// is added beside it.
TEST_F(Run, AnswersTheRightLineAndStoresNothing) {
    struct Case {
        std::string picture;             // IN's bytes; none: IN is missing
        std::vector<std::string> words;  // IN, OUT, FIFO, DIR, NO-DIR (in a missing folder)
        std::string reply;
    };
    const std::string multi = pngOf(clearCanvas(1, 1, {{0, 1, {0, 0, 0, 255}}}));
    const std::string empty = pngOf(clearCanvas(4, 4));
    // clang-format off
    const Case cases[] = {
        {mono, {}, kUsage},
        {mono, {"--file", "FIFO", "OUT"}, kUsage},  // reads nothing without a mode
        {mono, {"--file", "FIFO", "probe"}, kUsage},  // OUT forgotten: reads nothing
        {mono, {"--file", "IN", "OUT", "probe"}, kMonoLine},
        {mono, {"--file", "IN", "OUT", "probe", "x", "y"}, kMonoLine},
        {mono, {"--file", "IN", "OUT", "Probe"}, kUsage},
        // A --file left after the rule: the caller asked for files; nothing is read or written.
        {mono, {"--file", "FIFO", "OUT", "probe", "--file"}, kUsage},
        {mono, {"--file", "--file", "OUT", "probe"}, kNoPicture},  // IN is named "--file"
        {empty, {"--file", "IN", "OUT", "draw"}, "ERR empty picture\n"},
        {mono, {"--file", "IN", "OUT", "paint"}, kUsage},
        {multi, {"--file", "IN", "OUT", "paint"}, kUsage},
        {"", {"--file", "IN", "OUT", "paint"}, kNoPicture},
        {multi, {"--file", "IN", "OUT", "paint", "zz"}, kMultiLine},  // colour not examined
        {mono, {"--file", "IN", "OUT", "paint", "#00FF0"}, "ERR colour 00FF0\n"},
        {mono, {"--file", "IN", "OUT", "paint", "00FF000"}, "ERR colour 00FF000\n"},
        {"", {"--file", "/", "OUT", "probe"}, kNoPicture},
        // An OUT that cannot be stored; no temporary file is left where one was made.
        {mono, {"--file", "IN", "NO-DIR", "paint", "3366cc"}, "ERR write\n"},
        {mono, {"--file", "IN", "FULL", "paint", "3366cc"}, "ERR write\n"},
        {mono, {"--file", "IN", "DIR", "paint", "3366cc"}, "ERR write\n"},
    };
    // FULL: a full device; the case is left out on systems without one.
    TempDir devices;
    const std::map<std::string, std::string> paths{
        {"IN", in}, {"OUT", out}, {"FIFO", fifo}, {"DIR", dir.path()}, {"NO-DIR", dir.file("x/o")},
        {"FULL", fullDevice(devices.path()).value_or("")}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words) + (c.picture.empty() ? " without IN" : ""));
        if (std::ranges::count(c.words, "FULL") != 0 && paths.at("FULL").empty()) continue;
        fs::remove(in);
        if (!c.picture.empty()) writeWholeFile(in, c.picture);
        writeWholeFile(out, "precious");
        std::vector<std::string> words;
        for (const auto& w : c.words)
            words.push_back(paths.contains(w) ? paths.at(w) : w);
        expectReply(runTool(words, std::chrono::seconds(20)), c.reply);
        EXPECT_EQ(readWholeFile(out), "precious");
        EXPECT_EQ(entries(dir.path()), c.picture.empty() ? 2 : 3);
    }
    EXPECT_LE(entries(devices.path()), 1);
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
    fs::resize_file(in, (std::uintmax_t{1} << 30) + 1);
    expectReply(runTool({"--file", in, out, "probe"}), "ERR picture size\n");
}

// The mono picture painted in r, g, b as libspng decodes it. Colour bytes that are multiples of 51
// come back exactly from the fainter pixel's premultiplied alpha 100; a clear pixel is 0, 0, 0, 0.
std::vector<std::uint8_t> paintedPixels(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> rgba(400);
    std::ranges::copy(std::array<std::uint8_t, 8>{r, g, b, 255, r, g, b, 100}, &rgba[4 * 73]);
    return rgba;
}

// A new OUT gets the umask's mode and this process's owner; a replaced one keeps its mode, and
// its owner where this process may give files away (as root: a file of nobody's painted in
// place stays nobody's). Through a link the link stays and its target is replaced; the colour
// the picture already has still paints; OUT may be IN, or a special file (a pipe) written in
// place, IN a pipe read to its end. No temporary file is left anywhere.
TEST_F(Run, PaintStoresThePictureWhereOutPoints) {
    writeWholeFile(in, mono);
    const passwd* nobody = ::getpwnam("nobody");
    const std::pair mine{::getuid(), ::getgid()};
    const auto kept = mine.first == 0 && nobody ? std::pair(nobody->pw_uid, nobody->pw_gid) : mine;
    ASSERT_EQ(::chown(in.c_str(), kept.first, kept.second), 0);
    ASSERT_EQ(::chmod(in.c_str(), 0640), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    fs::create_directory(dir.file("sub"));
    const std::string link = dir.file("link.png"), target = dir.file("sub/target.png");
    writeWholeFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    fs::create_symlink("sub/target.png", link);
    const auto painted = paintedPixels(0x33, 0x99, 0xCC);
    const auto fresh = fs::perms(0666 & ~mask);
    const std::string same = dir.file("same.png");
    // OUT, the file that gets the picture, the colour word, the reply, the pixels, the mode and
    // the owner.
    for (const auto& [path, stored, colour, line, pixels, mode, owner] :
         {std::tuple{out, out, "#3399cc", kPaintedLine, painted, fresh, mine},
          {link, target, "3399CC", kPaintedLine, painted, fs::perms(0640), mine},
          {same, same, "ff0000", kMonoLine, paintedPixels(255, 0, 0), fresh, mine},
          {in, in, "3399cc", kPaintedLine, painted, fs::perms(0640), kept}}) {
        SCOPED_TRACE(path);
        struct stat before {
        }, after{};
        ::stat(stored.c_str(), &before);  // an OUT that exists is renamed over, not rewritten
        expectReply(runTool({"--file", in, path, "paint", colour}), line);
        ASSERT_EQ(::stat(stored.c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(fuzz::readPngWithLibspng(bytesOf(readWholeFile(stored)))->rgba, pixels);
        EXPECT_EQ(fs::status(stored).permissions(), mode);
        EXPECT_EQ(std::pair(after.st_uid, after.st_gid), owner);
    }
    // OUT named without a folder, from IN's folder: the commonest call of all.
    const std::string here = "cd \"$1\" && \"$0\" --file in.png bare.png paint 3399cc";
    EXPECT_EQ(runProgram({"sh", "-c", here, CLIPTINT_BINARY, dir.path()}).out, kPaintedLine);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(std::tuple(entries(dir.path()), entries(dir.file("sub"))), std::tuple(7, 1));
    // From a pipe on stdin, which has no size to go by, to a pipe on stdout.
    const std::string pipes =
        "cat \"$1\" | \"$0\" --file /dev/stdin /dev/stdout paint 3399cc | cat";
    EXPECT_EQ(runProgram({"sh", "-c", pipes, CLIPTINT_BINARY, in}).out,
              readWholeFile(out) + kPaintedLine);
}

// Each input the fuzzers found a fault with (tests/data/crashers/, named after the fault) gets
// exactly one reply line, exit status 0 and nothing on stderr, in both modes.
TEST(Crashers, EachGetsOneReplyLineInEveryMode) {
    TempDir dir;
    for (const auto& entry : fs::directory_iterator(testData("crashers"))) {
        if (entry.path().extension() == ".md") continue;
        for (const char* mode : {"probe", "paint"}) {  // probe ignores the colour word
            SCOPED_TRACE(entry.path().filename().string() + " " + mode);
            const ToolRun run =
                runTool({"--file", entry.path().string(), dir.file("out.png"), mode, "3366cc"});
            EXPECT_TRUE(std::regex_match(run.out, std::regex("(MONO|MULTI|ERR) .*\n"))) << run.out;
            EXPECT_EQ(std::tie(run.err, run.status), std::tuple("", 0));
        }
    }
}

// --file IN OUT counts only as the first three words: file names only for IN and OUT, --file
// nowhere else; a name with a blank stays whole.
TEST(BashCompletion, OffersFileNamesOnlyForInAndOut) {
    TempDir dir;
    // Each line: a command line typed so far, in brackets, and what is offered after it.
    const std::string offers =
        "[cliptint ] --file,--help,--version,paint,probe\n"
        "[cliptint --file ] a.png,my icon.png\n"
        "[cliptint --file a.png m] my icon.png\n"
        "[cliptint --file --file a.png ] paint,probe\n"
        "[cliptint probe ] \n";
    // Completes the bracketed part of each line of $2 with the function the script registers for
    // cliptint, as bash calls it, and prints the line with what it offered.
    const std::string complete = R"sh(source "$0" && cd "$1" && touch a.png 'my icon.png' || exit
        while read -r entry; do
            line=${entry#[} line=${line%%]*}
            read -ra COMP_WORDS <<< "$line"; [[ $line == *' ' ]] && COMP_WORDS+=('')
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line} COMPREPLY=()
            complete=$(complete -p cliptint) && ${complete##*-F } cliptint
            echo "[$line] $(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ,)"
        done < <(printf %s "$2"))sh";
    const ToolRun run = runProgram({"bash", "--norc", "-c", complete,
                                    CLIPTINT_COMPLETIONS "/bash/cliptint", dir.path(), offers});
    EXPECT_EQ(run.out + run.err, offers);
}

}  // namespace
}  // namespace cliptint::test
