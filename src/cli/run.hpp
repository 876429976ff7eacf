#pragma once

namespace cliptint {

// One whole run: reads the picture, scans it, dispatches on the mode word and replies. Never
// returns: every path ends in exactly one reply line and exit status 0.
[[noreturn]] void run(int argc, char** argv);

}  // namespace cliptint
