#include "config/config_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "log/logger.h"
#include "log/outside_text.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

ConfigFileStatus readConfigFile(const std::string& path, std::string& bytes) {
    const fs::path native = platform::toPath(path);
    std::error_code ec;
    const fs::file_status status = fs::status(native, ec);
    if (status.type() == fs::file_type::not_found) return ConfigFileStatus::NotFound;
    // Any other failure of the existence test (access denied on a parent
    // folder, a name too long) is left to the open below to report.
    if (status.type() == fs::file_type::directory) return ConfigFileStatus::OpenFailed;

    // Binary: the reader treats CR as white space, and text mode would stop
    // at a stray Ctrl-Z on Windows.
    std::ifstream in(native, std::ios::binary);
    if (!in.is_open()) return ConfigFileStatus::OpenFailed;
    std::string content;
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        content.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return ConfigFileStatus::OpenFailed;
    bytes = std::move(content);
    return ConfigFileStatus::Ok;
}

bool readConfigText(const std::string& path, const ConfigFileTexts& texts, std::string& text,
                    std::string& error) {
    switch (readConfigFile(path, text)) {
        case ConfigFileStatus::NotFound:
            error = texts.notFound + path;
            return false;
        case ConfigFileStatus::OpenFailed:
            error = texts.openFailed + path;
            return false;
        case ConfigFileStatus::Ok:
            break;
    }
    return true;
}

std::string duplicateKeyText(const std::string& key, const std::string& source) {
    const std::string where = source.empty() ? "'" : "' in " + source;
    return "Duplicate key '" + outsideText(key) + where + "; the first one is used";
}

namespace {

// Windows tools write UTF-16 readily (PowerShell's ">", Notepad's
// "Unicode"); it would otherwise fail with a puzzling "Unexpected token".
bool looksLikeUtf16(const std::string& text) {
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) return true;
    return text.substr(0, 4).find('\0') != std::string::npos;
}

void warnDuplicates(const std::vector<std::string>& keys, const std::string& source) {
    for (const std::string& key : keys)
        logWarn(duplicateKeyText(key, source));
}

}  // namespace

bool parseConfigObject(const std::string& text, const std::string& source,
                       const ConfigFileTexts& texts, JsonParseResult& parsed, std::string& error) {
    if (looksLikeUtf16(text)) {
        parsed = JsonParseResult();
        error = std::string(texts.parseError) + kUtf16Text;
        return false;
    }
    parsed = parseJson(text);
    if (!parsed.ok) {
        error = texts.parseError + parsed.error;
        return false;
    }
    warnDuplicates(parsed.duplicateKeys, source);
    if (parsed.root.kind != JsonType::Object) {
        error = texts.notObject;
        return false;
    }
    return true;
}
