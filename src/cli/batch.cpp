#include "cli/batch.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "cli/command.hpp"
#include "cli/steps.hpp"
#include "sys/calls.hpp"
#include "sys/io.hpp"

namespace cliptint {

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

std::optional<BatchFiles> splitBatchLine(std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    if (line.find('\t', tab + 1) != std::string_view::npos) return std::nullopt;
    if (line.find('\0') != std::string_view::npos) return std::nullopt;
    return BatchFiles{std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))};
}

namespace {

// The reply to one line; the same words answer every line.
std::string answerLine(const std::optional<Command>& command, const BatchLine& line) {
    const auto files = line ? splitBatchLine(*line) : std::nullopt;
    if (!command || !files) return replyLine(std::unexpected(std::string(kUsage)));
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
