#pragma once

#include <memory>
#include <string>

namespace platform {

// A process-wide marker that tells a second instance of the program that
// one already runs: a named mutex on Windows ("Local\..." names live in the
// logon session), a locked file in the runtime folder on Linux. The marker
// is held until the object is destroyed or the process ends.
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
