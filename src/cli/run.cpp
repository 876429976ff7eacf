#include "cli/run.hpp"

#include <optional>
#include <string>
#include <vector>

#include "canvas/canvas.hpp"
#include "cli/fail.hpp"
#include "cli/files.hpp"
#include "clipboard/clipboard.hpp"
#include "paint/paint.hpp"
#include "probe/probe.hpp"

namespace cliptint {

namespace {

constexpr std::string_view kUsage = "usage: probe | paint RRGGBB";

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
    const Invocation invocation = applyFileRule(std::vector<std::string>(argv, argv + argc));
    const auto& args = invocation.args;
    if (args.size() < 2) fail(kUsage);
    const std::string& mode = args[1];

    const auto pb = obtainClipboard();
    auto data = readPicture(invocation, *pb);
    if (!data) fail(data.error());
    if (!*data) fail("no picture on the clipboard");

    auto canvas = makeCanvas(**data);
    if (!canvas) fail(canvas.error());
    const auto stats = scanCanvas(*canvas);
    if (!stats) fail(stats.error());

    if (mode == "probe") reply(stats->line);
    if (mode != "paint" || args.size() < 3) fail(kUsage);
    if (!stats->mono) reply(stats->line);

    const auto painted = paintCanvas(args[2], *canvas, *stats);
    if (!painted) fail(painted.error());
    // A clipboard owner that serves the PNG after this process ends is forked from the store:
    // it should not carry the canvas (up to 160 MB) and the picture bytes it never reads.
    *canvas = Canvas{};
    data->reset();
    if (auto stored = storePicture(invocation, *pb, painted->png); !stored) fail(stored.error());
    reply(painted->line);
}

}  // namespace cliptint
