#pragma once
// Ownership of a Windows kernel handle (see platform/unique_resource.h).

#include <windows.h>

#include "platform/unique_resource.h"

namespace platform {
namespace win32 {

// INVALID_HANDLE_VALUE and null both mean "none".
struct HandleTraits {
    using Value = HANDLE;
    static HANDLE none() { return nullptr; }
    static bool valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace win32
}  // namespace platform
