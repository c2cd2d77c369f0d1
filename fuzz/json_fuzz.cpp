// parseJson on arbitrary bytes. Beyond "no crash": the result is consistent
// (ok exactly when the error is empty), and every accepted document, written
// back out, parses again into the same tree.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/json.h"

namespace {

void write(const JsonValue& value, std::string& out);

void writeString(const std::string& text, std::string& out) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

void writeNumber(double number, std::string& out) {
    char text[32];
    if (number > 1.7976931348623157e308) {
        out += "1e999";
    } else if (number < -1.7976931348623157e308) {
        out += "-1e999";
    } else {
        std::snprintf(text, sizeof text, "%.17g", number);
        out += text;
    }
}

void write(const JsonValue& value, std::string& out) {
    switch (value.kind) {
        case JsonType::Null:
            out += "null";
            break;
        case JsonType::Bool:
            out += value.boolValue ? "true" : "false";
            break;
        case JsonType::Number:
            writeNumber(value.number, out);
            break;
        case JsonType::String:
            writeString(value.string, out);
            break;
        case JsonType::Array:
            out += '[';
            for (std::size_t i = 0; i < value.array.size(); ++i) {
                if (i > 0) out += ',';
                write(value.array[i], out);
            }
            out += ']';
            break;
        case JsonType::Object:
            out += '{';
            for (const auto& [key, member] : value.object) {
                if (out.back() != '{') out += ',';
                writeString(key, out);
                out += ':';
                write(member, out);
            }
            out += '}';
            break;
    }
}

bool same(const JsonValue& a, const JsonValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case JsonType::Null:
            return true;
        case JsonType::Bool:
            return a.boolValue == b.boolValue;
        case JsonType::Number:
            return a.number == b.number;
        case JsonType::String:
            return a.string == b.string;
        case JsonType::Array:
            if (a.array.size() != b.array.size()) return false;
            for (std::size_t i = 0; i < a.array.size(); ++i) {
                if (!same(a.array[i], b.array[i])) return false;
            }
            return true;
        case JsonType::Object:
            if (a.object.size() != b.object.size()) return false;
            for (auto i = a.object.begin(), j = b.object.begin(); i != a.object.end(); ++i, ++j) {
                if (i->first != j->first || !same(i->second, j->second)) return false;
            }
            return true;
    }
    return false;
}

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "json_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const JsonParseResult result = parseJson(text);
    check(result.ok == result.error.empty(), "ok disagrees with the error text");
    if (!result.ok) {
        const bool trailing = result.error == "Unexpected trailing characters";
        check(trailing || result.root.kind == JsonType::Null, "a failed parse kept a tree");
        return 0;
    }
    std::string written;
    write(result.root, written);
    const JsonParseResult again = parseJson(written);
    check(again.ok, "a written tree does not parse again");
    check(same(result.root, again.root), "a written tree parses into another tree");
    return 0;
}
