#pragma once

#include <string>
#include <vector>

namespace cliptint {

// Answers each line "IN<tab>OUT" of standard input exactly as `cliptint --file IN OUT WORDS...`
// would, with the same reply line and the same OUT, in input order, each reply written as soon
// as its picture is done. A line that is not IN<tab>OUT gets the usage line. args: the program
// path, then the words that followed "--batch". Ends at the end of input, or when standard output
// takes no more replies, with exit status 0.
[[noreturn]] void runBatch(const std::vector<std::string>& args);

}  // namespace cliptint
