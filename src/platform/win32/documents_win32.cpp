#include <windows.h>
#include <shlobj.h>

#include "platform/documents.h"

namespace platform {

namespace {

std::string shellFolder(int id) {
    char buffer[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, id, nullptr, 0, buffer) != S_OK) return {};
    return buffer;
}

}  // namespace

std::string publicDocumentsDir() {
    return shellFolder(CSIDL_COMMON_DOCUMENTS);
}

std::string userDocumentsDir() {
    return shellFolder(CSIDL_PERSONAL);
}

std::string currentDir() {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return {};
    std::string path(needed, '\0');
    const DWORD n = GetCurrentDirectoryA(needed, path.data());
    if (n == 0 || n >= needed) return {};
    path.resize(n);
    return path;
}

}  // namespace platform
