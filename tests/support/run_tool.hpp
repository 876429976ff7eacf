#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace cliptint::test {

struct ToolRun {
    std::string out;  // everything written to stdout
    std::string err;  // everything written to stderr
    int status = -1;  // exit status; -1 when killed by a signal or timed out
};

// Runs the built cliptint with the words, stdin from /dev/null, and waits at most the timeout.
// env, when not empty, replaces the environment ("NAME=value" entries).
ToolRun runTool(const std::vector<std::string>& words,
                std::chrono::milliseconds timeout = std::chrono::seconds(60),
                const std::vector<std::string>& env = {});

// Runs any program the same way (argv[0] is looked up on PATH).
ToolRun runProgram(const std::vector<std::string>& argv,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60),
                   const std::vector<std::string>& env = {}, const std::string& input = {});

// Starts argv (argv[0] looked up on PATH) in a process group of its own, with the environment
// (this process's when empty) and the descriptors as stdin, stdout and stderr; returns its pid,
// or -1 when the fork fails. The child allocates nothing: tests start programs from several
// threads, and a child of a threaded process that allocates may wait for ever on a lock another
// thread held at the fork.
pid_t startProgram(std::vector<std::string> argv, std::vector<std::string> env,
                   const std::array<int, 3>& fds);

// A fresh empty directory under TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& bytes);
std::string testData(const std::string& name);  // path of a file under tests/data

// A device that takes no byte (as /dev/full) made in the folder, so that a fault that renames
// over it cannot take the system's; the system's where none can be made; nullopt on systems
// without one.
std::optional<std::string> fullDevice(const std::string& folder);

}  // namespace cliptint::test
