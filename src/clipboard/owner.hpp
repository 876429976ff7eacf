#pragma once

#include "result.hpp"

namespace cliptint {

// What a clipboard backend does in the process that keeps its picture on the clipboard. Neither
// X11 nor Wayland keeps clipboard data: the selection's owner is asked for it at every paste, so
// a process has to stay behind the tool and serve it.
class SelectionOwner {
  public:
    virtual ~SelectionOwner() = default;

    // Opens a connection of its own and makes the selection its own; false when that cannot be
    // done within the backend's limits.
    virtual bool takeSelection() = 0;

    // Serves every request until another client takes the selection or the service goes away.
    virtual void serveSelection() = 0;
};

// Forks a detached child that takes the selection and serves it, and returns once the child owns
// it, so that a paste right after the reply sees the new picture. The child leaves the caller's
// session and directory, holds /dev/null on fds 0-2 and no other inherited fd, and so outlives
// this process without holding its terminal or a `$(cliptint paint ...)` pipe. Failure: "write"
// (no process, or the selection not taken in time); a late child is killed first.
Result<void> startOwner(SelectionOwner& owner);

}  // namespace cliptint
