#include "config/json.h"

// Placeholder until the reader is written.
JsonParseResult parseJson(const std::string&) {
    JsonParseResult result;
    result.error = "JSON reader not built yet";
    return result;
}
bool getString(const JsonValue&, const std::string&, std::string&) { return false; }
bool getInt(const JsonValue&, const std::string&, std::int32_t&) { return false; }
bool getObject(const JsonValue&, const std::string&, const JsonValue*&) { return false; }
