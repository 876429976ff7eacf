#include "support/run_tool.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>

#if __has_include(<sys/sysmacros.h>)
#include <sys/sysmacros.h>  // makedev, on glibc
#endif

namespace cliptint::test {

namespace {

// The words' pointers and a null one, as exec takes them.
std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result(words.size() + 1);
    std::ranges::transform(words, result.begin(), [](std::string& word) { return word.data(); });
    return result;
}

// An unnamed file holding the bytes, read from its start: the child's stdin, stdout or stderr.
int scratchFile(const std::string& bytes) {
    std::string path = std::filesystem::temp_directory_path() / "cliptint-run-XXXXXX";
    const int fd = ::mkstemp(path.data());
    ::unlink(path.c_str());
    if (fd < 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 ||
        ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("scratch file");
    return fd;
}

// Everything the child wrote to the file, which is closed.
std::string contents(int fd) {
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    text.resize(
        static_cast<std::size_t>(std::max<ssize_t>(::pread(fd, text.data(), text.size(), 0), 0)));
    ::close(fd);
    return text;
}

}  // namespace

pid_t startProgram(std::vector<std::string> argv, std::vector<std::string> env,
                   const std::array<int, 3>& fds) {
    // Everything the child needs is made before the fork: tests run programs from several
    // threads, and a child of a threaded process that allocates may wait for ever on a lock
    // another thread held at the fork. (execvp looks argv[0] up on the environment's PATH in
    // buffers on the stack, in glibc as in the BSDs' and macOS's C library.)
    std::vector<char*> args = pointers(argv), envp = pointers(env);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setpgid(0, 0);
    for (int i = 0; i < 3; ++i)
        ::dup2(fds[i], i);
    if (!env.empty()) environ = envp.data();
    ::execvp(args[0], args.data());
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

// Linux's /dev/full is the character device 1, 7. (Not in a build that takes the paths other
// systems take.)
std::optional<std::string> fullDevice([[maybe_unused]] const std::string& folder) {
#if defined(__linux__) && !defined(CLIPTINT_POSIX_FALLBACKS)
    const std::string path = folder + "/full";
    return ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0 ? path : "/dev/full";
#else
    return std::nullopt;
#endif
}

}  // namespace cliptint::test
