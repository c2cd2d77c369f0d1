#include "config/config_file.h"

#include <vector>

#include "log/logger.h"
#include "log/outside_text.h"
#include "platform/files.h"

ConfigFileStatus readConfigFile(const std::string& path, std::string& bytes,
                                std::string* refusal) {
    // Read as bytes: the reader treats CR as white space.
    unsigned long code = 0;
    const platform::InputFile result = platform::readInputFile(path, bytes, code);
    switch (result) {
        case platform::InputFile::Ok:
            return ConfigFileStatus::Ok;
        case platform::InputFile::NotFound:
            return ConfigFileStatus::NotFound;
        case platform::InputFile::NotRegular:
        case platform::InputFile::TooLarge:
            if (refusal) *refusal = platform::inputFileRefusal(result);
            return ConfigFileStatus::Refused;
        default:
            return ConfigFileStatus::OpenFailed;
    }
}

bool readConfigText(const std::string& path, const ConfigFileTexts& texts, std::string& text,
                    std::string& error) {
    std::string refusal;
    switch (readConfigFile(path, text, &refusal)) {
        case ConfigFileStatus::NotFound:
            error = texts.notFound + path;
            return false;
        case ConfigFileStatus::OpenFailed:
            error = texts.openFailed + path;
            return false;
        case ConfigFileStatus::Refused:
            error = texts.openFailed + path + " (" + refusal + ")";
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
