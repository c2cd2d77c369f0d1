#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The program's own Launch.Addon entry in the bytes of an EXE.xml document:
// finding it, adding or replacing it, removing it, touching no byte outside
// its lines. Tags are found only where a reader of the XML would see tags
// (never inside comments, CDATA sections or other markup); tag and entry names
// compare ignoring ASCII letter case.
//
// Every edit is checked before it is handed out: the entry must read back as
// written, and a well-formed document must stay well-formed with the entry an
// element inside its root. An edit that fails a check is refused with the
// reason instead.
//
// Pure functions on byte strings; any thread.
namespace exe_xml {

// Byte range of one of the program's entries. Normally whole lines: from the
// start of the line holding the opening tag to just after the line feed
// ending the line of the closing tag. When other text shares one of those
// lines, the range stops at that text instead of taking it.
struct EntryRange {
    bool found = false;
    std::size_t start = 0;  // first byte of the entry's first line
    std::size_t end = 0;    // one past the line end of its last line
};

// Every Launch.Addon element whose Name equals `name` (escaped, compared
// ignoring case after trimming white space), in document order; never
// overlapping.
std::vector<EntryRange> findEntries(const std::string& document, const std::string& name);

// The text of the CommandLine element of the entry at `range` (the
// predefined entities &amp; &lt; &gt; &quot; &apos; decoded), or empty.
std::string commandLineOf(const std::string& document, const EntryRange& range);
// The same for its Path element: the executable the simulator starts.
std::string executablePathOf(const std::string& document, const EntryRange& range);

// Where a Launch.Addon element sits, as the simulator reads the file: it
// looks only at the elements directly inside the file's first root element,
// and only when that root is SimBase.Document. A file with a second root (an
// installer appended a whole document) is read up to the end of the first.
enum class Placement {
    Seen,                    // directly inside the first root, a SimBase.Document
    AfterFirstRoot,          // in or after a later root element
    OutsideSimBaseDocument,  // the root itself, or inside another element
};

// One Launch.Addon element of any program.
struct AddonEntry {
    EntryRange range;      // as findEntries gives it
    std::size_t line = 0;  // 1-based line of its opening tag
    std::string name;      // Name and Path, decoded and trimmed
    std::string executablePath;
    Placement placement = Placement::Seen;
    // For OutsideSimBaseDocument: the element it sits in, as written
    // (empty when the entry is itself a root element).
    std::string container;
};

// Every Launch.Addon element, in document order, found as findEntries finds
// them (an element opened and never closed is none). Ill-formed text is
// read leniently: a closing tag closes the nearest element of its name
// still open, one that closes nothing is passed over.
std::vector<AddonEntry> listEntries(const std::string& document);

// Why the simulator does not see an entry placed so, e.g. "after the file's
// first root element, and the simulator reads only the first"; empty for Seen.
std::string placementText(const AddonEntry& entry);

// An edited document, or the reason it must not be edited. `refusal` is a
// lower-case phrase for the error text ("the file is UTF-16 (...)"), empty
// when `document` may be written; when refused, `document` is the input.
struct Edit {
    std::string document;
    std::string refusal;
    bool ok() const { return refusal.empty(); }
};

// The document with the program's entry: the first entry of ours replaced and
// any further ones removed, or the entry added on its own lines before the
// line of the root's closing tag "</SimBase.Document>" (at the end when the
// document has none). A blank document, also one holding only a UTF-8
// byte-order mark and white space, becomes the default document (after the
// mark). Refused: UTF-16 documents, a comment that never ends, a document
// ending inside markup where the entry would be appended, an entry the
// simulator would not see there (see Placement; the refusal says what to do),
// and edits failing the checks above.
Edit withEntry(const std::string& document, const std::string& name,
               const std::string& executablePath, const std::string& arguments);

// The document without any entry of ours (unchanged when it holds none).
// Refused: UTF-16 documents and edits failing the checks above.
Edit withoutEntry(const std::string& document, const std::string& name);

// A byte-order mark FF FE or FE FF, or a zero byte in the first bytes: the
// ASCII tags cannot be found in such a file and single-byte text must not be
// written into it.
bool looksUtf16(const std::string& document);

// The document used for a missing or blank file (267 bytes, CRLF lines).
std::string defaultDocument();

// The entry as written (CRLF lines, 4 and 8 spaces of indentation).
std::string entryText(const std::string& name, const std::string& executablePath,
                      const std::string& arguments);

}  // namespace exe_xml
