#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace cliptint::test {

// A real headless sway for clipboard tests, started on construction and stopped (bounded in
// time) on destruction. sway refuses to run as root, so under root it runs as the unprivileged
// user "nobody" in a runtime directory of its own; root reaches its socket anyway. Throws
// std::runtime_error when sway cannot be started, so a test fails instead of passing vacuously.
class HeadlessSway {
  public:
    HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;
    ~HeadlessSway();

    // The compositor's socket, an absolute path (libwayland accepts one in WAYLAND_DISPLAY).
    const std::string& socket() const { return socket_; }
    pid_t pid() const { return pid_; }

    // The environment for the tool and the wl-clipboard peers: this compositor and nothing else
    // (no X display, so nothing can fall back to X11).
    std::vector<std::string> env() const;

  private:
    void stop();

    std::string runtimeDir_;
    std::string socket_;
    pid_t pid_ = -1;
};

}  // namespace cliptint::test
