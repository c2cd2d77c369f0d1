#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/paths.h"

namespace platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

private:
    int fd_;
};

bool syncFile(const std::string& path, int flags) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

}  // namespace

bool copyFile(const std::string& from, const std::string& to, unsigned long& errorCode) {
    std::error_code ec;
    if (std::filesystem::copy_file(toPath(from), toPath(to),
                                   std::filesystem::copy_options::overwrite_existing, ec)) {
        return true;
    }
    errorCode = static_cast<unsigned long>(ec ? ec.value() : EIO);
    return false;
}

bool replaceFile(const std::string& from, const std::string& to, unsigned long& errorCode) {
    if (!syncFile(from, O_RDONLY) || std::rename(from.c_str(), to.c_str()) != 0) {
        errorCode = static_cast<unsigned long>(errno);
        return false;
    }
    // The new directory entry itself reaches the disk only with the folder;
    // the file is already in place, so a failure here changes nothing.
    const std::string folder = parentPath(to);
    syncFile(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    return true;
}

bool sameExistingFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace platform
