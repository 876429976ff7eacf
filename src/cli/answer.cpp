#include "cli/answer.hpp"

#include <utility>

#include "canvas/canvas.hpp"
#include "paint/paint.hpp"
#include "probe/probe.hpp"

namespace cliptint {

namespace {

// The picture bytes end here, once their canvas exists.
Result<Canvas> decode(Bytes picture) {
    return makeCanvas(picture);
}

}  // namespace

Result<Answer> answer(const Command& command, Bytes picture) {
    auto canvas = decode(std::move(picture));
    if (!canvas) return std::unexpected(canvas.error());
    const auto stats = scanCanvas(*canvas);
    if (!stats) return std::unexpected(stats.error());

    if (command.mode == "probe") return Answer{stats->line, std::nullopt};
    if (command.mode != "paint" || !command.colour) return std::unexpected(std::string(kUsage));
    if (!stats->mono) return Answer{stats->line, std::nullopt};

    auto painted = paintCanvas(*command.colour, std::move(*canvas), *stats);
    if (!painted) return std::unexpected(painted.error());
    return Answer{std::move(painted->line), std::move(painted->png)};
}

}  // namespace cliptint
