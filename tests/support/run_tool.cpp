#include "support/run_tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace cliptint::test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result;
    for (auto& word : words)
        result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

// A file holding the bytes, read from its start: the child's stdin, which it may read or not.
int inputFile(const std::string& input) {
    const int fd = ::memfd_create("input", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, input.data(), input.size()) != ssize_t(input.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        throw std::runtime_error("input file");
    }
    return fd;
}

}  // namespace

ToolRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& env, const std::string& input) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const int in = inputFile(input);
    // Everything the child needs is made before the fork: tests run programs from several
    // threads, and a child of a threaded process that allocates may wait for ever on a lock
    // another thread held at the fork.
    auto args = std::vector(argv), envp = std::vector(env);
    const std::vector<char*> argp = pointers(args), envpp = pointers(envp);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    // Without a child, waitpid(-1) below would reap another thread's child (and a timed-out
    // kill(-1) signal every process), so a failed fork ends the test here.
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::dup2(in, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (env.empty()) ::execvp(argp[0], argp.data());
        ::execvpe(argp[0], argp.data(), envpp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out[1]);
    ::close(err[1]);

    // Reads both pipes until they close or the deadline passes.
    ToolRun run;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool finished = true;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            start + timeout - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            finished = false;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            if (got > 0) (k == 0 ? run.out : run.err).append(buffer, std::size_t(got));
            if (got <= 0) ::close(std::exchange(fds[k].fd, -1));
        }
    }
    for (const auto& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (finished && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

ToolRun runTool(const std::vector<std::string>& words, std::chrono::milliseconds timeout,
                const std::vector<std::string>& env) {
    std::vector<std::string> argv{CLIPTINT_BINARY};
    argv.insert(argv.end(), words.begin(), words.end());
    return runProgram(argv, timeout, env);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr ? base : "/tmp") + "/cliptint-test-XXXXXX";
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
