#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/single_instance.h"

namespace platform {
namespace {

// "Local\CorvaneHID.singleton" -> "CorvaneHID.singleton": the namespace
// prefix has no meaning here; the runtime folder is already per user.
std::string lockFilePath(const std::string& name) {
    const std::size_t slash = name.find_last_of("\\/");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/" + base + ".lock";
    }
    return "/tmp/" + base + "-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

struct SingleInstance::Handle {
    int fd = -1;
};

SingleInstance::SingleInstance(const std::string& name) : handle_(new Handle) {
    handle_->fd = ::open(lockFilePath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (handle_->fd < 0) {
        state_ = State::Unavailable;
        return;
    }
    if (flock(handle_->fd, LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Acquired;
    } else {
        state_ = errno == EWOULDBLOCK ? State::AlreadyRunning : State::Unavailable;
    }
}

SingleInstance::~SingleInstance() {
    if (handle_->fd >= 0) ::close(handle_->fd);
}

}  // namespace platform
