#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

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

InputFile typeOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return InputFile::Folder;
    return S_ISREG(info.st_mode) ? InputFile::Ok : InputFile::NotRegular;
}

// Reads at most limit bytes; false with errno on a read failure.
bool readUpTo(int fd, std::uint64_t limit, std::string& bytes) {
    char buffer[16384];
    while (bytes.size() < limit) {
        const std::uint64_t room = limit - bytes.size();
        const ssize_t got = ::read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

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

InputFile readInputFile(const std::string& path, std::string& bytes, unsigned long& errorCode,
                        std::uint64_t maxBytes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        errorCode = static_cast<unsigned long>(errno);
        return errno == ENOENT || errno == ENOTDIR ? InputFile::NotFound : InputFile::Failed;
    }
    if (const InputFile type = typeOf(info); type != InputFile::Ok) return type;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) return InputFile::TooLarge;
    // Non-blocking: a FIFO put in the file's place meanwhile does not wait
    // for a writer, and is refused by the second look below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        errorCode = static_cast<unsigned long>(errno);
        return InputFile::Failed;
    }
    if (const InputFile type = typeOf(info); type != InputFile::Ok) return type;
    std::string content;
    if (!readUpTo(fd.get(), maxBytes + 1, content)) {
        errorCode = static_cast<unsigned long>(errno);
        return InputFile::Failed;
    }
    if (content.size() > maxBytes) return InputFile::TooLarge;
    bytes = std::move(content);
    return InputFile::Ok;
}

bool sameExistingFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace platform
