#include "addon/xml_wellformed.h"
#include "common/ascii.h"
#include "log/outside_text.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t npos = std::string_view::npos;
// Names quoted in problem texts are cut to this many bytes.
constexpr std::size_t kQuotedNameLimit = 40;
constexpr unsigned long kMaxCharacter = 0x10FFFF;

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// ASCII follows the XML name rules; every byte from 0x80 up is accepted,
// since the encoding is not known here.
bool isNameStart(unsigned char c) {
    return isLetter(c) || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || isDigit(c) || c == '-' || c == '.';
}

bool isControl(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

bool allowedCharacter(unsigned long v) {
    return v == 0x9 || v == 0xA || v == 0xD || (v >= 0x20 && v <= 0xD7FF) ||
           (v >= 0xE000 && v <= 0xFFFD) || (v >= 0x10000 && v <= kMaxCharacter);
}

bool isPredefinedEntity(std::string_view name) {
    return name == "lt" || name == "gt" || name == "amp" || name == "quot" || name == "apos";
}

int hexValue(unsigned char c) {
    return hexDigitValue(static_cast<char>(c));
}

std::string quoted(std::string_view name) {
    return outsideText(name, kQuotedNameLimit);
}

std::size_t firstControlByte(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (isControl(static_cast<unsigned char>(bytes[i]))) return i;
    }
    return npos;
}

std::string controlByteText(unsigned char c) {
    if (c == 0) return "a zero byte (is the file UTF-16?)";
    char text[40];
    std::snprintf(text, sizeof text, "a control character (byte 0x%02X)", c);
    return text;
}

struct OpenElement {
    std::string_view name;
    std::size_t offset;
};

// One pass over the document; stops at the first problem.
class Checker {
public:
    Checker(std::string_view bytes, std::size_t elementAt) : b_(bytes), watch_(elementAt) {}

    XmlCheck run() {
        document();
        XmlCheck result;
        result.element = place_;
        const std::size_t control = firstControlByte(b_);
        if (control != npos && (!failed_ || control <= detectedAt_)) {
            failAt(control, control, controlByteText(static_cast<unsigned char>(b_[control])));
            rootMissing_ = false;
        }
        if (!failed_) return result;
        result.wellFormed = false;
        result.onlyRootMissing = rootMissing_;
        result.offset = problemAt_;
        result.position = textPosition(b_, problemAt_);
        result.what = what_;
        return result;
    }

private:
    // --- Reading helpers.
    bool atEnd() const { return pos_ >= b_.size(); }
    unsigned char peek(std::size_t ahead = 0) const {
        return pos_ + ahead < b_.size() ? static_cast<unsigned char>(b_[pos_ + ahead]) : 0;
    }
    bool startsWith(std::string_view text) const {
        return b_.compare(pos_, text.size(), text) == 0;
    }
    bool skipSpace() {
        const std::size_t from = pos_;
        while (!atEnd() && isSpace(peek()))
            ++pos_;
        return pos_ != from;
    }
    std::string_view name() {
        const std::size_t from = pos_;
        if (atEnd() || !isNameStart(peek())) return {};
        while (!atEnd() && isNameChar(peek()))
            ++pos_;
        return b_.substr(from, pos_ - from);
    }

    // --- Failure: `at` is where the user should look, `detected` the byte
    // that proved it (for the order against control bytes).
    void failAt(std::size_t at, std::size_t detected, std::string what) {
        failed_ = true;
        problemAt_ = at;
        detectedAt_ = detected;
        what_ = std::move(what);
    }
    bool fail(std::size_t at, std::string what) {
        failAt(at, std::max(at, pos_), std::move(what));
        return false;
    }

    // --- Document structure.
    void document() {
        if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
            fail(0, "a UTF-16 byte-order mark (the file is UTF-16)");
            return;
        }
        if (startsWith("\xEF\xBB\xBF")) pos_ = 3;
        if (startsWith("<?xml") && (isSpace(peek(5)) || peek(5) == '?') && !xmlDeclaration())
            return;
        while (!atEnd()) {
            if (!(peek() == '<' ? markup() : text())) return;
        }
        finish();
    }

    void finish() {
        if (!open_.empty()) {
            const OpenElement& last = open_.back();
            failAt(last.offset, b_.size(), "<" + quoted(last.name) + "> is never closed");
        } else if (!rootSeen_) {
            failAt(b_.size(), b_.size(), "no root element");
            rootMissing_ = true;
        }
    }

    bool markup() {
        if (startsWith("<!--")) return comment();
        if (startsWith("<![CDATA[")) return cdata();
        if (startsWith("<!DOCTYPE")) return doctype();
        if (startsWith("<!")) return fail(pos_, "'<!' starts no comment, CDATA section or DOCTYPE");
        if (startsWith("<?")) return processingInstruction();
        if (startsWith("</")) return endTag();
        return startTag();
    }

    bool text() {
        while (!atEnd() && peek() != '<') {
            const unsigned char c = peek();
            if (open_.empty()) {
                if (!isSpace(c)) return fail(pos_, "text outside the root element");
                ++pos_;
            } else if (c == '&') {
                if (!reference()) return false;
            } else if (c == ']' && startsWith("]]>")) {
                return fail(pos_, "']]>' in text");
            } else {
                ++pos_;
            }
        }
        return true;
    }

    // --- Markup other than elements.
    bool comment() {
        const std::size_t open = pos_;
        const std::size_t dashes = b_.find("--", open + 4);
        if (dashes == npos) {
            pos_ = b_.size();
            return fail(open, "a comment never ends");
        }
        pos_ = dashes;
        if (peek(2) != '>') return fail(dashes, "'--' inside a comment");
        pos_ += 3;
        return true;
    }

    bool cdata() {
        const std::size_t open = pos_;
        if (open_.empty()) return fail(open, "a CDATA section outside the root element");
        const std::size_t close = b_.find("]]>", open + 9);
        if (close == npos) {
            pos_ = b_.size();
            return fail(open, "a CDATA section never ends");
        }
        pos_ = close + 3;
        return true;
    }

    bool processingInstruction() {
        const std::size_t open = pos_;
        pos_ += 2;
        const std::string_view target = name();
        if (target.empty()) return fail(pos_, "a processing instruction without a name");
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l') {
            return fail(open, "an XML declaration that is not at the very start");
        }
        if (startsWith("?>")) {
            pos_ += 2;
            return true;
        }
        if (!skipSpace())
            return fail(pos_, "unexpected character after a processing instruction's name");
        const std::size_t close = b_.find("?>", pos_);
        if (close == npos) {
            pos_ = b_.size();
            return fail(open, "a processing instruction never ends");
        }
        pos_ = close + 2;
        return true;
    }

    bool doctype() {
        const std::size_t open = pos_;
        if (doctypeSeen_ || rootSeen_)
            return fail(open, "a DOCTYPE that is not before the root element");
        doctypeSeen_ = true;
        pos_ += 9;
        if (!skipSpace()) return fail(pos_, "a DOCTYPE without a name");
        int depth = 0;
        while (!atEnd()) {
            const std::size_t next = doctypeStep(depth);
            if (next == npos) break;
            if (next == 0) return true;
            pos_ = next;
        }
        pos_ = b_.size();
        return fail(open, "a DOCTYPE never ends");
    }

    // One piece of a DOCTYPE at pos_: returns where the next piece starts,
    // npos when a quoted string, comment or instruction never ends, or 0 when
    // the DOCTYPE ends here (pos_ is then past it). Brackets hold the internal
    // subset, whose declarations end with '>' too and where comments and
    // processing instructions may stand.
    std::size_t doctypeStep(int& depth) {
        const unsigned char c = peek();
        const auto after = [](std::size_t found, std::size_t length) {
            return found == npos ? npos : found + length;
        };
        if (c == '"' || c == '\'') return after(b_.find(static_cast<char>(c), pos_ + 1), 1);
        if (depth > 0 && startsWith("<!--")) return after(b_.find("-->", pos_ + 4), 3);
        if (depth > 0 && startsWith("<?")) return after(b_.find("?>", pos_ + 2), 2);
        if (c == '[') ++depth;
        if (c == ']' && depth > 0) --depth;
        if (c == '>' && depth == 0) {
            ++pos_;
            return 0;
        }
        return pos_ + 1;
    }

    // --- The XML declaration: version, then optional encoding and standalone.
    bool xmlDeclaration() {
        const std::size_t open = pos_;
        pos_ += 5;
        std::string_view value;
        if (!skipSpace() || !pseudoAttribute("version", value)) {
            return fail(pos_, "an XML declaration without a version");
        }
        if (value.size() < 3 || value.substr(0, 2) != "1." || !allDigits(value.substr(2))) {
            return fail(pos_, "an XML declaration with a version other than 1.x");
        }
        bool spaced = skipSpace();
        if (spaced && startsWith("encoding")) {
            if (!pseudoAttribute("encoding", value) || !encodingName(value)) {
                return fail(pos_, "an XML declaration with a malformed encoding");
            }
            spaced = skipSpace();
        }
        if (spaced && startsWith("standalone")) {
            if (!pseudoAttribute("standalone", value) || (value != "yes" && value != "no")) {
                return fail(pos_, "an XML declaration with a malformed standalone");
            }
            skipSpace();
        }
        if (startsWith("?>")) {
            pos_ += 2;
            return true;
        }
        if (b_.find("?>", pos_) == npos) return fail(open, "the XML declaration never ends");
        return fail(pos_, "unexpected text in the XML declaration");
    }

    bool pseudoAttribute(std::string_view key, std::string_view& value) {
        if (!startsWith(key)) return false;
        pos_ += key.size();
        skipSpace();
        if (peek() != '=') return false;
        ++pos_;
        skipSpace();
        const unsigned char quote = peek();
        if (quote != '"' && quote != '\'') return false;
        const std::size_t close = b_.find(static_cast<char>(quote), pos_ + 1);
        if (close == npos) return false;
        value = b_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return true;
    }

    static bool allDigits(std::string_view text) {
        for (char c : text) {
            if (!isDigit(static_cast<unsigned char>(c))) return false;
        }
        return !text.empty();
    }

    static bool encodingName(std::string_view text) {
        if (text.empty() || !isLetter(static_cast<unsigned char>(text[0]))) return false;
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (!isLetter(c) && !isDigit(c) && c != '.' && c != '_' && c != '-') return false;
        }
        return true;
    }

    // --- Elements.
    bool startTag() {
        const std::size_t open = pos_;
        ++pos_;
        const std::string_view element = name();
        if (element.empty()) return fail(open, "'<' starts no tag (write &lt; for a '<' in text)");
        if (open == watch_) place_ = placeOfNewElement();
        if (open_.empty() && rootSeen_) return fail(open, "a second root element");
        if (!attributes(open)) return false;
        if (startsWith("/>")) {
            pos_ += 2;
            rootSeen_ = true;
            return true;
        }
        ++pos_;  // '>'
        rootSeen_ = true;
        open_.push_back({element, open});
        return true;
    }

    XmlCheck::Place placeOfNewElement() const {
        if (!open_.empty()) return XmlCheck::Place::InsideRoot;
        return rootSeen_ ? XmlCheck::Place::AfterRoot : XmlCheck::Place::Root;
    }

    // Reads the attributes up to (not past) "/>" or ">".
    bool attributes(std::size_t open) {
        seen_.clear();
        for (;;) {
            const bool spaced = skipSpace();
            if (atEnd()) return fail(open, "a tag never ends");
            if (peek() == '>' || startsWith("/>")) return true;
            if (!spaced || !isNameStart(peek())) {
                return fail(pos_, "unexpected character in a tag");
            }
            if (!attribute()) return false;
        }
    }

    bool attribute() {
        const std::size_t at = pos_;
        const std::string_view key = name();
        if (!seen_.insert(key).second) {
            return fail(at, "attribute " + quoted(key) + " given twice");
        }
        skipSpace();
        if (peek() != '=')
            return fail(pos_, "attribute " + quoted(key) + " without '=' and a value");
        ++pos_;
        skipSpace();
        const unsigned char quote = peek();
        if (quote != '"' && quote != '\'') {
            return fail(pos_, "the value of attribute " + quoted(key) + " is not in quotes");
        }
        const std::size_t valueAt = pos_++;
        while (!atEnd() && peek() != quote) {
            if (peek() == '<') return fail(pos_, "'<' in an attribute value");
            if (peek() == '&') {
                if (!reference()) return false;
            } else {
                ++pos_;
            }
        }
        if (atEnd()) return fail(valueAt, "an attribute value never ends");
        ++pos_;
        return true;
    }

    bool endTag() {
        const std::size_t open = pos_;
        pos_ += 2;
        const std::string_view element = name();
        if (element.empty()) return fail(open, "'</' without a name");
        skipSpace();
        if (atEnd()) return fail(open, "a closing tag never ends");
        if (peek() != '>') return fail(pos_, "unexpected character in a closing tag");
        ++pos_;
        if (open_.empty()) return fail(open, "</" + quoted(element) + "> closes no element");
        const OpenElement& top = open_.back();
        if (top.name != element) {
            return fail(open, "</" + quoted(element) + "> does not close <" + quoted(top.name) +
                                  "> from line " +
                                  std::to_string(textPosition(b_, top.offset).line));
        }
        open_.pop_back();
        return true;
    }

    // --- "&name;", "&#digits;" or "&#xhex;".
    bool reference() {
        const std::size_t at = pos_;
        ++pos_;
        if (peek() == '#') return characterReference(at);
        const std::string_view entity = name();
        if (entity.empty() || peek() != ';') {
            return fail(at, "'&' starts no reference (write &amp; for a '&')");
        }
        ++pos_;
        if (!isPredefinedEntity(entity) && !doctypeSeen_) {
            return fail(at, "unknown entity &" + quoted(entity) + ";");
        }
        return true;
    }

    bool characterReference(std::size_t at) {
        ++pos_;
        const bool hex = peek() == 'x';
        if (hex) ++pos_;
        unsigned long value = 0;
        std::size_t digits = 0;
        for (; !atEnd(); ++pos_, ++digits) {
            const int digit = hex ? hexValue(peek()) : (isDigit(peek()) ? peek() - '0' : -1);
            if (digit < 0) break;
            value = value > kMaxCharacter ? value : value * (hex ? 16 : 10) + digit;
        }
        if (digits == 0 || peek() != ';') {
            return fail(at, "'&' starts no reference (write &amp; for a '&')");
        }
        ++pos_;
        if (!allowedCharacter(value)) {
            return fail(at, "a character reference to a character XML does not allow");
        }
        return true;
    }

    std::string_view b_;
    std::size_t watch_;
    std::size_t pos_ = 0;
    std::vector<OpenElement> open_;
    // Attribute names of the current tag; a tree, since clearing it costs only
    // what it holds.
    std::set<std::string_view> seen_;
    bool rootSeen_ = false;
    bool doctypeSeen_ = false;
    bool failed_ = false;
    bool rootMissing_ = false;
    std::size_t problemAt_ = 0;
    std::size_t detectedAt_ = 0;
    std::string what_;
    XmlCheck::Place place_ = XmlCheck::Place::NotAnElement;
};

}  // namespace

TextPosition textPosition(std::string_view bytes, std::size_t offset) {
    TextPosition position;
    const std::size_t end = std::min(offset, bytes.size());
    for (std::size_t i = 0; i < end; ++i) {
        const char c = bytes[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))) {
            ++position.line;
            position.column = 1;
        } else {
            ++position.column;
        }
    }
    return position;
}

XmlCheck checkWellFormed(std::string_view bytes, std::size_t elementAt) {
    return Checker(bytes, elementAt).run();
}
