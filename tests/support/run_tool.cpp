#include "support/run_tool.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <stdexcept>

#if __has_include(<sys/sysmacros.h>)
#include <sys/sysmacros.h>  // makedev, on glibc
#endif

// Linux's own paths (/proc, its device numbers) where the system has them, unless the build asks
// for what other systems do.
#if defined(__linux__) && !defined(CLIPTINT_POSIX_FALLBACKS)
constexpr bool kLinux = true;
#else
constexpr bool kLinux = false;
#endif

namespace cliptint::test {

namespace {

// The words' pointers and a null one, as exec takes them.
std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result(words.size() + 1);
    std::ranges::transform(words, result.begin(), [](std::string& word) { return word.data(); });
    return result;
}

// The program that exec runs: the name itself when it holds a slash, else the first executable of
// that name in the folders of PATH (env's, else this process's). Found before the fork, so that
// the child has nothing left to allocate.
std::string programPath(const std::string& name, const std::vector<std::string>& env) {
    if (name.find('/') != std::string::npos) return name;
    const char* own = std::getenv("PATH");
    std::string path = own != nullptr ? own : "/usr/bin:/bin";
    for (const auto& entry : env)
        if (entry.starts_with("PATH=")) path = entry.substr(5);
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;  // not found: exec fails and the child ends with 127
}

// An unnamed file holding the bytes, read from its start: the child's stdin, stdout or stderr.
int scratchFile(const std::string& bytes) {
    std::string path = std::filesystem::temp_directory_path() / "cliptint-run-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) throw std::runtime_error("scratch file");
    ::unlink(path.c_str());
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error("scratch file");
    return fd;
}

// Everything the child wrote to the file, which is closed.
std::string contents(int fd) {
    std::string text;
    std::array<char, 1 << 16> buffer;
    for (ssize_t got;
         (got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(text.size()))) > 0;)
        text.append(buffer.data(), static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

}  // namespace

pid_t startProgram(std::vector<std::string> argv, std::vector<std::string> env,
                   const std::array<int, 3>& fds) {
    // Everything the child needs is made before the fork: tests run programs from several
    // threads, and a child of a threaded process that allocates may wait for ever on a lock
    // another thread held at the fork.
    const std::string program = programPath(argv[0], env);
    const std::vector<char*> args = pointers(argv), envp = pointers(env);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setpgid(0, 0);
    for (int i = 0; i < 3; ++i)
        ::dup2(fds[i], i);
    ::execve(program.c_str(), args.data(), env.empty() ? environ : envp.data());
    ::_exit(127);
}

// The output goes to files, not pipes: the run is over when the child ends, whatever its own
// children (a clipboard owner, a wl-copy server) still hold open.
ToolRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& env, const std::string& input) {
    const int in = scratchFile(input), out = scratchFile({}), err = scratchFile({});
    const pid_t pid = startProgram(argv, env, {in, out, err});
    ::close(in);
    // Without a child there is nothing to wait for or to kill, so a failed fork ends the test.
    if (pid < 0) {
        ::close(out);
        ::close(err);
        throw std::runtime_error("fork");
    }

    // The child is waited for on a thread of its own; one still running at the deadline is
    // killed, which ends that wait too.
    auto ended = std::async(std::launch::async, [pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    });
    const bool inTime = ended.wait_for(timeout) == std::future_status::ready;
    if (!inTime) ::kill(pid, SIGKILL);
    const int status = ended.get();
    const bool exited = inTime && WIFEXITED(status);
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

std::optional<std::string> procPathOf(int fd) {
    if (!kLinux) return std::nullopt;
    return "/proc/self/fd/" + std::to_string(fd);
}

// Linux's /dev/full is the character device 1, 7.
std::optional<std::string> fullDevice(const std::string& folder) {
    if (!kLinux) return std::nullopt;
    const std::string path = folder + "/full";
    if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0) return path;
    return "/dev/full";
}

}  // namespace cliptint::test
