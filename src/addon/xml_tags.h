#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Where the tags of an XML-like text are, read leniently, as files written by
// hand and by installers come: comments, CDATA sections, processing
// instructions and declarations are skipped whole, so that a tag written
// inside one of them is never taken for a tag. A '<' that starts no readable
// tag (a stray '<', or a '<' inside a tag's quoted value, where none may be)
// is passed over and the text after it is read on, so one broken tag costs
// only itself.
//
// One linear pass; the result refers into the scanned text, which must
// outlive it. Pure function; any thread.

struct XmlTag {
    enum class Kind { Start, End, Empty };
    Kind kind = Kind::Start;
    std::size_t begin = 0;  // the '<'
    std::size_t end = 0;    // one past the '>'
    std::string_view name;  // as written (XML names are case-sensitive; callers decide)
};

struct XmlTagScan {
    std::vector<XmlTag> tags;  // in document order
    // Something that starts at `unclosedAt` and never ends, so that the rest
    // of the text lies inside it; npos when the text ends outside all markup.
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t unclosedAt = npos;
    // "a comment", "a CDATA section", "a processing instruction",
    // "a declaration" or "a tag"; empty when nothing is left open.
    std::string unclosedWhat;
    bool unclosedComment() const { return unclosedWhat == "a comment"; }
};

XmlTagScan scanTags(std::string_view text);
