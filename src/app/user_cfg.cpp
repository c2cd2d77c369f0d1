#include "app/user_cfg.h"

#include <sstream>

#include "common/ascii.h"
#include "platform/files.h"

namespace {

constexpr const char* kKey = "InstalledPackagesPath";
constexpr const char* kUtf8Mark = "\xEF\xBB\xBF";
constexpr const char* kBlanks = " \t";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool startsWithKey(const std::string& line, std::size_t at) {
    const std::size_t length = std::char_traits<char>::length(kKey);
    if (line.size() - at < length) return false;
    return equalsIgnoreCaseAscii(std::string_view(line).substr(at, length), kKey);
}

// The path a line names, or empty when it is not the packages line.
std::string valueOf(const std::string& line) {
    std::size_t at = line.find_first_not_of(kBlanks);
    if (at == std::string::npos || !startsWithKey(line, at)) return {};
    at += std::char_traits<char>::length(kKey);
    // The key must end here: "InstalledPackagesPathOld" is another key.
    if (at >= line.size() || !isBlank(line[at])) return {};
    at = line.find_first_not_of(kBlanks, at);
    if (at == std::string::npos) return {};
    if (line[at] == '"') {
        const std::size_t close = line.find('"', at + 1);
        if (close != std::string::npos) return line.substr(at + 1, close - at - 1);
        ++at;
    }
    const std::size_t last = line.find_last_not_of(kBlanks);
    return last < at ? std::string() : line.substr(at, last + 1 - at);
}

// Only a regular file of at most platform::kMaxInputFileBytes counts.
bool readWhole(const std::string& path, std::string& text) {
    unsigned long code = 0;
    return platform::readInputFile(path, text, code) == platform::InputFile::Ok;
}

}  // namespace

bool findInstalledPackagesPath(const std::string& text, std::string& path) {
    std::istringstream lines(text.compare(0, 3, kUtf8Mark) == 0 ? text.substr(3) : text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string value = valueOf(line);
        if (value.empty()) continue;
        path = value;
        return true;
    }
    return false;
}

PackagesPathLookup readInstalledPackagesPath(const std::string& userCfgPath) {
    PackagesPathLookup result;
    std::string text;
    if (!readWhole(userCfgPath, text)) return result;
    result.status = findInstalledPackagesPath(text, result.path)
                        ? PackagesPathLookup::Status::Found
                        : PackagesPathLookup::Status::NoLine;
    return result;
}

std::string userCfgBeside(const std::string& exeXmlPath) {
    const std::size_t separator = exeXmlPath.find_last_of("\\/");
    const std::string folder =
        separator == std::string::npos ? std::string() : exeXmlPath.substr(0, separator + 1);
    return folder + "UserCfg.opt";
}
