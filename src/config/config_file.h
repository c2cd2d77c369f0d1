#pragma once

#include <string>

#include "config/json.h"

// Whole-file reading and parsing shared by the three configuration loaders.

enum class ConfigFileStatus {
    Ok,
    NotFound,    // nothing exists at the path
    OpenFailed,  // something exists but cannot be read (a folder, no access, ...)
    Refused,     // not a regular file (a device, a FIFO), or larger than the bound
};

// Reads the file at `path` (program text, converted by the platform layer)
// byte for byte into `bytes`: only a regular file of at most
// platform::kMaxInputFileBytes (see platform::readInputFile; nothing else
// is read or waited for). Never throws: a file-system error other than
// "not found" is reported as OpenFailed; `refusal` (when given) says why a
// file was Refused. Safe from any thread.
ConfigFileStatus readConfigFile(const std::string& path, std::string& bytes,
                                std::string* refusal = nullptr);

// The texts one loader reports for the failures all loaders share.
struct ConfigFileTexts {
    const char* notFound;    // followed by the path
    const char* openFailed;  // followed by the path
    const char* parseError;  // followed by the JSON reader's message
    const char* notObject;   // the whole text
};

// readConfigFile with the loader's texts: false leaves notFound or
// openFailed followed by the path in `error`, and for a refused file the
// reason in parentheses ("... (not a regular file)").
bool readConfigText(const std::string& path, const ConfigFileTexts& texts, std::string& text,
                    std::string& error);

// Follows the parse-error text when the file is UTF-16 (a byte-order mark
// FF FE or FE FF, or a zero byte among the first bytes).
constexpr const char* kUtf16Text = "File is UTF-16 encoded; save it as UTF-8";

// The warning for a key that occurs twice in one object of `source` (the
// file; may be empty).
std::string duplicateKeyText(const std::string& key, const std::string& source);

// Parses a document whose root must be an object; false leaves the
// loader's parse-error or not-an-object text in `error`. A key that occurs
// twice in one object is warned once (duplicateKeyText); the first
// occurrence is used.
bool parseConfigObject(const std::string& text, const std::string& source,
                       const ConfigFileTexts& texts, JsonParseResult& parsed, std::string& error);
