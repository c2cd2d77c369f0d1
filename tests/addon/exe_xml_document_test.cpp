#include "addon/exe_xml_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "addon/exe_xml_registrar.h"
#include "addon/xml_wellformed.h"

namespace {

using R = ExeXmlRegistrar;

const std::string kName = "CorvaneHID";
const std::string kExe = "C:\\Corvane\\CorvaneHID.exe";
const std::string kArgs = "--config \"C:\\Corvane\\config.json\"";
const std::string kEntry =
    "    <Launch.Addon>\r\n        <Name>CorvaneHID</Name>\r\n        "
    "<Disabled>False</Disabled>\r\n"
    "        <Path>C:\\Corvane\\CorvaneHID.exe</Path>\r\n"
    "        <CommandLine>--config \"C:\\Corvane\\config.json\"</CommandLine>\r\n"
    "    </Launch.Addon>\r\n";
const std::string kOther = "  <Launch.Addon>\n    <Name>Other Tool</Name>\n  </Launch.Addon>\n";
const std::string kMark = "\xEF\xBB\xBF";

std::string reg(const std::string& doc) {
    return R::withEntry(doc, kName, kExe, kArgs);
}
std::string unreg(const std::string& doc) {
    return R::withoutEntry(doc, kName);
}
std::string refusalOfRegister(const std::string& doc) {
    return exe_xml::withEntry(doc, kName, kExe, kArgs).refusal;
}
bool wellFormed(const std::string& doc) {
    return checkWellFormed(doc).wellFormed;
}

TEST(ExeXmlDocumentTest, BlankFilesBecomeTheDefaultDocumentWithTheEntry) {
    const std::string def = R::defaultDocument();
    ASSERT_EQ(def.size(), 267u);
    const std::size_t closing = def.find("</SimBase.Document>");
    const std::string expected = def.substr(0, closing) + kEntry + def.substr(closing);
    EXPECT_EQ(reg(""), expected);
    EXPECT_EQ(reg(" \r\n\t \n"), expected);
    // What Notepad saves after everything was deleted: the mark stays first.
    EXPECT_EQ(reg(kMark), kMark + expected);
    EXPECT_EQ(reg(kMark + "\r\n "), kMark + expected);
}

TEST(ExeXmlDocumentTest, EntryIsPlacedReplacedAndRemovedKeepingOtherBytes) {
    const std::string head = "<SimBase.Document>\n" + kOther;
    // Inserted on its own lines before the closing tag's line.
    EXPECT_EQ(reg(head + "\t</SimBase.Document>\n"), head + kEntry + "\t</SimBase.Document>\n");
    // Names compare ignoring case and surrounding white space; the whole lines go.
    const std::string old =
        "  <launch.addon>\n <NAME> \tcorvanehid \n</NAME>\n  </LAUNCH.ADDON>  \n";
    EXPECT_EQ(reg(head + old + kOther + "</SimBase.Document>"),
              head + kEntry + kOther + "</SimBase.Document>");
    EXPECT_EQ(unreg(head + old + kOther), head + kOther);
    // Without a closing tag the entry is appended.
    EXPECT_EQ(reg(head), head + kEntry);
    // Nothing to remove: unchanged.
    EXPECT_EQ(unreg(head), head);
}

TEST(ExeXmlDocumentTest, EveryEntryOfOursCounts) {
    const std::string old =
        "  <Launch.Addon><Name>CorvaneHID</Name><Path>old.exe</Path></Launch.Addon>\n";
    const std::string doc = "<SimBase.Document>\n" + old + kOther + old + "</SimBase.Document>\n";
    // The first is updated, the others go; unregistering takes them all.
    EXPECT_EQ(reg(doc), "<SimBase.Document>\n" + kEntry + kOther + "</SimBase.Document>\n");
    EXPECT_EQ(unreg(doc), "<SimBase.Document>\n" + kOther + "</SimBase.Document>\n");
    // Removing one can leave the halves of a broken one around it: a whole
    // entry of ours again, which goes too.
    const std::string halves =
        "<Launch.Addon><Name>CorvaneHID</Name>\n" + kEntry + "</Launch.Addon>\n";
    EXPECT_EQ(unreg(halves), "");
}

TEST(ExeXmlDocumentTest, TagsInsideCommentsAreNeverTaken) {
    // An installer's template comment naming the closing tag.
    const std::string templ =
        "<SimBase.Document>\r\n" + kOther +
        "<!-- add entries above </SimBase.Document> -->\r\n</SimBase.Document>\r\n";
    const std::string once = reg(templ);
    EXPECT_EQ(once, "<SimBase.Document>\r\n" + kOther +
                        "<!-- add entries above </SimBase.Document> -->\r\n" + kEntry +
                        "</SimBase.Document>\r\n");
    EXPECT_TRUE(wellFormed(once));
    EXPECT_EQ(unreg(once), templ);
    // Our entry commented out by the user stays as it is; a live one is added.
    const std::string commented = "<!--" + kEntry + "-->";
    const std::string doc = "<SimBase.Document>\n" + commented + "\n</SimBase.Document>\n";
    EXPECT_FALSE(R::findEntry(doc, kName).found);
    EXPECT_EQ(reg(doc),
              "<SimBase.Document>\n" + commented + "\n" + kEntry + "</SimBase.Document>\n");
    EXPECT_EQ(unreg(doc), doc);
    // Nor inside CDATA, processing instructions or declarations.
    const std::string hidden =
        "<!DOCTYPE x [<!ENTITY e '</SimBase.Document>'>]><SimBase.Document><?pi "
        "</SimBase.Document>?>"
        "<X><![CDATA[</SimBase.Document>]]></X></SimBase.Document>";
    EXPECT_EQ(reg(hidden).find(kEntry), hidden.rfind("</SimBase.Document>"));
}

TEST(ExeXmlDocumentTest, TheRootsClosingTagIsFoundWithBlanksBeforeTheBracket) {
    for (const std::string closing : {"</SimBase.Document >", "</simbase.document\r\n\t>"}) {
        const std::string doc = "<SimBase.Document>\r\n" + kOther + closing + "\r\n";
        EXPECT_EQ(reg(doc), "<SimBase.Document>\r\n" + kOther + kEntry + closing + "\r\n");
    }
}

TEST(ExeXmlDocumentTest, UnsafeFilesAreRefusedWithTheReason) {
    const std::string utf16le("\xFF\xFE<\0S\0/\0>\0", 10);
    const std::string utf16be("\xFE\xFF\0<\0S\0/\0>", 10);
    const std::string noMark("<\0S\0/\0>\0", 8);
    for (const std::string& doc : {utf16le, utf16be, noMark, std::string("\xFF\xFE", 2)}) {
        const exe_xml::Edit edit = exe_xml::withEntry(doc, kName, kExe, kArgs);
        EXPECT_EQ(edit.refusal,
                  "the file is UTF-16 (open it in Notepad, choose Save As, set Encoding to UTF-8, "
                  "save, and run this command again)");
        EXPECT_EQ(edit.document, doc);
        EXPECT_EQ(exe_xml::withoutEntry(doc, kName).refusal, edit.refusal);
    }
    // A comment that never ends would swallow the entry, wherever it goes.
    const std::string open =
        "<SimBase.Document>\r\n" + kOther + "  <!-- note\r\n</SimBase.Document>\r\n";
    EXPECT_EQ(refusalOfRegister(open), "a comment never ends (it starts at line 5, column 3)");
    EXPECT_EQ(refusalOfRegister("<SimBase.Document></SimBase.Document>\n<!--"),
              "a comment never ends (it starts at line 2, column 1)");
    // Removing an entry before it writes nothing into it.
    EXPECT_EQ(unreg(kEntry + "<!-- note"), "<!-- note");
    // A file cut off inside a tag, with no closing tag to go before.
    EXPECT_EQ(refusalOfRegister("<SimBase.Document>\n" + kOther + "  <Launch.Addon><Name>X</Na"),
              "the file ends inside a tag that starts at line 5, column 24");
    EXPECT_EQ(refusalOfRegister("<SimBase.Document>\n<![CDATA[ x"),
              "the file ends inside a CDATA section that starts at line 2, column 1");
    // A well-formed file whose root is something else: after it, the entry
    // would break the file.
    EXPECT_EQ(refusalOfRegister("<Root>\n" + kOther + "</Root>\n"),
              "the entry would be outside the root element");
    EXPECT_EQ(reg("<Root/>"), "<Root/>");
}

TEST(ExeXmlDocumentTest, ValuesAreEscapedAndEmptyArgumentsLeaveNoCommandLine) {
    const std::string doc = R::withEntry("", "A&B", "C:\\x<y>\\'q\".exe", "");
    EXPECT_NE(doc.find("        <Name>A&amp;B</Name>\r\n"), std::string::npos);
    EXPECT_NE(doc.find("        <Path>C:\\x&lt;y&gt;\\'q\".exe</Path>\r\n"), std::string::npos);
    EXPECT_EQ(doc.find("CommandLine"), std::string::npos);
    const std::string args = "--config \"C:\\R&D\\c.json\"";
    const std::string amp = R::withEntry("", kName, kExe, args);
    EXPECT_NE(amp.find("<CommandLine>--config \"C:\\R&amp;D\\c.json\"</CommandLine>"),
              std::string::npos);
    // The escaped name is what is searched for; the command line reads back decoded.
    EXPECT_TRUE(R::findEntry(doc, "a&b").found);
    EXPECT_FALSE(R::findEntry(doc, "A&amp;B").found);
    EXPECT_EQ(exe_xml::commandLineOf(amp, R::findEntry(amp, kName)), args);
    EXPECT_EQ(exe_xml::commandLineOf(doc, R::findEntry(doc, "A&B")), "");
}

TEST(ExeXmlDocumentTest, TextSharingTheEntrysLinesIsNeverTaken) {
    // A document on one line: the entry goes inside it, and removing it again
    // must not take the declaration and the other entries along.
    const std::string oneLine =
        "<?xml version=\"1.0\"?><SimBase.Document><Launch.Addon><Name>Other</Name>"
        "</Launch.Addon></SimBase.Document>";
    const std::string once = reg(oneLine);
    EXPECT_EQ(once.find("<?xml version=\"1.0\"?><SimBase.Document><Launch.Addon>"), 0u);
    EXPECT_EQ(reg(once), once);
    EXPECT_EQ(unreg(once), oneLine);
    // Another program's entry on the same line as ours stays.
    const std::string shared =
        "<Launch.Addon><Name>A</Name></Launch.Addon>  <Launch.Addon><Name>CorvaneHID</Name>"
        "</Launch.Addon><Launch.Addon><Name>B</Name></Launch.Addon>\n";
    EXPECT_EQ(unreg(shared),
              "<Launch.Addon><Name>A</Name></Launch.Addon><Launch.Addon><Name>B</Name>"
              "</Launch.Addon>\n");
    // An entry left without its closing tag does not swallow the next one.
    const std::string unclosed = "<Launch.Addon><Name>CorvaneHID</Name>\n" + kOther;
    EXPECT_FALSE(R::findEntry(unclosed, kName).found);
    EXPECT_EQ(unreg(reg(unclosed)), unclosed);
    EXPECT_EQ(unreg("<Launch.Addon><Name>X</Name>\n" + kEntry), "<Launch.Addon><Name>X</Name>\n");
}

// --- Properties over random documents.

// Random documents built from the pieces EXE.xml files are made of, plus junk.
std::string randomDocument(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>",
        "<SimBase.Document Type=\"SimConnect\" version=\"1,0\">",
        "</SimBase.Document>",
        "</simbase.document >",
        "</SimBase.Document\r\n>",
        "<!-- comment -->",
        "<!-- add entries above </SimBase.Document> -->",
        "<!-- <Launch.Addon><Name>CorvaneHID</Name></Launch.Addon> -->",
        "<!--",
        "-->",
        "<![CDATA[</SimBase.Document><Launch.Addon>]]>",
        "<Descr>SimConnect</Descr>",
        kOther,
        "<LAUNCH.ADDON><name> Tool </name></launch.addon>",
        "<Launch.Addon>\r\n\t<Name>Fly&amp;Go</Name>\r\n</Launch.Addon>",
        "<Launch.Addon><Name>Broken</Name>",
        "<Launch.Addon><Name>CorvaneHID</Name>",
        "</Launch.Addon>",
        "<Launch.Addon ><Name></Name></Launch.Addon >",
        "<Name>CorvaneHID</Name>",
        "<launch.addon>\n<NAME> corvanehid </NAME>\n</launch.addon>",
        kEntry,
        "<Launch.Addon "
        "a=\"x\"><Name>CorvaneHID</Name><CommandLine>old</CommandLine></Launch.Addon>"};
    static const std::vector<std::string> gaps = {"", "\n", "\r\n", "\r", " ", "\t", "  \r\n"};
    std::string doc = rng() % 8 == 0 ? kMark : "";
    // Half of them open the simulator's root first: the entry is refused
    // wherever the simulator would not see it, which is most junk.
    if (rng() % 2 == 0) doc += pieces[1];
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
        doc += gaps[rng() % gaps.size()];
        if (rng() % 8 == 0) {
            for (int n = static_cast<int>(rng() % 16); n > 0; --n)
                doc += static_cast<char>(rng());
        } else {
            doc += pieces[rng() % pieces.size()];
        }
    }
    return doc;
}

// Well-formed documents as editors and installers write them, with comments
// and CDATA holding tags, odd closing tags, marks and entries of ours.
std::string wellFormedDocument(std::mt19937& rng) {
    static const std::vector<std::string> misc = {
        "",
        "\r\n",
        "\n\t",
        "<!-- add entries above </SimBase.Document> -->\r\n",
        "<!-- <Launch.Addon><Name>CorvaneHID</Name></Launch.Addon> -->",
        "<?note x?>"};
    static const std::vector<std::string> children = {
        "\r\n",
        "\n  ",
        "\t",
        kOther,
        kEntry,
        "<Descr>SimConnect</Descr>",
        "<!-- <Launch.Addon><Name>CorvaneHID</Name></Launch.Addon> </SimBase.Document> -->",
        "<X><![CDATA[</SimBase.Document>]]></X>",
        "R&amp;D &#65;",
        "<Launch.Addon ><Name>corvanehid</Name ></Launch.Addon >",
        "<Launch.Addon><Name>CorvaneHID</Name><Launch.Addon><Name>Inner</Name></Launch.Addon>"
        "</Launch.Addon>"};
    static const std::vector<std::string> closings = {"</SimBase.Document>", "</SimBase.Document >",
                                                      "</SimBase.Document\r\n>"};
    std::string doc = rng() % 4 == 0 ? kMark : "";
    if (rng() % 2 == 0) doc += "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>";
    doc += misc[rng() % misc.size()];
    const bool simRoot = rng() % 8 != 0;
    doc += simRoot ? "<SimBase.Document Type=\"SimConnect\" version=\"1,0\">" : "<Root>";
    for (int n = static_cast<int>(rng() % 8); n > 0; --n)
        doc += children[rng() % children.size()];
    doc += simRoot ? closings[rng() % closings.size()] : "</Root>";
    doc += misc[rng() % misc.size()];
    return doc;
}

bool blank(const std::string& doc) {
    return doc.find_first_not_of(" \t\r\n\f\v", doc.compare(0, 3, kMark) == 0 ? 3 : 0) ==
           std::string::npos;
}

std::string withoutRanges(std::string doc, const std::vector<exe_xml::EntryRange>& ranges,
                          std::size_t from) {
    for (std::size_t i = ranges.size(); i-- > from;)
        doc.erase(ranges[i].start, ranges[i].end - ranges[i].start);
    return doc;
}

void expectByteProperties(const std::string& doc) {
    const std::vector<exe_xml::EntryRange> ours = exe_xml::findEntries(doc, kName);
    const exe_xml::Edit removed = exe_xml::withoutEntry(doc, kName);
    if (removed.ok()) {
        // Only our entries go (and any entry of ours their removal completes).
        const std::string expected = withoutRanges(doc, ours, 0);
        EXPECT_EQ(removed.document, expected == doc ? doc : unreg(expected)) << doc;
    }
    const exe_xml::Edit added = exe_xml::withEntry(doc, kName, kExe, kArgs);
    if (!added.ok()) {
        EXPECT_EQ(added.document, doc);
        return;
    }
    const std::string& once = added.document;
    ASSERT_EQ(reg(once), once) << doc;
    if (!ours.empty()) {
        std::string expected = withoutRanges(doc, ours, 1);
        expected.replace(ours[0].start, ours[0].end - ours[0].start, kEntry);
        EXPECT_EQ(once, expected) << doc;
    } else if (!blank(doc)) {
        const R::EntryRange at = R::findEntry(once, kName);
        ASSERT_TRUE(at.found) << doc;
        EXPECT_EQ(once.substr(0, at.start) + once.substr(at.start + kEntry.size()), doc) << doc;
        EXPECT_EQ(unreg(once), doc) << doc;
    }
}

void expectStaysWellFormed(const std::string& doc) {
    ASSERT_TRUE(wellFormed(doc)) << doc;
    const exe_xml::Edit added = exe_xml::withEntry(doc, kName, kExe, kArgs);
    if (added.ok()) {
        const R::EntryRange at = R::findEntry(added.document, kName);
        const XmlCheck check = checkWellFormed(added.document, at.start + 4);
        EXPECT_TRUE(check.wellFormed) << added.document << "\n" << check.what;
        EXPECT_EQ(check.element, XmlCheck::Place::InsideRoot) << added.document;
    } else {
        // Only a file whose root is not the simulator's is refused.
        EXPECT_TRUE(added.refusal == "the entry would be outside the root element" ||
                    added.refusal.rfind("the simulator would not see the entry there, inside "
                                        "<Root>",
                                        0) == 0)
            << doc << "\n"
            << added.refusal;
        EXPECT_EQ(doc.find("<SimBase.Document"), std::string::npos) << doc;
    }
    const exe_xml::Edit removed = exe_xml::withoutEntry(doc, kName);
    ASSERT_TRUE(removed.ok()) << doc;
    EXPECT_TRUE(wellFormed(removed.document)) << removed.document;
}

TEST(ExeXmlPropertyTest, OnlyOurEntriesChangeAndRegisteringTwiceChangesNothing) {
    std::mt19937 rng(20240611);
    int withoutOurs = 0;
    int refused = 0;
    const int documents = 6000;
    for (int i = 0; i < documents; ++i) {
        const std::string doc = randomDocument(rng);
        withoutOurs += R::findEntry(doc, kName).found ? 0 : 1;
        refused += exe_xml::withEntry(doc, kName, kExe, kArgs).ok() ? 0 : 1;
        expectByteProperties(doc);
    }
    EXPECT_GT(withoutOurs, 1500);
    EXPECT_GT(refused, 100);
    EXPECT_GT(documents - refused, 1500);
}

TEST(ExeXmlPropertyTest, WellFormedFilesStayWellFormed) {
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        const std::string doc = wellFormedDocument(rng);
        expectStaysWellFormed(doc);
        expectByteProperties(doc);
    }
}

TEST(ExeXmlPropertyTest, BinaryAndHugeDocuments) {
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 7919 % 251 + 1);
    expectByteProperties(binary);
    std::string huge = "<SimBase.Document>\r\n";
    for (int i = 0; i < 40000; ++i)
        huge += "  <Launch.Addon><Name>T" + std::to_string(i) + "</Name>" + std::string(100, ' ') +
                "</Launch.Addon>\r\n";
    huge += "</SimBase.Document>\r\n";
    ASSERT_GT(huge.size(), 5000000u);
    expectStaysWellFormed(huge);
    expectByteProperties(huge);
    // Many entries of ours on one long line: each costs its own bytes, not the line's.
    std::string line = "<SimBase.Document>";
    for (int i = 0; i < 20000; ++i)
        line += "<Launch.Addon><Name>CorvaneHID</Name><Path>" + std::to_string(i) +
                "</Path></Launch.Addon> ";
    line += "</SimBase.Document>";
    EXPECT_EQ(unreg(line), "<SimBase.Document> </SimBase.Document>");
    EXPECT_EQ(reg(line), "<SimBase.Document>" + kEntry + " </SimBase.Document>");
    // Deep nesting and closing tags that close nothing cost no more than
    // their bytes, when the entries' places are listed.
    std::string deep = "<SimBase.Document>";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    for (int i = 0; i < 100000; ++i)
        deep += "</b>";
    const std::vector<exe_xml::AddonEntry> nested = exe_xml::listEntries(deep + kEntry);
    ASSERT_EQ(nested.size(), 1u);
    EXPECT_EQ(nested[0].container, "a");
}

}  // namespace
