#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "addon/exe_xml_document.h"
#include "addon/xml_wellformed.h"

// Feeds arbitrary bytes to the EXE.xml editor as a document and checks that
// only the program's own entries ever change: adding the entry keeps every
// byte outside the entries of ours, adding it again changes nothing, removing
// it gives back the document it was added to; a refused edit leaves the
// document as it was; a well-formed document stays well-formed, with the entry
// an element inside its root. The well-formedness checker itself must never
// fail, and must say where the first problem is.
namespace {

using exe_xml::EntryRange;

const std::string kName = "CorvaneHID";
const std::string kExe = "C:\\P&<x>\\CorvaneHID.exe";
const std::string kArgs = "--config \"C:\\R&D\\config.json\"";
const std::string kEntry =
    "    <Launch.Addon>\r\n        <Name>CorvaneHID</Name>\r\n        "
    "<Disabled>False</Disabled>\r\n"
    "        <Path>C:\\P&amp;&lt;x&gt;\\CorvaneHID.exe</Path>\r\n"
    "        <CommandLine>--config \"C:\\R&amp;D\\config.json\"</CommandLine>\r\n"
    "    </Launch.Addon>\r\n";

void check(bool condition) {
    if (!condition) std::abort();
}

bool blank(const std::string& text) {
    const std::size_t from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return text.find_first_not_of(" \t\r\n\f\v", from) == std::string::npos;
}

std::string withoutRanges(std::string doc, const std::vector<EntryRange>& ranges,
                          std::size_t from) {
    for (std::size_t i = ranges.size(); i-- > from;)
        doc.erase(ranges[i].start, ranges[i].end - ranges[i].start);
    return doc;
}

// `part` is `whole` with bytes taken out, none added or changed.
bool isSubsequence(const std::string& part, const std::string& whole) {
    std::size_t i = 0;
    for (std::size_t j = 0; i < part.size() && j < whole.size(); ++j) {
        if (part[i] == whole[j]) ++i;
    }
    return i == part.size();
}

void checkChecker(const std::string& doc, const XmlCheck& xml) {
    if (xml.wellFormed) return;
    check(!xml.what.empty() && xml.offset <= doc.size());
    const TextPosition p = textPosition(doc, xml.offset);
    check(p.line == xml.position.line && p.column == xml.position.column);
    check(p.line >= 1 && p.column >= 1 && p.column <= xml.offset + 1);
}

void checkAdded(const std::string& doc, const std::vector<EntryRange>& ours, bool wellFormed) {
    const exe_xml::Edit added = exe_xml::withEntry(doc, kName, kExe, kArgs);
    if (!added.ok()) {
        check(added.document == doc);
        return;
    }
    const std::string& once = added.document;
    check(exe_xml::withEntry(once, kName, kExe, kArgs).document == once);
    const std::vector<EntryRange> now = exe_xml::findEntries(once, kName);
    check(now.size() == 1 && once.compare(now[0].start, now[0].end - now[0].start, kEntry) == 0);
    if (!ours.empty()) {
        std::string expected = withoutRanges(doc, ours, 1);
        expected.replace(ours[0].start, ours[0].end - ours[0].start, kEntry);
        check(once == expected);
    } else if (!blank(doc)) {
        check(once.compare(0, now[0].start, doc, 0, now[0].start) == 0);
        check(once.compare(now[0].end, std::string::npos, doc, now[0].start) == 0);
        check(exe_xml::withoutEntry(once, kName).document == doc);
    }
    if (wellFormed || blank(doc)) {
        const XmlCheck after = checkWellFormed(once, now[0].start + 4);
        check(after.wellFormed && (after.element == XmlCheck::Place::InsideRoot ||
                                   after.element == XmlCheck::Place::Root));
    }
}

void checkRemoved(const std::string& doc, const std::vector<EntryRange>& ours, bool wellFormed) {
    const exe_xml::Edit removed = exe_xml::withoutEntry(doc, kName);
    if (!removed.ok()) {
        check(removed.document == doc);
        return;
    }
    check(exe_xml::findEntries(removed.document, kName).empty());
    check(ours.empty() ? removed.document == doc : isSubsequence(removed.document, doc));
    if (!ours.empty() && exe_xml::findEntries(withoutRanges(doc, ours, 0), kName).empty()) {
        check(removed.document == withoutRanges(doc, ours, 0));
    }
    if (wellFormed) {
        const XmlCheck after = checkWellFormed(removed.document);
        check(after.wellFormed || after.onlyRootMissing);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string doc(reinterpret_cast<const char*>(data), size);
    const XmlCheck xml = checkWellFormed(doc);
    checkChecker(doc, xml);
    const std::vector<EntryRange> ours = exe_xml::findEntries(doc, kName);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        check(ours[i].start <= ours[i].end && ours[i].end <= doc.size());
        check(i == 0 || ours[i - 1].end <= ours[i].start);
    }
    checkAdded(doc, ours, xml.wellFormed);
    checkRemoved(doc, ours, xml.wellFormed);
    return 0;
}
