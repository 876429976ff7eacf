#include "cli/batch.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/command.hpp"
#include "cli/fail.hpp"
#include "cli/steps.hpp"
#include "sys/calls.hpp"
#include "sys/io.hpp"

namespace cliptint {

namespace {

// The longest line of a batch, without its line feed: two paths of PATH_MAX bytes and the tab.
// A path longer than that cannot be opened, so no line that names two usable files is refused.
constexpr std::size_t kMaxBatchLine = 2 * 4096 + 1;

// One line of standard input, without its line feed; nullopt for a line over kMaxBatchLine bytes
// (skipped to its end, not held) and for a last line that the input ends before its line feed
// (it may have been cut short, and a path cut short names another file).
using BatchLine = std::optional<std::string>;

// Reads a descriptor line by line through a buffer of fixed size, so that memory does not grow
// with the input, whatever its lines.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd), buffer_(kBufferBytes) {}

    // The next line; nullopt at the end of the input, or when reading fails (which ends it too).
    std::optional<BatchLine> next();

  private:
    static constexpr std::size_t kBufferBytes = 1 << 16;
    bool fill();

    int fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // the unread bytes are [begin_, end_)
    std::size_t end_ = 0;
};

// The IN and OUT of a line "IN<tab>OUT".
struct BatchFiles {
    std::string in;
    std::string out;
};

bool LineReader::fill() {
    for (;;) {
        const ssize_t got = sys::read(fd_, buffer_.data(), buffer_.size());
        if (got > 0) {
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        // A descriptor set non-blocking by whoever shares it: wait for the next bytes.
        if (got < 0 && errno == EAGAIN) {
            pollfd readable{fd_, POLLIN, 0};
            if (sys::poll(&readable, 1, -1) >= 0 || errno == EINTR) continue;
        }
        return false;
    }
}

std::optional<BatchLine> LineReader::next() {
    std::string text;
    bool tooLong = false;
    bool started = false;  // some byte of this line was read
    for (;;) {
        if (begin_ == end_ && !fill()) {
            if (!started) return std::nullopt;
            return BatchLine();
        }
        started = true;
        const char* from = buffer_.data() + begin_;
        const char* to = buffer_.data() + end_;
        const char* feed = std::find(from, to, '\n');
        const auto piece = static_cast<std::size_t>(feed - from);
        if (!tooLong && text.size() + piece > kMaxBatchLine) {
            tooLong = true;
            text = std::string();
        }
        if (!tooLong) text.append(from, piece);
        begin_ += piece;
        if (feed != to) {
            ++begin_;
            return tooLong ? BatchLine() : BatchLine(std::move(text));
        }
    }
}

// nullopt for a line that is not exactly two fields (no tab, or more than one), or that holds a
// NUL byte, which no path can hold.
std::optional<BatchFiles> splitBatchLine(std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    if (line.find('\t', tab + 1) != std::string_view::npos) return std::nullopt;
    if (line.find('\0') != std::string_view::npos) return std::nullopt;
    return BatchFiles{std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))};
}

// The reply to one line; the same words answer every line.
std::string answerLine(const std::optional<Command>& command, const BatchLine& line) {
    const auto files = line ? splitBatchLine(*line) : std::nullopt;
    if (!command || !files) return errorLine(kUsage);
    FilePictures pictures(files->in, files->out);
    return replyLine(answerRun(*command, pictures));
}

}  // namespace

void runBatch(const std::vector<std::string>& args) {
    // The words are checked as a single run's after "--file IN OUT": a line gets the usage line
    // where `cliptint --file IN OUT WORDS...` would.
    const auto command = commandOf(args);
    LineReader input(STDIN_FILENO);
    while (const auto line = input.next()) {
        // One write a reply, so a reader sees each as soon as its picture is done. A reader that
        // has gone leaves no one to tell the rest.
        if (!writeAll(STDOUT_FILENO, answerLine(command, *line) + '\n')) break;
    }
    std::_Exit(0);
}

}  // namespace cliptint
