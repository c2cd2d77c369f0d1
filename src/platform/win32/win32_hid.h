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
#include "platform/win32/unique_handle.h"

namespace platform {
namespace win32 {

// CreateFileA on a device path, shared for reading and writing, read/write
// access first and read-only second when `readOnlyFallback` is set.
UniqueHandle openDevicePath(const std::string& path, DWORD flags, bool readOnlyFallback);

// Overlapped read handle with its own event; null when it cannot be opened.
std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path);
// Overlapped write handle with its own event, cancellable; null when it
// cannot be opened for writing.
std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path);

}  // namespace win32
}  // namespace platform
