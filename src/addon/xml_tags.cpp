#include "addon/xml_tags.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Bytes that end a tag's name; everything else belongs to it, so that broken
// names are still read as one word.
bool endsName(char c) {
    return isSpace(c) || c == '>' || c == '/' || c == '<';
}

class TagScanner {
public:
    explicit TagScanner(std::string_view text) : t_(text) {}

    XmlTagScan run() {
        std::size_t pos = t_.find('<');
        while (pos != npos) {
            const std::size_t next = step(pos);
            if (next == npos) break;
            pos = t_.find('<', next);
        }
        return std::move(scan_);
    }

private:
    bool at(std::size_t pos, std::string_view text) const {
        return t_.compare(pos, text.size(), text) == 0;
    }

    // Reads the markup starting with '<' at `pos`; returns where reading goes
    // on, or npos when the text ends inside it.
    std::size_t step(std::size_t pos) {
        if (at(pos, "<!--")) return skipTo(pos, "-->", pos + 4, "a comment");
        if (at(pos, "<![CDATA[")) return skipTo(pos, "]]>", pos + 9, "a CDATA section");
        if (at(pos, "<?")) return skipTo(pos, "?>", pos + 2, "a processing instruction");
        if (at(pos, "<!")) return declaration(pos);
        if (at(pos, "</")) return tag(pos, pos + 2, XmlTag::Kind::End);
        return tag(pos, pos + 1, XmlTag::Kind::Start);
    }

    std::size_t skipTo(std::size_t open, std::string_view close, std::size_t from,
                       const char* what) {
        const std::size_t found = t_.find(close, from);
        if (found != npos) return found + close.size();
        return unclosed(open, what);
    }

    std::size_t unclosed(std::size_t open, const char* what) {
        scan_.unclosedAt = open;
        scan_.unclosedWhat = what;
        return npos;
    }

    // "<!DOCTYPE ...>" and the like, read as an XML reader reads a DOCTYPE:
    // quoted strings may hold '>', and so may the internal subset in
    // brackets, with its declarations, comments and processing instructions.
    std::size_t declaration(std::size_t open) {
        int depth = 0;
        std::size_t p = open + 2;
        while (p < t_.size()) {
            const char c = t_[p];
            std::size_t next = p + 1;
            if (c == '"' || c == '\'') {
                next = after(t_.find(c, p + 1), 1);
            } else if (depth > 0 && at(p, "<!--")) {
                next = after(t_.find("-->", p + 4), 3);
            } else if (depth > 0 && at(p, "<?")) {
                next = after(t_.find("?>", p + 2), 2);
            } else if (c == '[') {
                ++depth;
            } else if (c == ']' && depth > 0) {
                --depth;
            } else if (c == '>' && depth == 0) {
                return p + 1;
            }
            if (next == npos) break;
            p = next;
        }
        return unclosed(open, "a declaration");
    }

    static std::size_t after(std::size_t found, std::size_t length) {
        return found == npos ? npos : found + length;
    }

    // A start, empty-element or end tag whose name begins at `nameAt`.
    std::size_t tag(std::size_t open, std::size_t nameAt, XmlTag::Kind kind) {
        std::size_t p = nameAt;
        while (p < t_.size() && !endsName(t_[p]))
            ++p;
        if (p == nameAt) return open + 1;  // a stray '<'
        const std::string_view name = t_.substr(nameAt, p - nameAt);
        char quote = 0;
        for (; p < t_.size(); ++p) {
            const char c = t_[p];
            if (c == '<') return p;  // no tag: read on from this '<'
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                const bool empty = kind == XmlTag::Kind::Start && t_[p - 1] == '/';
                scan_.tags.push_back({empty ? XmlTag::Kind::Empty : kind, open, p + 1, name});
                return p + 1;
            }
        }
        return unclosed(open, "a tag");
    }

    std::string_view t_;
    XmlTagScan scan_;
};

}  // namespace

XmlTagScan scanTags(std::string_view text) {
    return TagScanner(text).run();
}
