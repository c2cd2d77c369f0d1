#pragma once

#include <cstddef>
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

// At most this many duplicate keys are listed in a result.
constexpr std::size_t kMaxDuplicateKeys = 16;

struct JsonParseResult {
    JsonValue root;
    std::string error;
    bool ok = false;
    // Keys that occurred more than once in one object (each listed once, in
    // the order met, at most kMaxDuplicateKeys); the first occurrence won.
    std::vector<std::string> duplicateKeys;
};

// Parses one complete document. Never throws for bad input (only running
// out of memory escapes); the first error found is reported in `error` and
// `ok` is false (texts are part of the program's messages). Objects and
// arrays nested more than 256 deep fail with "Nesting too deep", so hostile
// input cannot exhaust the stack. Reentrant: calls share no state.
// \u escapes are decoded to UTF-8 (a surrogate pair to one character); a
// surrogate without its partner becomes '?'. Other bytes, UTF-8 included,
// pass through untouched.
JsonParseResult parseJson(const std::string& text);

// A JSON number as a signed 32-bit integer: truncated toward zero; values
// outside the range (and infinities) give the most negative 32-bit value.
std::int32_t jsonNumberToInt32(double number);

// Typed member lookups: true (and the output written) only when `object` is
// an Object holding `key` with the expected type; the output is untouched
// otherwise.
bool getString(const JsonValue& object, const std::string& key, std::string& out);
bool getInt(const JsonValue& object, const std::string& key, std::int32_t& out);
bool getObject(const JsonValue& object, const std::string& key, const JsonValue*& out);
