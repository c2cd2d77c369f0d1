#pragma once

#include <filesystem>
#include <string>

// File-system names. Program texts are narrow strings in the system code
// page (Windows) or plain bytes (Linux); these helpers convert them to the
// platform's native path form and back, so core code never guesses.
namespace platform {

std::filesystem::path toPath(const std::string& text);
std::string fromPath(const std::filesystem::path& path);

// Joins a folder and a name with the platform's separator rules.
std::string joinPath(const std::string& folder, const std::string& name);

// The parent folder of a path, or an empty string when it has none.
std::string parentPath(const std::string& path);

// Full path of the running executable. Empty when unknown, and on Windows
// also when it does not fit in MAX_PATH (260) characters.
std::string executablePath();

// The machine-wide application-data folder (CSIDL_COMMON_APPDATA on
// Windows); empty when unknown.
std::string commonAppDataDir();

}  // namespace platform
