#pragma once

namespace cliptint {

// One whole run: reads the picture, scans it, dispatches on the mode word and replies; or, with
// "--batch" as the first word, a run of that kind for each line of standard input. Never returns:
// every path ends in exit status 0, after exactly one reply line (one for each line of a batch).
[[noreturn]] void run(int argc, char** argv);

}  // namespace cliptint
