#include "addon/xml_wellformed.h"

#include <gtest/gtest.h>

#include <string>

#include "addon/exe_xml_document.h"

namespace {

using Place = XmlCheck::Place;

TEST(XmlWellFormedTest, AcceptsWhatEditorsAndInstallersWrite) {
    const char* documents[] = {
        "<a/>",
        "\xEF\xBB\xBF<?xml version='1.0' encoding=\"utf-8\" standalone='no' ?>\n<a/>\n",
        ("<?xml version=\"1.0\"?><!-- c --><?pi data?><a x='1' y=\"v>w\" >text &amp; &#65;&#x42;"
         "<b/><![CDATA[<not a=tag> & ]]></a ><!-- after --><?after?>\r\n"),
        "<!DOCTYPE a [ <!ENTITY e \"x>\"> <!-- ] > --> ]><a>&e;</a>",
        "<a:b.c-d_e\xC3\xA9>\r\t</a:b.c-d_e\xC3\xA9>",
        "<a><!----></a>",
    };
    for (const char* doc : documents) {
        const XmlCheck check = checkWellFormed(doc);
        EXPECT_TRUE(check.wellFormed) << doc << ": " << check.what;
    }
    EXPECT_TRUE(checkWellFormed(exe_xml::defaultDocument()).wellFormed);
}

struct Problem {
    std::string doc;
    std::size_t line;
    std::size_t column;
    std::string what;
};

TEST(XmlWellFormedTest, NamesTheFirstProblemAndWhereToLook) {
    const Problem problems[] = {
        {"<a>\r\n  <!-- note </a>\r\n", 2, 3, "a comment never ends"},
        {"<a><!-- x -- y --></a>", 1, 11, "'--' inside a comment"},
        {"<a><!-- x ---></a>", 1, 11, "'--' inside a comment"},
        {"<a>\n<b>\n</a>", 3, 1, "</a> does not close <b> from line 2"},
        {"<A></a>", 1, 4, "</a> does not close <A> from line 1"},
        {"<a></a><b/>", 1, 8, "a second root element"},
        {"<a></a>x", 1, 8, "text outside the root element"},
        {"x<a/>", 1, 1, "text outside the root element"},
        {"<a>&nbsp;</a>", 1, 4, "unknown entity &nbsp;"},
        {"<a>R&D</a>", 1, 5, "'&' starts no reference (write &amp; for a '&')"},
        {"<a>&#0;</a>", 1, 4, "a character reference to a character XML does not allow"},
        {"<a>&#x99999999999;</a>", 1, 4, "a character reference to a character XML does not allow"},
        {"<a x='<'/>", 1, 7, "'<' in an attribute value"},
        {"<a x='1' x='2'/>", 1, 10, "attribute x given twice"},
        {"<a x=1/>", 1, 6, "the value of attribute x is not in quotes"},
        {"<a x='1'y='2'/>", 1, 9, "unexpected character in a tag"},
        {"<a x/>", 1, 5, "attribute x without '=' and a value"},
        {"<a>\n<b x='1'", 2, 1, "a tag never ends"},
        {"<a>\n<b x='1", 2, 6, "an attribute value never ends"},
        {"<a></a", 1, 4, "a closing tag never ends"},
        {"</a>", 1, 1, "</a> closes no element"},
        {"<?xml version='1.0'?>\n<a>\n<b></b>\n", 2, 1, "<a> is never closed"},
        {"", 1, 1, "no root element"},
        {"\xEF\xBB\xBF  \r\n", 2, 1, "no root element"},
        {"<!-- only -->", 1, 14, "no root element"},
        {"<a/><?xml version='1.0'?>", 1, 5, "an XML declaration that is not at the very start"},
        {"<?xml encoding='x'?><a/>", 1, 7, "an XML declaration without a version"},
        {"<a>]]></a>", 1, 4, "']]>' in text"},
        {"<![CDATA[x]]><a/>", 1, 1, "a CDATA section outside the root element"},
        {"<a><![CDATA[x</a>", 1, 4, "a CDATA section never ends"},
        {"<a>< b/></a>", 1, 4, "'<' starts no tag (write &lt; for a '<' in text)"},
        {"<a><!ENTITY x></a>", 1, 4, "'<!' starts no comment, CDATA section or DOCTYPE"},
        {"<a>\x01</a>", 1, 4, "a control character (byte 0x01)"},
        {std::string("<a>\0</a>", 8), 1, 4, "a zero byte (is the file UTF-16?)"},
        {"\xFF\xFE<\0a\0/\0>\0", 1, 1, "a UTF-16 byte-order mark (the file is UTF-16)"},
        // A control byte counts where it is, before a problem found later.
        {"<a>\n\x02<!-- open", 2, 1, "a control character (byte 0x02)"},
        // Lines end with CRLF, LF or a lone CR; columns count bytes.
        {"<a>\r\r\n\n\r<b>\xC3\xA9</c>", 5, 6, "</c> does not close <b> from line 5"},
    };
    for (const Problem& p : problems) {
        const XmlCheck check = checkWellFormed(p.doc);
        EXPECT_FALSE(check.wellFormed) << p.doc;
        EXPECT_EQ(check.what, p.what) << p.doc;
        EXPECT_EQ(check.position.line, p.line) << p.doc;
        EXPECT_EQ(check.position.column, p.column) << p.doc;
    }
}

TEST(XmlWellFormedTest, SaysWhereAnElementSits) {
    const std::string doc = "<r><!-- <c/> --><c/></r><d/>";
    EXPECT_EQ(checkWellFormed(doc, 0).element, Place::Root);
    EXPECT_EQ(checkWellFormed(doc, doc.find("<c/></r>")).element, Place::InsideRoot);
    EXPECT_EQ(checkWellFormed(doc, doc.find("<c/>")).element, Place::NotAnElement);
    EXPECT_EQ(checkWellFormed(doc, doc.find("<d/>")).element, Place::AfterRoot);
    EXPECT_EQ(checkWellFormed(doc, doc.find("</r>")).element, Place::NotAnElement);
    EXPECT_EQ(checkWellFormed(doc).element, Place::NotAnElement);
}

TEST(XmlWellFormedTest, HugeDeepAndBinaryInputIsCheckedInOnePass) {
    // Nesting costs memory, not stack: no recursion.
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<e>";
    for (int i = 0; i < 200000; ++i)
        deep += "</e>";
    EXPECT_TRUE(checkWellFormed(deep).wellFormed);
    deep.pop_back();
    EXPECT_EQ(checkWellFormed(deep).what, "a closing tag never ends");

    std::string wide = "<a";
    for (int i = 0; i < 100000; ++i)
        wide += " a" + std::to_string(i) + "=''";
    EXPECT_TRUE(checkWellFormed(wide + "/>").wellFormed);
    EXPECT_EQ(checkWellFormed(wide + " a5=''/>").what, "attribute a5 given twice");

    std::string binary(1 << 20, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    const XmlCheck check = checkWellFormed(binary);
    EXPECT_FALSE(check.wellFormed);
    EXPECT_LE(check.offset, binary.size());
    // A long name is cut in the text.
    const std::string name(5000, 'n');
    EXPECT_EQ(checkWellFormed("<" + name + ">").what,
              "<" + name.substr(0, 40) + "... (5000 bytes in all)> is never closed");
    // A name's bytes from 0x80 up are shown, not passed on.
    EXPECT_EQ(checkWellFormed("<na\xE9me>").what, "<na\\xE9me> is never closed");
}

}  // namespace
