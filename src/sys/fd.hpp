#pragma once

#include <utility>

#include "sys/calls.hpp"

namespace cliptint {

// A file descriptor that closes itself; -1 holds none.
class OwnedFd {
  public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~OwnedFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) sys::close(fd_);
        fd_ = fd;
    }
    // Closes now and tells whether the close succeeded: a failed close can mean lost data.
    bool close() { return sys::close(release()) == 0; }

  private:
    int fd_;
};

}  // namespace cliptint
