#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/single_instance.h"

namespace platform {
namespace {

// "Local\CorvaneHID.singleton" -> "CorvaneHID.singleton": the namespace
// prefix has no meaning here; the runtime folder is already per user.
std::string baseName(const std::string& name) {
    const std::size_t slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Only the user may have written into it: theirs, and closed to others.
bool isPrivateFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// The user's runtime folder; without one, a folder of the user's own
// under TMPDIR (or /tmp), created when missing. Empty when that folder
// is not the user's alone (another user made it, or opened it up): the
// marker then cannot be trusted.
std::string lockFolder(const std::string& base) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + base + "-" +
                               std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !isPrivateFolder(info)) return {};
    return folder;
}

// The marker file, never through a link, and only one of the user's own.
int openMarker(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct SingleInstance::Handle {
    int fd = -1;
};

SingleInstance::SingleInstance(const std::string& name) : handle_(new Handle) {
    const std::string base = baseName(name);
    const std::string folder = lockFolder(base);
    if (!folder.empty()) handle_->fd = openMarker(folder + "/" + base + ".lock");
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
