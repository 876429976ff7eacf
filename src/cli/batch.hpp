#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cliptint {

// The longest line of a batch, without its line feed: two paths of PATH_MAX bytes and the tab.
// A path longer than that cannot be opened, so no line that names two usable files is refused.
inline constexpr std::size_t kMaxBatchLine = 2 * 4096 + 1;

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

// The IN and OUT of a line "IN<tab>OUT": nullopt for a line that is not exactly two fields
// (no tab, or more than one), or that holds a NUL byte, which no path can hold.
struct BatchFiles {
    std::string in;
    std::string out;
};
std::optional<BatchFiles> splitBatchLine(std::string_view line);

// Answers each line "IN<tab>OUT" of standard input exactly as `cliptint --file IN OUT WORDS...`
// would, with the same reply line and the same OUT, in input order, each reply written as soon
// as its picture is done. A line that is not IN<tab>OUT gets the usage line. args: the program
// path, then the words that followed "--batch". Ends at the end of input, or when standard output
// takes no more replies, with exit status 0.
[[noreturn]] void runBatch(const std::vector<std::string>& args);

}  // namespace cliptint
