#include "cli/run.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/answer.hpp"
#include "cli/fail.hpp"
#include "cli/files.hpp"
#include "cli/help.hpp"
#include "clipboard/clipboard.hpp"

namespace cliptint {

namespace {

struct Invocation {
    std::vector<std::string> args;  // element 0 is the program path
    std::optional<std::string> fileIn;
    std::optional<std::string> fileOut;
};

// "--file IN OUT" counts only as the first three words and only when all three are there; it is
// then removed, so the next word becomes the mode word.
Invocation applyFileRule(std::vector<std::string> args) {
    Invocation invocation;
    if (args.size() >= 4 && args[1] == "--file") {
        invocation.fileIn = args[2];
        invocation.fileOut = args[3];
        args.erase(args.begin() + 1, args.begin() + 4);
    }
    invocation.args = std::move(args);
    return invocation;
}

// A "--file" left among the words after the rule: the caller asked for files, and a run that
// took it for an ignored word would read and replace the clipboard instead.
bool hasMisplacedFile(const Invocation& invocation) {
    const auto& args = invocation.args;
    return std::find(args.begin() + 1, args.end(), "--file") != args.end();
}

Result<std::optional<Bytes>> readPicture(const Invocation& invocation, Clipboard& pb) {
    if (invocation.fileIn) return readPictureFile(*invocation.fileIn);
    return readClipboard(pb);
}

Result<void> storePicture(const Invocation& invocation, Clipboard& pb, const Bytes& png) {
    if (invocation.fileOut) return writeFileAtomically(*invocation.fileOut, png);
    return writeClipboard(pb, png);
}

}  // namespace

void run(int argc, char** argv) {
    // A first word that asks about the tool itself is answered before anything is looked at.
    if (argc >= 2) {
        if (const auto text = aboutTool(argv[1])) reply(*text);
    }
    const Invocation invocation = applyFileRule(std::vector<std::string>(argv, argv + argc));
    const auto& args = invocation.args;
    if (args.size() < 2 || hasMisplacedFile(invocation)) fail(kUsage);
    // The colour word is viewed where it lies in args: an optional<std::string> made on the way
    // would be a temporary, gone before the view is read.
    const Command command{
        args[1], args.size() >= 3 ? std::optional<std::string_view>(args[2]) : std::nullopt};

    const auto pb = obtainClipboard();
    auto picture = readPicture(invocation, *pb);
    if (!picture) fail(picture.error());
    if (!*picture) fail("no picture on the clipboard");

    // The owner forked by a clipboard store carries neither the picture nor its canvas: both
    // are gone once answered.
    const auto answered = answer(command, std::move(**picture));
    if (!answered) fail(answered.error());
    if (answered->png) {
        if (auto stored = storePicture(invocation, *pb, *answered->png); !stored) {
            fail(stored.error());
        }
    }
    reply(answered->line);
}

}  // namespace cliptint
