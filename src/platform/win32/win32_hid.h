#pragma once

// Private to the Win32 HID bus and device watcher: the Windows HID headers in
// the order MinGW needs them, a handle owner, and the handle factories.
#include <windows.h>
// setupapi.h and hidsdi.h need windows.h first.
#include <setupapi.h>

// MinGW's hidsdi.h declares the HidD_* functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <memory>
#include <string>

#include "platform/hid_bus.h"

namespace platform {
namespace win32 {

// Owns one kernel handle; INVALID_HANDLE_VALUE and null both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset() {
        if (valid()) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// CreateFileA on a device path, shared for reading and writing, read/write
// access first and read-only second when `readOnlyFallback` is set.
UniqueHandle openDevicePath(const std::string& path, DWORD flags, bool readOnlyFallback);

// Overlapped read handle with its own event; null when it cannot be opened.
std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path);
// Synchronous write handle; null when it cannot be opened for writing.
std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path);

}  // namespace win32
}  // namespace platform
