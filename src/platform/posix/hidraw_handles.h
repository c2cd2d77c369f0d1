#pragma once

// Private to the hidraw bus: its handle factories and a file-descriptor owner.
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/hid_bus.h"

namespace platform {
namespace hidraw {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Opens `path` read/write, else read-only, with `flags` added.
UniqueFd openNode(const std::string& path, int flags, bool readOnlyFallback);

// A non-blocking read handle woken by poll(); `serial` comes from sysfs.
std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path, const std::string& serial);
// A blocking write handle; null when the node cannot be opened for writing.
std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path);

}  // namespace hidraw
}  // namespace platform
