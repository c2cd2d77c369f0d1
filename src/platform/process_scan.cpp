// Name matching shared by the process scans of every platform.
#include <cctype>

#include "platform/process_scan.h"

namespace platform {

std::string executableBaseName(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool matchesAnyName(const std::string& name, const std::vector<std::string>& names) {
    for (const std::string& candidate : names) {
        if (candidate.size() != name.size() || name.empty()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(name[i])) ==
                   std::tolower(static_cast<unsigned char>(candidate[i]));
        }
        if (same) return true;
    }
    return false;
}

}  // namespace platform
