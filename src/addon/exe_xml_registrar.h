#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Adds, replaces and removes the program's own Launch.Addon entry in the
// simulator's EXE.xml files, editing them as bytes and touching nothing
// outside the entry's lines. Each file is backed up (".bak") before it is
// replaced, and replaced in one step, so a failed or interrupted write never
// leaves a half-written EXE.xml.
//
// The object holds only the environment lookup; every operation may be called
// from any thread, but two registrars must not edit the same files at once.
// Failures never throw: counts stop at the failing file and `error` holds the
// text; files already written stay written.
class ExeXmlRegistrar {
public:
    using EnvironmentLookup = std::function<std::string(const std::string&)>;

    // Byte range of the program's entry in a document. Normally whole lines:
    // from the start of the line holding "<Launch.Addon>" to just after the
    // line feed ending the line of "</Launch.Addon>". When other text shares
    // one of those lines, the range stops at that text instead of taking it.
    struct EntryRange {
        bool found = false;
        std::size_t start = 0;  // first byte of the entry's first line
        std::size_t end = 0;    // one past the line end of its last line
    };

    // Environment variables come from `lookup` (the process environment by default).
    explicit ExeXmlRegistrar(EnvironmentLookup lookup = {});

    // The candidate EXE.xml paths (LOCALAPPDATA store editions first, then the
    // APPDATA boxed editions) whose parent folder exists; the files themselves
    // need not exist.
    std::vector<std::string> findInstallations() const;

    // Writes the entry into every file found (a missing or blank file becomes
    // the default document with the entry). Returns the number of files written.
    // An existing file that cannot be read is not overwritten: "Failed to read: ".
    std::int32_t registerAll(const std::string& name, const std::string& executablePath,
                             const std::string& arguments, std::string& error) const;
    // Removes the entry from every file holding it; files without it are not
    // touched. Returns the number of files changed.
    std::int32_t unregisterAll(const std::string& name, std::string& error) const;

    // The whole file as raw bytes; empty when it cannot be opened or read.
    static std::string readFile(const std::string& path);
    // The first Launch.Addon element whose Name equals `name` (escaped, compared
    // case-insensitively after trimming white space).
    static EntryRange findEntry(const std::string& document, const std::string& name);
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
    static std::string defaultDocument();

private:
    EnvironmentLookup lookup_;
};
