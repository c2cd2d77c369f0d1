#pragma once

#include <memory>
#include <string>

namespace platform {

// A process-wide marker that tells a second instance of the program that
// one already runs: a named mutex on Windows ("Local\..." names live in the
// logon session), a locked file on Linux in the user's runtime folder
// (XDG_RUNTIME_DIR), else in a folder of the user's own (mode 0700) under
// TMPDIR or /tmp. The Linux marker is never opened through a symbolic link
// and must belong to the user, as must the folder made for it; otherwise
// the state is Unavailable, so another user can neither stop this program
// nor make it create a file elsewhere. The marker is held until the object
// is destroyed or the process ends.
class SingleInstance {
public:
    enum class State {
        Acquired,        // this process is the only instance
        AlreadyRunning,  // another process holds the marker
        Unavailable,     // the marker could not be created; run as a single instance
    };

    explicit SingleInstance(const std::string& name);
    ~SingleInstance();

    State state() const { return state_; }

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    State state_ = State::Unavailable;
};

}  // namespace platform
