#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The program's own JSON reader. See parseJson for the accepted grammar.

enum class JsonType : std::int32_t {
    Null = 0,
    Bool = 1,
    Number = 2,
    String = 3,
    Array = 4,
    Object = 5,
};

// One parsed value. A plain record: only the member matching `kind` carries
// meaning. Object members are kept sorted by byte-wise key comparison.
struct JsonValue {
    JsonType kind = JsonType::Null;
    bool boolValue = false;
    double number = 0.0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;
};

struct JsonParseResult {
    JsonValue root;
    std::string error;
    bool ok = false;
};

// Parses one complete document. Never throws for bad input; the first error
// found is reported in `error` (texts are part of the program's messages).
JsonParseResult parseJson(const std::string& text);

// Typed member lookups: true (and the output written) only when `object` is
// an Object holding `key` with the expected type; the output is untouched
// otherwise.
bool getString(const JsonValue& object, const std::string& key, std::string& out);
bool getInt(const JsonValue& object, const std::string& key, std::int32_t& out);
bool getObject(const JsonValue& object, const std::string& key, const JsonValue*& out);
