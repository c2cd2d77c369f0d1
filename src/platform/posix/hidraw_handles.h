#pragma once

// Private to the hidraw bus: its handle factories.
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/hid_bus.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace hidraw {

// Opens `path` read/write, else read-only, with `flags` added.
UniqueFd openNode(const std::string& path, int flags, bool readOnlyFallback);

// A non-blocking read handle woken by poll(); `serial` comes from sysfs.
std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path, const std::string& serial);
// A blocking write handle; null when the node cannot be opened for writing.
std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path);

}  // namespace hidraw
}  // namespace platform
