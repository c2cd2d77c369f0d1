#include "app/check_paths.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

std::string fullPath(const std::string& path) {
    std::error_code ec;
    const fs::path full = fs::absolute(platform::toPath(path), ec);
    return ec ? path : platform::fromPath(full.lexically_normal());
}

bool pathExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(platform::toPath(path), ec);
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(platform::toPath(path), ec);
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(platform::toPath(path), ec);
}

bool sameFile(const std::string& a, const std::string& b) {
    if (isFile(a) && isFile(b)) return platform::sameExistingFile(a, b);
    return fullPath(a) == fullPath(b);
}
