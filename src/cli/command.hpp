#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/answer.hpp"

namespace cliptint {

struct Invocation {
    std::vector<std::string> args;  // element 0 is the program path
    std::optional<std::string> fileIn;
    std::optional<std::string> fileOut;
};

// "--file IN OUT" counts only as the first three words and only when all three are there; it is
// then removed, so the next word becomes the mode word.
Invocation applyFileRule(std::vector<std::string> args);

// The mode word and the colour word of args (element 0 the program path, "--file IN OUT" already
// removed), viewed where they lie in args. nullopt, for the usage line before anything is read,
// when there is no mode word, or when a "--file" or "--batch" is left among the words: the caller
// asked for files or for many pictures, and a run that took it for an ignored word would read and
// replace the clipboard instead.
std::optional<Command> commandOf(const std::vector<std::string>& args);

}  // namespace cliptint
