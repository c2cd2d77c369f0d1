#include "config/json.h"
#include "common/ascii.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>
#include <utility>

namespace {

// Far above any real configuration, far below what would exhaust the stack
// of a thread with a small stack (each level costs a few hundred bytes).
constexpr int kMaxDepth = 256;

bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHighSurrogate(unsigned code) {
    return code >= 0xD800 && code <= 0xDBFF;
}
bool isLowSurrogate(unsigned code) {
    return code >= 0xDC00 && code <= 0xDFFF;
}

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
        return;
    }
    if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
}

// The value std::from_chars refuses to deliver when the magnitude does not
// fit a double: an infinity on overflow, a zero on underflow, as strtod
// gives. [first, last) is a number that from_chars accepted apart from its
// range, so it has at least one non-zero digit.
double outOfRangeValue(const char* first, const char* last) {
    const bool negative = *first == '-';
    if (negative) ++first;
    // Decimal exponent of the leading significant digit, before the written
    // exponent is added: integer digits after it count up, fraction zeros
    // before it count down.
    long long scale = 0;
    bool significant = false;
    bool fraction = false;
    const char* p = first;
    for (; p != last && (isDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        significant = significant || *p != '0';
        if (significant && !fraction) ++scale;
        if (!significant && fraction) --scale;
    }
    long long exponent = 0;
    bool exponentNegative = false;
    if (p != last && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != last && (*p == '+' || *p == '-')) exponentNegative = *p++ == '-';
        // Saturates far beyond any digit count a text in memory can have.
        for (; p != last && isDigit(*p); ++p) {
            if (exponent < 100000000000000000LL) exponent = exponent * 10 + (*p - '0');
        }
    }
    const bool overflow = scale + (exponentNegative ? -exponent : exponent) > 0;
    const double magnitude = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    JsonParseResult run() {
        JsonParseResult result;
        if (text_.size() >= 3 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
        skipWhitespace();
        if (!parseValue(result.root)) {
            result.root = JsonValue();
        } else {
            skipWhitespace();
            if (!atEnd()) error_ = "Unexpected trailing characters";
        }
        result.error = error_;
        result.ok = error_.empty();
        result.duplicateKeys = std::move(duplicates_);
        return result;
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skipWhitespace() {
        while (!atEnd() && isWhitespace(peek()))
            ++pos_;
    }

    void noteDuplicate(const std::string& key) {
        if (duplicates_.size() >= kMaxDuplicateKeys) return;
        for (const std::string& known : duplicates_) {
            if (known == key) return;
        }
        duplicates_.push_back(key);
    }

    bool fail(const char* message) {
        error_ = message;
        return false;
    }

    bool parseValue(JsonValue& out) {
        skipWhitespace();
        if (atEnd()) return fail("Unexpected end of input");
        const char c = peek();
        if (c == '{' || c == '[') return parseContainer(out, c == '{');
        if (c == '"') {
            out.kind = JsonType::String;
            return parseString(out.string);
        }
        if (c == 't' || c == 'f') return parseBool(out);
        if (c == 'n') return parseNull(out);
        if (c == '-' || isDigit(c)) return parseNumber(out);
        return fail("Unexpected token");
    }

    bool parseContainer(JsonValue& out, bool object) {
        if (depth_ >= kMaxDepth) return fail("Nesting too deep");
        ++depth_;
        const bool ok = object ? parseObject(out) : parseArray(out);
        --depth_;
        return ok;
    }

    bool parseObject(JsonValue& out) {
        out.kind = JsonType::Object;
        ++pos_;
        skipWhitespace();
        if (atEnd()) return fail("Unterminated object");
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipWhitespace();
            if (atEnd() || peek() != '"') return fail("Expected string key");
            std::string key;
            if (!parseString(key)) return false;
            skipWhitespace();
            if (atEnd() || peek() != ':') return fail("Expected ':' after key");
            ++pos_;
            JsonValue value;
            if (!parseValue(value)) return false;
            // The first occurrence of a key wins; later duplicates are dropped.
            const auto [at, inserted] = out.object.try_emplace(std::move(key), std::move(value));
            if (!inserted) noteDuplicate(at->first);
            skipWhitespace();
            if (atEnd()) return fail("Unterminated object");
            const char c = peek();
            ++pos_;
            if (c == '}') return true;
            if (c != ',') return fail("Expected ',' or '}'");
            if (atEnd()) return fail("Unterminated object");
        }
    }

    bool parseArray(JsonValue& out) {
        out.kind = JsonType::Array;
        ++pos_;
        skipWhitespace();
        if (atEnd()) return fail("Unterminated array");
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            out.array.emplace_back();
            if (!parseValue(out.array.back())) return false;
            skipWhitespace();
            if (atEnd()) return fail("Unterminated array");
            const char c = peek();
            ++pos_;
            if (c == ']') return true;
            if (c != ',') return fail("Expected ',' or ']'");
            if (atEnd()) return fail("Unterminated array");
        }
    }

    bool parseString(std::string& out) {
        ++pos_;
        if (atEnd()) return fail("Unterminated string");
        while (!atEnd()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(c);
            } else if (!parseEscape(out)) {
                return false;
            }
        }
        return fail("Unterminated string");
    }

    bool parseEscape(std::string& out) {
        if (atEnd()) return fail("Invalid escape sequence");
        const char c = text_[pos_++];
        switch (c) {
            case '"':
            case '\\':
            case '/':
                out.push_back(c);
                return true;
            case 'b':
                out.push_back('\b');
                return true;
            case 'f':
                out.push_back('\f');
                return true;
            case 'n':
                out.push_back('\n');
                return true;
            case 'r':
                out.push_back('\r');
                return true;
            case 't':
                out.push_back('\t');
                return true;
            case 'u':
                return parseUnicodeEscape(out);
            default:
                return fail("Invalid escape character");
        }
    }

    bool readCodeUnit(unsigned& code) {
        if (text_.size() - pos_ < 4) return fail("Invalid unicode escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigitValue(text_[pos_++]);
            if (digit < 0) return fail("Invalid unicode escape");
            code = code * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    // A high surrogate joins the low surrogate escaped right after it; a
    // surrogate without its partner cannot be written in UTF-8 and becomes
    // '?' (the escape after an unpaired high one is read on its own).
    bool parseUnicodeEscape(std::string& out) {
        unsigned code = 0;
        if (!readCodeUnit(code)) return false;
        if (isHighSurrogate(code) && text_.compare(pos_, 2, "\\u") == 0) {
            const std::size_t afterHigh = pos_;
            pos_ += 2;
            unsigned low = 0;
            if (!readCodeUnit(low)) return false;
            if (isLowSurrogate(low)) {
                appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }
            pos_ = afterHigh;
        }
        if (isHighSurrogate(code) || isLowSurrogate(code)) {
            out.push_back('?');
        } else {
            appendUtf8(out, code);
        }
        return true;
    }

    void skipDigits() {
        while (!atEnd() && isDigit(peek()))
            ++pos_;
    }

    bool parseNumber(JsonValue& out) {
        const std::size_t start = pos_;
        if (peek() == '-') ++pos_;
        skipDigits();
        if (!atEnd() && peek() == '.') {
            ++pos_;
            skipDigits();
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!atEnd() && (peek() == '+' || peek() == '-')) ++pos_;
            skipDigits();
        }
        // from_chars never looks at the C locale, so a program that changed
        // it still reads "1.5" as one and a half.
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        double value = 0.0;
        const auto [end, ec] = std::from_chars(first, last, value);
        if (end != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            return fail("Invalid number");
        }
        if (ec == std::errc::result_out_of_range) value = outOfRangeValue(first, last);
        out.kind = JsonType::Number;
        out.number = value;
        return true;
    }

    bool matchLiteral(const char* literal, std::size_t length) {
        if (text_.size() - pos_ < length || text_.compare(pos_, length, literal) != 0) return false;
        pos_ += length;
        return true;
    }

    bool parseBool(JsonValue& out) {
        out.kind = JsonType::Bool;
        if (matchLiteral("true", 4)) {
            out.boolValue = true;
            return true;
        }
        if (matchLiteral("false", 5)) return true;
        return fail("Invalid boolean");
    }

    bool parseNull(JsonValue& out) {
        out.kind = JsonType::Null;
        return matchLiteral("null", 4) || fail("Invalid null");
    }

    const std::string& text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::string error_;
    std::vector<std::string> duplicates_;
};

const JsonValue* member(const JsonValue& object, const std::string& key, JsonType kind) {
    if (object.kind != JsonType::Object) return nullptr;
    const auto it = object.object.find(key);
    if (it == object.object.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

}  // namespace

JsonParseResult parseJson(const std::string& text) {
    return Parser(text).run();
}

std::int32_t jsonNumberToInt32(double number) {
    // Truncation toward zero; values that do not fit (and NaN) give the most
    // negative value, as the x86 conversion instruction does.
    if (!(number > -2147483649.0 && number < 2147483648.0)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(number);
}

bool getString(const JsonValue& object, const std::string& key, std::string& out) {
    const JsonValue* value = member(object, key, JsonType::String);
    if (value == nullptr) return false;
    out = value->string;
    return true;
}

bool getInt(const JsonValue& object, const std::string& key, std::int32_t& out) {
    const JsonValue* value = member(object, key, JsonType::Number);
    if (value == nullptr) return false;
    out = jsonNumberToInt32(value->number);
    return true;
}

bool getObject(const JsonValue& object, const std::string& key, const JsonValue*& out) {
    const JsonValue* value = member(object, key, JsonType::Object);
    if (value == nullptr) return false;
    out = value;
    return true;
}
