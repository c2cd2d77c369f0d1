#pragma once

#include <string>

// Whole-file reading shared by the three configuration loaders.

enum class ConfigFileStatus {
    Ok,
    NotFound,    // nothing exists at the path
    OpenFailed,  // something exists but cannot be read (a folder, no access, ...)
};

// Reads the file at `path` (program text, converted by the platform layer)
// byte for byte into `bytes`. Never throws: a file-system error other than
// "not found" is reported as OpenFailed. Safe from any thread.
ConfigFileStatus readConfigFile(const std::string& path, std::string& bytes);
