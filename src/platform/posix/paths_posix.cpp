#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/paths.h"

namespace platform {

std::filesystem::path toPath(const std::string& text) {
    return std::filesystem::path(text);
}

std::string fromPath(const std::filesystem::path& path) {
    return path.native();
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return (std::filesystem::path(folder) / name).native();
}

std::string parentPath(const std::string& path) {
    return std::filesystem::path(path).parent_path().native();
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string commonAppDataDir() {
    // An explicit XDG data folder wins; otherwise machine-wide state lives in
    // /var/lib, which only root may write, and a normal user gets the
    // per-user data folder instead.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return xdg;
    if (geteuid() == 0) return "/var/lib";
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/.local/share";
    }
    return {};
}

}  // namespace platform
