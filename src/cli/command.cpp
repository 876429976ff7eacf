#include "cli/command.hpp"

#include <algorithm>
#include <utility>

namespace cliptint {

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

std::optional<Command> commandOf(const std::vector<std::string>& args) {
    if (args.size() < 2) return std::nullopt;
    const auto misplaced = [](const std::string& word) {
        return word == "--file" || word == "--batch";
    };
    if (std::any_of(args.begin() + 1, args.end(), misplaced)) return std::nullopt;
    return Command{args[1],
                   args.size() >= 3 ? std::optional<std::string_view>(args[2]) : std::nullopt};
}

}  // namespace cliptint
