#pragma once
// Ownership of a POSIX file descriptor (see platform/unique_resource.h).

#include <unistd.h>

#include "platform/unique_resource.h"

namespace platform {

struct FdTraits {
    using Value = int;
    static int none() { return -1; }
    static bool valid(int fd) { return fd >= 0; }
    static void close(int fd) { ::close(fd); }
};
using UniqueFd = UniqueResource<FdTraits>;

}  // namespace platform
