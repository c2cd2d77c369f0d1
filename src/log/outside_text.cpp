#include "log/outside_text.h"

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void appendEscaped(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

}  // namespace

std::string outsideText(std::string_view text, std::size_t limit) {
    const bool cut = text.size() > limit;
    const std::string_view kept = cut ? text.substr(0, limit) : text;
    std::string out;
    out.reserve(kept.size() + 24);
    for (const char ch : kept) {
        const auto c = static_cast<unsigned char>(ch);
        if (isControl(c) || c >= 0x80) {
            appendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    if (cut) out += "... (" + std::to_string(text.size()) + " bytes in all)";
    return out;
}

std::string withoutControlBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isControl(c)) {
            appendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}
