// Name matching shared by the process scans of every platform.
#include <cctype>

#include "common/ascii.h"
#include "platform/process_scan.h"

namespace platform {

std::string executableBaseName(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool matchesAnyName(const std::string& name, const std::vector<std::string>& names) {
    for (const std::string& candidate : names) {
        if (!name.empty() && equalsIgnoreCaseAscii(candidate, name)) return true;
    }
    return false;
}

}  // namespace platform
