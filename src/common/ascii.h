#pragma once

#include <string>
#include <string_view>

// Letter case of ASCII text only: bytes of multi-byte characters pass
// unchanged, whatever the C locale says.

constexpr char toLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char toUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string toLowerAscii(std::string text) {
    for (char& c : text)
        c = toLowerAscii(c);
    return text;
}

inline std::string toUpperAscii(std::string text) {
    for (char& c : text)
        c = toUpperAscii(c);
    return text;
}

inline bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
    }
    return true;
}

// The value of a hexadecimal digit of either case, -1 for any other byte.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
