#include "addon/exe_xml_document.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "addon/xml_tags.h"
#include "addon/xml_wellformed.h"
#include "common/ascii.h"

namespace exe_xml {
namespace {

constexpr std::string_view kEntryTag = "Launch.Addon";
constexpr std::string_view kNameTag = "Name";
constexpr std::string_view kCommandLineTag = "CommandLine";
constexpr std::string_view kPathTag = "Path";
constexpr std::string_view kRootTag = "SimBase.Document";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// How many leading bytes are looked at for the zero byte of UTF-16 text: the
// first character of an XML file ('<', a blank or a mark) is ASCII there.
constexpr std::size_t kUtf16Window = 4;
// Removing an entry can join the halves of a broken one into a new entry of
// ours; removal repeats, but only this often.
constexpr int kRemovalPasses = 8;

constexpr const char* kUtf16Refusal =
    "the file is UTF-16 (open it in Notepad, choose Save As, set Encoding to UTF-8, save, "
    "and run this command again)";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return equalsIgnoreCaseAscii(a, b);
}

bool allSpace(std::string_view text) {
    for (char c : text) {
        if (!isSpace(c)) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool decoded = false;
        for (const auto& [entity, c] : kEntities) {
            if (text.compare(i, entity.size(), entity) == 0) {
                out += c;
                i += entity.size();
                decoded = true;
                break;
            }
        }
        if (!decoded) out += text[i++];
    }
    return out;
}

std::string where(std::string_view doc, std::size_t offset) {
    const TextPosition p = textPosition(doc, offset);
    return "line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

Edit refuse(std::string reason) {
    return {std::string(), std::move(reason)};
}

// Where the entry's lines begin when a tag sits at `pos`: the start of its
// line, unless other text precedes it there. That text belongs to someone
// else, so the range then starts after it (taking only the indentation).
// Only the white space before `pos` is read, so that many entries on one
// long line cost no more than the line.
std::size_t rangeStart(std::string_view doc, std::size_t pos) {
    std::size_t p = pos;
    while (p > 0 && doc[p - 1] != '\n' && isSpace(doc[p - 1]))
        --p;
    if (p == 0 || doc[p - 1] == '\n') return p;
    while (isBlank(doc[pos - 1]))
        --pos;
    return pos;
}

// Where the entry's lines end after `blockEnd`: just past the line feed, or
// at the closing tag when other text follows it on the same line.
std::size_t rangeEnd(std::string_view doc, std::size_t blockEnd) {
    std::size_t p = blockEnd;
    while (p < doc.size() && doc[p] != '\n' && isSpace(doc[p]))
        ++p;
    if (p == doc.size()) return p;
    return doc[p] == '\n' ? p + 1 : blockEnd;
}

bool is(const XmlTag& tag, XmlTag::Kind kind, std::string_view name) {
    return tag.kind == kind && equalsNoCase(tag.name, name);
}

// The trimmed text of the first `element` among tags[from, to), or empty.
std::string_view elementText(std::string_view doc, const std::vector<XmlTag>& tags,
                             std::size_t from, std::size_t to, std::string_view element) {
    for (std::size_t i = from; i < to; ++i) {
        if (!is(tags[i], XmlTag::Kind::Start, element)) continue;
        for (std::size_t j = i + 1; j < to; ++j) {
            if (is(tags[j], XmlTag::Kind::End, element)) {
                const std::size_t text = tags[i].end;
                return trimmed(doc.substr(text, tags[j].begin - text));
            }
        }
        return {};
    }
    return {};
}

// Entries whose name is `wanted` (already escaped). An element opened
// earlier and never closed is no element: a closing tag belongs to the
// nearest opening tag before it.
std::vector<EntryRange> entriesNamed(std::string_view doc, const XmlTagScan& scan,
                                     std::string_view wanted) {
    std::vector<EntryRange> found;
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t open = none;
    for (std::size_t i = 0; i < scan.tags.size(); ++i) {
        const XmlTag& tag = scan.tags[i];
        if (is(tag, XmlTag::Kind::Start, kEntryTag)) {
            open = i;
        } else if (open != none && is(tag, XmlTag::Kind::End, kEntryTag)) {
            if (equalsNoCase(elementText(doc, scan.tags, open + 1, i, kNameTag), wanted)) {
                found.push_back(
                    {true, rangeStart(doc, scan.tags[open].begin), rangeEnd(doc, tag.end)});
            }
            open = none;
        }
    }
    return found;
}

std::size_t markLength(std::string_view doc) {
    return doc.compare(0, kUtf8Mark.size(), kUtf8Mark) == 0 ? kUtf8Mark.size() : 0;
}

// A blank document (or a mark and blanks) becomes the default document.
std::string startingDocument(const std::string& document) {
    const std::size_t mark = markLength(document);
    if (!allSpace(std::string_view(document).substr(mark))) return document;
    return document.substr(0, mark) + defaultDocument();
}

const XmlTag* rootClosingTag(const XmlTagScan& scan) {
    for (const XmlTag& tag : scan.tags) {
        if (is(tag, XmlTag::Kind::End, kRootTag)) return &tag;
    }
    return nullptr;
}

// The document without ranges[from...] (in order, never overlapping), copied
// once: erasing them one by one would move the text after them each time.
std::string withoutRanges(std::string_view doc, const std::vector<EntryRange>& ranges,
                          std::size_t from) {
    std::string out;
    out.reserve(doc.size());
    std::size_t copied = 0;
    for (std::size_t i = from; i < ranges.size(); ++i) {
        out.append(doc, copied, ranges[i].start - copied);
        copied = ranges[i].end;
    }
    out.append(doc, copied, std::string_view::npos);
    return out;
}

std::string illFormed(std::string_view doc, const XmlCheck& check) {
    return "the result would not be well-formed XML (" + check.what + " at " +
           where(doc, check.offset) + ")";
}

// The Launch.Addon elements with their places, in one pass over the tags.
// The open elements are kept as a stack of names; an element after the
// first root's end (or beside an empty-element root) is after the first root.
class EntryLister {
public:
    EntryLister(std::string_view doc, const XmlTagScan& scan) : doc_(doc), scan_(scan) {}

    std::vector<AddonEntry> run() {
        std::vector<AddonEntry> entries;
        constexpr std::size_t none = static_cast<std::size_t>(-1);
        std::size_t open = none;
        AddonEntry pending;
        for (std::size_t i = 0; i < scan_.tags.size(); ++i) {
            const XmlTag& tag = scan_.tags[i];
            if (is(tag, XmlTag::Kind::Start, kEntryTag)) {
                open = i;
                pending = opened(tag);
            } else if (open != none && is(tag, XmlTag::Kind::End, kEntryTag)) {
                pending.range = {true, rangeStart(doc_, scan_.tags[open].begin),
                                 rangeEnd(doc_, tag.end)};
                pending.name = unescape(elementText(doc_, scan_.tags, open + 1, i, kNameTag));
                pending.executablePath =
                    unescape(elementText(doc_, scan_.tags, open + 1, i, kPathTag));
                entries.push_back(std::move(pending));
                pending = AddonEntry{};
                open = none;
            }
            follow(tag);
        }
        return entries;
    }

private:
    enum class Root { None, Open, Closed };

    // The place of an element starting at `tag`, before it is followed.
    AddonEntry opened(const XmlTag& tag) const {
        AddonEntry entry;
        entry.line = lineAt(tag.begin);
        if (root_ == Root::Closed) {
            entry.placement = Placement::AfterFirstRoot;
        } else if (stack_.size() == 1 && equalsNoCase(stack_.front(), kRootTag)) {
            entry.placement = Placement::Seen;
        } else {
            entry.placement = Placement::OutsideSimBaseDocument;
            if (!stack_.empty()) entry.container = std::string(stack_.back());
        }
        return entry;
    }

    // Lines are counted on from the last entry: counting from the start each
    // time would cost the square of the length for many entries.
    std::size_t lineAt(std::size_t offset) const {
        for (; counted_ < offset; ++counted_) {
            const char c = doc_[counted_];
            if (c == '\r' || (c == '\n' && (counted_ == 0 || doc_[counted_ - 1] != '\r'))) ++line_;
        }
        return line_;
    }

    // A closing tag that closes nothing is passed over at once, and every
    // element is popped once: linear in the tags, however they nest.
    void follow(const XmlTag& tag) {
        if (tag.kind == XmlTag::Kind::End) {
            const auto open = openCount_.find(lowerAscii(tag.name));
            if (open == openCount_.end() || open->second == 0) return;
            while (!stack_.empty()) {
                const std::string top = lowerAscii(stack_.back());
                stack_.pop_back();
                --openCount_[top];
                if (top == open->first) break;
            }
            if (stack_.empty() && root_ == Root::Open) root_ = Root::Closed;
            return;
        }
        if (stack_.empty() && root_ == Root::None) {
            root_ = tag.kind == XmlTag::Kind::Start ? Root::Open : Root::Closed;
        }
        if (tag.kind == XmlTag::Kind::Start) {
            stack_.push_back(tag.name);
            ++openCount_[lowerAscii(tag.name)];
        }
    }

    static std::string lowerAscii(std::string_view text) { return toLowerAscii(std::string(text)); }

    std::string_view doc_;
    const XmlTagScan& scan_;
    std::vector<std::string_view> stack_;
    std::unordered_map<std::string, std::size_t> openCount_;  // names on the stack, lower case
    Root root_ = Root::None;
    mutable std::size_t counted_ = 0;
    mutable std::size_t line_ = 1;
};

// The refusal for an entry of ours at `at` that the simulator would not see.
std::string unseenRefusal(const std::string& after, std::size_t at) {
    const XmlTagScan scan = scanTags(after);
    for (const AddonEntry& entry : EntryLister(after, scan).run()) {
        if (entry.range.start != at || entry.placement == Placement::Seen) continue;
        const std::string remedy =
            entry.placement == Placement::AfterFirstRoot
                ? "move the entries after the first </SimBase.Document> into it, delete what "
                  "is left after it, and run this command again"
                : "the simulator reads only Launch.Addon elements directly inside "
                  "<SimBase.Document>; move the entries there, or put EXE.xml.bak back if that "
                  "copy is good, and run this command again";
        return "the simulator would not see the entry there, " + placementText(entry) + " (" +
               remedy + ")";
    }
    return {};
}

// The checks every added entry passes before the document is handed out.
Edit checkedAddition(const std::string& before, std::string after, const std::string& name,
                     std::size_t at, const std::string& entry) {
    if (checkWellFormed(before).wellFormed) {
        const XmlCheck check = checkWellFormed(after, at + entry.find('<'));
        if (check.element == XmlCheck::Place::AfterRoot) {
            return refuse("the entry would be outside the root element");
        }
        if (!check.wellFormed) return refuse(illFormed(after, check));
        // The root itself only where our entry already was the document's
        // only element: a root of someone else's keeps the entry inside.
        if (check.element == XmlCheck::Place::NotAnElement) {
            return refuse("the entry would be inside a comment");
        }
    }
    const std::vector<EntryRange> read = entriesNamed(after, scanTags(after), escape(name));
    if (read.size() != 1 || read[0].start != at || read[0].end != at + entry.size()) {
        return refuse("the entry would not read back as written");
    }
    std::string unseen = unseenRefusal(after, at);
    if (!unseen.empty()) return refuse(std::move(unseen));
    return {std::move(after), ""};
}

Edit addedEntry(const std::string& document, const std::string& name,
                const std::string& executablePath, const std::string& arguments) {
    if (looksUtf16(document)) return refuse(kUtf16Refusal);
    const std::string before = startingDocument(document);
    const XmlTagScan scan = scanTags(before);
    if (scan.unclosedComment()) {
        return refuse("a comment never ends (it starts at " + where(before, scan.unclosedAt) + ")");
    }
    const std::string entry = entryText(name, executablePath, arguments);
    const std::vector<EntryRange> ours = entriesNamed(before, scan, escape(name));
    std::string after = before;
    std::size_t at = 0;
    if (!ours.empty()) {
        after = withoutRanges(before, ours, 1);
        at = ours[0].start;
        after.replace(at, ours[0].end - at, entry);
    } else if (const XmlTag* root = rootClosingTag(scan)) {
        at = rangeStart(before, root->begin);
        after.insert(at, entry);
    } else if (scan.unclosedAt != XmlTagScan::npos) {
        return refuse("the file ends inside " + scan.unclosedWhat + " that starts at " +
                      where(before, scan.unclosedAt));
    } else {
        at = rangeStart(before, before.size());
        after.insert(at, entry);
    }
    return checkedAddition(before, std::move(after), name, at, entry);
}

Edit removedEntries(const std::string& document, const std::string& name) {
    if (looksUtf16(document)) return refuse(kUtf16Refusal);
    std::string after = document;
    std::vector<EntryRange> ours = entriesNamed(after, scanTags(after), escape(name));
    for (int pass = 0; !ours.empty() && pass < kRemovalPasses; ++pass) {
        after = withoutRanges(after, ours, 0);
        ours = entriesNamed(after, scanTags(after), escape(name));
    }
    if (!ours.empty()) return refuse("an entry of ours would remain");
    if (after == document || !checkWellFormed(document).wellFormed) return {std::move(after), ""};
    const XmlCheck check = checkWellFormed(after);
    // Our entry was the root when no element is left: the document is then
    // what it was before the entry came.
    if (!check.wellFormed && !check.onlyRootMissing) return refuse(illFormed(after, check));
    return {std::move(after), ""};
}

std::string entryElementText(const std::string& document, const EntryRange& range,
                             std::string_view element) {
    const std::string_view entry =
        std::string_view(document).substr(range.start, range.end - range.start);
    const XmlTagScan scan = scanTags(entry);
    return unescape(elementText(entry, scan.tags, 0, scan.tags.size(), element));
}

}  // namespace

std::vector<EntryRange> findEntries(const std::string& document, const std::string& name) {
    return entriesNamed(document, scanTags(document), escape(name));
}

std::vector<AddonEntry> listEntries(const std::string& document) {
    return EntryLister(document, scanTags(document)).run();
}

std::string placementText(const AddonEntry& entry) {
    switch (entry.placement) {
        case Placement::Seen:
            return {};
        case Placement::AfterFirstRoot:
            return "after the file's first root element, and the simulator reads only the first";
        case Placement::OutsideSimBaseDocument:
            break;
    }
    if (entry.container.empty()) return "outside <SimBase.Document>, as a root element of its own";
    return "inside <" + entry.container + ">, not directly inside <SimBase.Document>";
}

std::string commandLineOf(const std::string& document, const EntryRange& range) {
    return entryElementText(document, range, kCommandLineTag);
}

std::string executablePathOf(const std::string& document, const EntryRange& range) {
    return entryElementText(document, range, kPathTag);
}

Edit withEntry(const std::string& document, const std::string& name,
               const std::string& executablePath, const std::string& arguments) {
    Edit edit = addedEntry(document, name, executablePath, arguments);
    if (!edit.ok()) edit.document = document;
    return edit;
}

Edit withoutEntry(const std::string& document, const std::string& name) {
    Edit edit = removedEntries(document, name);
    if (!edit.ok()) edit.document = document;
    return edit;
}

bool looksUtf16(const std::string& document) {
    if (document.compare(0, 2, "\xFF\xFE") == 0 || document.compare(0, 2, "\xFE\xFF") == 0) {
        return true;
    }
    return document.substr(0, kUtf16Window).find('\0') != std::string::npos;
}

std::string defaultDocument() {
    return "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n"
           "<SimBase.Document Type=\"SimConnect\" version=\"1,0\">\r\n"
           "    <Descr>SimConnect</Descr>\r\n"
           "    <Filename>EXE.xml</Filename>\r\n"
           "    <Disabled>False</Disabled>\r\n"
           "    <Launch.ManualLoad>False</Launch.ManualLoad>\r\n"
           "</SimBase.Document>\r\n";
}

std::string entryText(const std::string& name, const std::string& executablePath,
                      const std::string& arguments) {
    std::string text = "    <Launch.Addon>\r\n";
    text += "        <Name>" + escape(name) + "</Name>\r\n";
    text += "        <Disabled>False</Disabled>\r\n";
    text += "        <Path>" + escape(executablePath) + "</Path>\r\n";
    if (!arguments.empty()) {
        text += "        <CommandLine>" + escape(arguments) + "</CommandLine>\r\n";
    }
    text += "    </Launch.Addon>\r\n";
    return text;
}

}  // namespace exe_xml
