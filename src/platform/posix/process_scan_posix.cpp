#include <dirent.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/process_scan.h"

namespace platform {

namespace {

bool isPidName(const char* name) {
    if (!*name) return false;
    for (; *name; ++name) {
        if (!std::isdigit(static_cast<unsigned char>(*name))) return false;
    }
    return true;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// argv[0] is the command line up to the first NUL.
std::string argv0Name(const std::string& procDir) {
    const std::string cmdline = readWhole(procDir + "/cmdline");
    return executableBaseName(cmdline.substr(0, cmdline.find('\0')));
}

std::string commName(const std::string& procDir) {
    std::string comm = readWhole(procDir + "/comm");
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r'))
        comm.pop_back();
    return comm;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool isAnyProcessRunning(const std::vector<std::string>& names) {
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) return false;
    while (const dirent* entry = readdir(proc.get())) {
        if (!isPidName(entry->d_name)) continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        // Processes may vanish while we look; unreadable files just don't match.
        if (matchesAnyName(argv0Name(dir), names)) return true;
        if (matchesAnyName(commName(dir), names)) return true;
    }
    return false;
}

}  // namespace platform
