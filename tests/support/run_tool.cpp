#include "support/run_tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

[[noreturn]] void execChild(std::vector<std::string> argv, std::vector<std::string> env, int inFd,
                            int outFd, int errFd) {
    ::dup2(inFd, STDIN_FILENO);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    auto args = pointers(argv);
    if (env.empty()) {
        ::execvp(args[0], args.data());
    } else {
        auto envp = pointers(env);
        ::execvpe(args[0], args.data(), envp.data());
    }
    ::_exit(127);
}

// Reads both pipes until they close or the deadline passes, feeding input to the child.
bool collect(int outFd, int errFd, int inFd, const std::string& input, ToolRun& run,
             std::chrono::steady_clock::time_point deadline) {
    std::size_t fed = 0;
    if (input.empty() && inFd >= 0) ::close(std::exchange(inFd, -1));
    while (outFd >= 0 || errFd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left.count())) < 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            int& fd = k == 0 ? outFd : errFd;
            if (got <= 0) {
                ::close(std::exchange(fd, -1));
                continue;
            }
            (k == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(got));
        }
        if (inFd >= 0 && fds[2].revents != 0) {
            const ssize_t put = ::write(inFd, input.data() + fed, input.size() - fed);
            if (put > 0) fed += static_cast<std::size_t>(put);
            if (put <= 0 || fed == input.size()) ::close(std::exchange(inFd, -1));
        }
    }
    if (inFd >= 0) ::close(inFd);
    return true;
}

}  // namespace

ToolRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& env, const std::string& input) {
    int out[2], err[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) execChild(argv, env, in[0], out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    ::close(in[0]);
    ::signal(SIGPIPE, SIG_IGN);

    ToolRun run;
    const bool finished = collect(out[0], err[0], in[1], input, run, start + timeout);
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
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/cliptint-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
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
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string testData(const std::string& name) {
    return std::string(CLIPTINT_TEST_DATA) + "/" + name;
}

}  // namespace cliptint::test
