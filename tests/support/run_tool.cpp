#include "support/run_tool.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace cliptint::test {

namespace {

// The words' pointers and a null one, as exec takes them.
std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result(words.size() + 1);
    std::ranges::transform(words, result.begin(), [](std::string& word) { return word.data(); });
    return result;
}

// A memory file holding the bytes: the child's stdin, stdout or stderr. Its name under
// /proc/self/fd opens it afresh from its start.
int memoryFile(const std::string& bytes) {
    const int fd = ::memfd_create("run", MFD_CLOEXEC);
    if (fd < 0) throw std::runtime_error("memory file");
    writeWholeFile("/proc/self/fd/" + std::to_string(fd), bytes);
    return fd;
}

// Everything the child wrote to the memory file, which is closed.
std::string contents(int fd) {
    std::string text = readWholeFile("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    return text;
}

}  // namespace

pid_t startProgram(std::vector<std::string> argv, std::vector<std::string> env,
                   const std::array<int, 3>& fds) {
    // Everything the child needs is made before the fork: tests run programs from several
    // threads, and a child of a threaded process that allocates may wait for ever on a lock
    // another thread held at the fork.
    const std::vector<char*> args = pointers(argv), envp = pointers(env);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setpgid(0, 0);
    for (int i = 0; i < 3; ++i)
        ::dup2(fds[i], i);
    ::execvpe(args[0], args.data(), env.empty() ? environ : envp.data());
    ::_exit(127);
}

// The output goes to files, not pipes: the run is over when the child ends, whatever its own
// children (a clipboard owner, a wl-copy server) still hold open.
ToolRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& env, const std::string& input) {
    const int in = memoryFile(input), out = memoryFile({}), err = memoryFile({});
    const pid_t pid = startProgram(argv, env, {in, out, err});
    ::close(in);
    // Without a child there is nothing to wait for or to kill, so a failed fork ends the test.
    if (pid < 0) {
        ::close(out);
        ::close(err);
        throw std::runtime_error("fork");
    }

    // The pidfd turns readable when the child ends; a child still running at the deadline is
    // killed.
    const int ended = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd wait{ended, POLLIN, 0};
    // The tests handle no signal, so nothing interrupts the wait.
    const int ready = ::poll(&wait, 1, static_cast<int>(timeout.count()));
    if (ready != 1) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ended);
    const bool exited = ready == 1 && WIFEXITED(status);
    return {contents(out), contents(err), exited ? WEXITSTATUS(status) : -1};
}

ToolRun runTool(const std::vector<std::string>& words, std::chrono::milliseconds timeout,
                const std::vector<std::string>& env) {
    std::vector<std::string> argv{CLIPTINT_BINARY};
    argv.insert(argv.end(), words.begin(), words.end());
    return runProgram(argv, timeout, env);
}

// temp_directory_path() is TMPDIR, or /tmp without it.
TempDir::TempDir() : path_(std::filesystem::temp_directory_path() / "cliptint-test-XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

void writeWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string testData(const std::string& name) {
    return std::string(CLIPTINT_TEST_DATA) + "/" + name;
}

}  // namespace cliptint::test
