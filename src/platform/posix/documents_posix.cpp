#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/documents.h"

namespace platform {

std::string publicDocumentsDir() {
    return {};
}

std::string userDocumentsDir() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + "/Documents";
}

std::string currentDir() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace platform
