#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "addon/exe_xml_document.h"
#include "addon/xml_wellformed.h"

// What one candidate EXE.xml holds, for reports such as --list-exe-xml. A
// plain record: later fields mean something only when the earlier ones allow.
struct ExeXmlInspection {
    std::string path;
    bool exists = false;    // a missing file is created by registering
    bool readable = false;  // it exists and could be read
    bool utf16 = false;     // readable but UTF-16: not examined further
    XmlCheck xml;           // well-formedness of a readable, non-UTF-16 file
    // The command line of each entry of ours, in file order (empty text for
    // an entry without one); empty when not registered.
    std::vector<std::string> commandLines;
    // The Path (executable) of the same entries, in the same order.
    std::vector<std::string> executablePaths;
    // Entries of any program (ours too) that the simulator will not see,
    // and those whose Path is a full path to no file, in file order. A
    // relative Path, resolved by the simulator in a folder of its own, and an
    // entry without a Path are not judged.
    std::vector<exe_xml::AddonEntry> unseen;
    std::vector<exe_xml::AddonEntry> missingPrograms;
};

// One line of --list-exe-xml: three fields separated by tabs, which no path
// holds, so that the first field is exactly the path:
// - the path;
// - "registered: <command line>", "registered <n> times: <first> | <second>...",
//   each command line through outsideText() (log/outside_text.h), so the file
//   cannot add a tab or a line; "not registered", or "not examined" (UTF-16 or unreadable);
// - "well-formed", "not well-formed: line <l>, column <c>: <what>",
//   "UTF-16 (save it as UTF-8)", "cannot be read" or
//   "no file yet (--register creates it)".
// Then one more field for each entry in `unseen` and in `missingPrograms`:
// - "not seen by the simulator: <name> (line <l>, <placement text>)";
// - "program missing: <name> (line <l>): <path>".
std::string exeXmlListLine(const ExeXmlInspection& inspection);

// Adds, replaces and removes the program's own Launch.Addon entry in the
// simulator's EXE.xml files, editing them as bytes and touching nothing
// outside the entry's lines (exe_xml_document.h says how, and what is
// refused). Each file is backed up (".bak") before it is replaced, and
// replaced in one step, so a failed or interrupted write never leaves a
// half-written EXE.xml. A file whose content would not change is not written
// at all, so its backup keeps the content before the program's last change.
//
// The object holds only the environment lookup; every operation may be called
// from any thread, but two registrars must not edit the same files at once.
// Failures never throw: counts stop at the failing file and `error` holds the
// text; files already written stay written.
class ExeXmlRegistrar {
public:
    using EnvironmentLookup = std::function<std::string(const std::string&)>;
    using EntryRange = exe_xml::EntryRange;

    // Environment variables come from `lookup` (the process environment by default).
    explicit ExeXmlRegistrar(EnvironmentLookup lookup = {});

    // The candidate EXE.xml paths (LOCALAPPDATA store editions first, then the
    // APPDATA boxed editions) whose parent folder exists; the files themselves
    // need not exist.
    std::vector<std::string> findInstallations() const;

    // Puts the entry into every file found (a missing or blank file becomes
    // the default document with the entry). Returns the number of files that
    // now hold it, written or already as wanted. An existing file that cannot
    // be read is not overwritten: "Failed to read: "; a refused edit stops
    // with "Not written, " + the reason + ": " + the path.
    std::int32_t registerAll(const std::string& name, const std::string& executablePath,
                             const std::string& arguments, std::string& error) const;
    // Removes every entry of ours from every file holding one; files without
    // it are not touched. Returns the number of files changed. A refused edit
    // stops as for registerAll.
    std::int32_t unregisterAll(const std::string& name, std::string& error) const;

    // Every candidate of findInstallations, inspected for the entry `name`.
    std::vector<ExeXmlInspection> inspectAll(const std::string& name) const;
    static ExeXmlInspection inspect(const std::string& path, const std::string& name);

    // The whole file as raw bytes; empty when it cannot be opened or read.
    static std::string readFile(const std::string& path);
    // The first entry of ours (see exe_xml::findEntries).
    static EntryRange findEntry(const std::string& document, const std::string& name);
    // The edits of exe_xml_document.h; a refused edit gives the document unchanged.
    static std::string withEntry(const std::string& document, const std::string& name,
                                 const std::string& executablePath, const std::string& arguments);
    static std::string withoutEntry(const std::string& document, const std::string& name);
    // Creates the folder, copies an existing file to path + ".bak" (a failed copy
    // is logged as a warning and the write goes on), writes `document` to a
    // temporary file beside it and swaps it in. On false, `error` is
    // "Failed to open for write: " or "Failed to write: " followed by the path,
    // and the file and its folder are as they were (apart from the backup).
    static bool writeWithBackup(const std::string& path, const std::string& document,
                                std::string& error);

    // The document used for a missing or blank file (267 bytes, CRLF lines).
    static std::string defaultDocument() { return exe_xml::defaultDocument(); }

private:
    EnvironmentLookup lookup_;
};
