// The built tool run on files: every reply line, where a painted picture lands and what is left
// beside it, the real limits, and the inputs the fuzzers found a fault with; and the bash
// completion, sourced as bash-completion loads it, asked what it offers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        {mono, {"--file", "FIFO", "OUT", "paint", "3366cc", "--batch"}, kUsage},  // likewise
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

// A batch runs each line IN<tab>OUT as `--file IN OUT WORDS...` would: the same reply lines in the
// same order and the same files left, also where a line reads what an earlier one wrote or two
// lines write one OUT. Lines that are not IN<tab>OUT (no tab, two tabs, a NUL, longer than the
// bound and than the reading buffer, no line feed) get the usage line and do not stop the lines
// after them.
TEST_F(Run, BatchAnswersEachLineAsItsSingleRunDoes) {
    const std::string multi = pngOf(clearCanvas(1, 1, {{0, 1, {0, 0, 0, 255}}}));
    const std::string damaged = mono.substr(0, mono.size() - 20);
    // Each line, D standing for the folder.
    const std::vector<std::string> lines{
        "D/mono.png\tD/a.png", "D/a.png\tD/b.png", "D/missing.png\tD/c.png",
        "D/damaged.png\tD/d.png", "D/multi.png\tD/e.png", "D/mono.png\tD/x/f.png", "D/mono.png",
        "D/mono.png\tD/a.png\tD/g.png", "D/mono.png\tD/h" + std::string(1, '\0'),
        "D/" + std::string(70000, 'y') + "\tD/i.png",
        // 8,193 bytes, the longest line, and one more
        std::string(4096, 'y') + "\t" + std::string(4096, 'z'),
        std::string(4096, 'y') + "\t" + std::string(4097, 'z'), "D/mono.png\tD/b.png"};
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"paint", "#3399cc"}, {"probe"}, {"paint"}, {"Probe"}, {}}) {
        SCOPED_TRACE(testing::PrintToString(words));
        std::string singleReplies, input;
        std::map<std::string, std::string> left[2];  // what each way leaves: name -> bytes
        for (const int batch : {0, 1}) {
            TempDir folder;
            for (const auto& [name, bytes] :
                 {std::pair{"mono.png", mono}, {"multi.png", multi}, {"damaged.png", damaged}})
                writeWholeFile(folder.file(name), bytes);
            for (const std::string& line : lines) {
                const std::string filled =
                    std::regex_replace(line, std::regex("D/"), folder.path() + "/");
                input += batch ? filled + "\n" : "";
                const auto tab = filled.find('\t');
                const bool twoFields =
                    tab != std::string::npos && filled.find('\t', tab + 1) == std::string::npos &&
                    filled.find('\0') == std::string::npos && filled.size() <= 8193;
                if (batch) continue;
                std::vector<std::string> argv{"--file", filled.substr(0, tab),
                                              filled.substr(tab + 1)};
                argv.insert(argv.end(), words.begin(), words.end());
                singleReplies += twoFields ? runTool(argv).out : kUsage;
            }
            // A last line that the input ends before its line feed may have been cut short.
            input += batch ? folder.file("mono.png") + "\t" + folder.file("z.png") : "";
            singleReplies += batch ? "" : kUsage;
            if (batch) {
                std::vector<std::string> argv{CLIPTINT_BINARY, "--batch"};
                argv.insert(argv.end(), words.begin(), words.end());
                expectReply(runProgram(argv, std::chrono::seconds(60), {}, input), singleReplies);
            }
            for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
                left[batch][entry.path().filename()] = readWholeFile(entry.path());
        }
        EXPECT_EQ(left[0], left[1]);
    }
}

// What the descriptor yields up to and including a line feed, or up to its end, waiting at most
// 20 s in all.
std::string readReply(int fd) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char c = 0;
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 1000) != 1) continue;
        if (::read(fd, &c, 1) != 1) break;  // the end
        text += c;
    }
    return text;
}

// Waits, 20 s at most, until the process sleeps (as it does waiting for input) or has ended;
// true when it sleeps.
bool awaitSleep(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
        const auto state = stat.find(") ");  // the state follows the command's name
        if (state == std::string::npos || stat[state + 2] == 'Z') return false;
        if (stat[state + 2] == 'S') return true;
        ::poll(nullptr, 0, 5);
    }
    return false;
}

// A reader sees each reply as soon as its picture is done: the batch neither waits for more
// lines nor holds replies back in a buffer. Its standard input is non-blocking, as a descriptor
// shared with another program may be: a read that finds nothing yet is no end of input.
TEST_F(Run, BatchRepliesToEachLineBeforeTheNextArrives) {
    writeWholeFile(in, mono);
    int toTool[2], fromTool[2];
    ASSERT_EQ(::pipe2(toTool, O_CLOEXEC) | ::pipe2(fromTool, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(toTool[0], F_SETFL, O_NONBLOCK), 0);
    const pid_t pid = startProgram({CLIPTINT_BINARY, "--batch", "probe"}, {"PATH=/usr/bin:/bin"},
                                   {toTool[0], fromTool[1], STDERR_FILENO});
    ::close(toTool[0]);
    ::close(fromTool[1]);
    const std::string line = in + "\t" + out + "\n";
    for (int k = 0; k < 2; ++k) {
        // Each line comes only once the batch waits for it, having read nothing.
        ASSERT_TRUE(awaitSleep(pid)) << "ended before line " << k;
        ASSERT_EQ(::write(toTool[1], line.data(), line.size()), std::ssize(line));
        EXPECT_EQ(readReply(fromTool[0]), kMonoLine) << "line " << k;
    }
    ::close(toTool[1]);
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(std::tuple(readReply(fromTool[0]), status), std::tuple("", 0));
    ::close(fromTool[0]);
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
        "[cliptint ] --batch,--file,--help,--version,paint,probe\n"
        "[cliptint --batch ] paint,probe\n"
        "[cliptint --batch probe ] \n"
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
