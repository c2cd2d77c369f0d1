#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program's own XML 1.0 well-formedness checker, small enough to read in
// one sitting: the XML declaration, a DOCTYPE (its extent only; it is not
// validated, and any entity it may declare is accepted), elements,
// attributes, comments, processing instructions, CDATA sections, character
// and entity references, one root element.
//
// It reads raw bytes, as the program reads EXE.xml: a UTF-8 byte-order mark is
// accepted, bytes from 0x80 up are taken as they are (text and names in
// UTF-8 or a single-byte code page alike), control bytes are refused. Not
// checked: the declared encoding, and the Unicode classes of non-ASCII name
// characters.
//
// Linear time in the input's length and no recursion: memory grows only with
// the nesting depth and the attributes of one tag, so huge or binary input is
// safe. Pure functions; any thread.

struct TextPosition {
    std::size_t line = 1;    // 1-based; "\r\n", "\n" and a lone "\r" each end a line
    std::size_t column = 1;  // 1-based, counted in bytes
};

// Line and column of byte `offset` (clamped to the text's end).
TextPosition textPosition(std::string_view bytes, std::size_t offset);

struct XmlCheck {
    bool wellFormed = true;
    // The first problem found in document order: where the user should look
    // (for something opened and never closed, where it was opened) and what it
    // is, e.g. "a comment never ends". Empty/zero when well-formed.
    std::size_t offset = 0;
    TextPosition position;
    std::string what;

    // Only with `elementAt` (below): where the element whose start tag begins
    // at that offset sits: the root itself, inside the root, or after the root
    // (a second root, which is also the problem found). NotAnElement when no
    // start tag begins there (text, inside a comment or another tag) or the
    // check stopped before it.
    enum class Place { NotAnElement, Root, InsideRoot, AfterRoot };
    Place element = Place::NotAnElement;
    // The one problem is that the document has no element at all (it may
    // hold a declaration, comments, processing instructions and blanks).
    bool onlyRootMissing = false;
};

constexpr std::size_t kNoElement = static_cast<std::size_t>(-1);

// Checks `bytes`. With `elementAt`, also reports the place of the element
// starting at that offset (see XmlCheck::element).
XmlCheck checkWellFormed(std::string_view bytes, std::size_t elementAt = kNoElement);
