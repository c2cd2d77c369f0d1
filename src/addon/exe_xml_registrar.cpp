#include "addon/exe_xml_registrar.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "log/logger.h"
#include "log/outside_text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLocalSuffixes[] = {
    "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalCache\\EXE.xml",
    "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalState\\EXE.xml",
    "\\Packages\\Microsoft.Limitless_8wekyb3d8bbwe\\LocalCache\\EXE.xml",
};
constexpr const char* kRoamingSuffixes[] = {
    "\\Microsoft Flight Simulator\\EXE.xml",
    "\\Microsoft Flight Simulator 2024\\EXE.xml",
};

// Only a regular file of at most platform::kMaxInputFileBytes is read.
bool readWhole(const std::string& path, std::string& bytes) {
    unsigned long code = 0;
    return platform::readInputFile(path, bytes, code) == platform::InputFile::Ok;
}

// A missing file reads as empty, and so does a folder in its place (the
// write then fails on it). An existing file that cannot be read must not be
// replaced by a fresh document: every other add-on in it would be lost; nor
// must a device or a file too large to be an EXE.xml.
bool readForUpdate(const std::string& path, std::string& bytes, std::string& error) {
    unsigned long code = 0;
    const platform::InputFile result = platform::readInputFile(path, bytes, code);
    if (result == platform::InputFile::Ok) return true;
    bytes.clear();
    if (result == platform::InputFile::NotFound || result == platform::InputFile::Folder)
        return true;
    const std::string refusal = platform::inputFileRefusal(result);
    error = "Failed to read: " + path + (refusal.empty() ? "" : " (" + refusal + ")");
    return false;
}

void backUp(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(fs::status(platform::toPath(path), ec))) return;
    unsigned long code = 0;
    if (platform::copyFile(path, path + ".bak", code)) return;
    logWarn("Failed to back up EXE.xml before writing: " + path + " (" +
            platform::systemErrorText(code) + ")");
}

// Swapping a file in for a link would cut the link off from the file it
// points to; the file it points to is replaced instead.
std::string replacementTarget(const std::string& path) {
    std::error_code ec;
    const fs::path link = platform::toPath(path);
    if (!fs::is_symlink(fs::symlink_status(link, ec))) return path;
    const fs::path resolved = fs::canonical(link, ec);
    return ec ? path : platform::fromPath(resolved);
}

void removeQuietly(const std::string& path) {
    std::error_code ec;
    fs::remove(platform::toPath(path), ec);
}

// Only a full path can be judged here: the simulator resolves others itself.
bool programMissing(const std::string& path) {
    if (path.empty()) return false;
    const fs::path program = platform::toPath(path);
    std::error_code ec;
    return program.is_absolute() && !fs::is_regular_file(fs::status(program, ec));
}

std::string refusalText(const exe_xml::Edit& edit, const std::string& path) {
    return "Not written, " + edit.refusal + ": " + path;
}

// The file's own text: a command line is shown safely, and cut at a length
// no real one reaches.
constexpr std::size_t kCommandLineLimit = 1024;

std::string registrationField(const ExeXmlInspection& file) {
    if (file.exists && (!file.readable || file.utf16)) return "not examined";
    const std::vector<std::string>& lines = file.commandLines;
    if (lines.empty()) return "not registered";
    std::string text = lines.size() == 1
                           ? std::string("registered: ")
                           : "registered " + std::to_string(lines.size()) + " times: ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += " | ";
        text += lines[i].empty() ? "(no command line)" : outsideText(lines[i], kCommandLineLimit);
    }
    return text;
}

std::string stateField(const ExeXmlInspection& file) {
    if (!file.exists) return "no file yet (--register creates it)";
    if (!file.readable) return "cannot be read";
    if (file.utf16) return "UTF-16 (save it as UTF-8)";
    if (file.xml.wellFormed) return "well-formed";
    return "not well-formed: line " + std::to_string(file.xml.position.line) + ", column " +
           std::to_string(file.xml.position.column) + ": " + file.xml.what;
}

}  // namespace

std::string exeXmlListLine(const ExeXmlInspection& inspection) {
    std::string line =
        inspection.path + "\t" + registrationField(inspection) + "\t" + stateField(inspection);
    for (const exe_xml::AddonEntry& entry : inspection.unseen) {
        line += "\tnot seen by the simulator: " + entry.name + " (line " +
                std::to_string(entry.line) + ", " + exe_xml::placementText(entry) + ")";
    }
    for (const exe_xml::AddonEntry& entry : inspection.missingPrograms) {
        line += "\tprogram missing: " + entry.name + " (line " + std::to_string(entry.line) +
                "): " + entry.executablePath;
    }
    return line;
}

ExeXmlRegistrar::ExeXmlRegistrar(EnvironmentLookup lookup) : lookup_(std::move(lookup)) {
    if (!lookup_) lookup_ = platform::getEnvironmentVariable;
}

std::vector<std::string> ExeXmlRegistrar::findInstallations() const {
    std::vector<std::string> candidates;
    const std::string local = lookup_("LOCALAPPDATA");
    if (!local.empty()) {
        for (const char* suffix : kLocalSuffixes)
            candidates.push_back(local + suffix);
    }
    const std::string roaming = lookup_("APPDATA");
    if (!roaming.empty()) {
        for (const char* suffix : kRoamingSuffixes)
            candidates.push_back(roaming + suffix);
    }
    std::vector<std::string> found;
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        const fs::path parent = platform::toPath(platform::parentPath(candidate));
        if (fs::exists(fs::status(parent, ec))) found.push_back(candidate);
    }
    return found;
}

std::int32_t ExeXmlRegistrar::registerAll(const std::string& name,
                                          const std::string& executablePath,
                                          const std::string& arguments, std::string& error) const {
    std::int32_t count = 0;
    for (const std::string& path : findInstallations()) {
        std::string document;
        if (!readForUpdate(path, document, error)) return count;
        const exe_xml::Edit edit = exe_xml::withEntry(document, name, executablePath, arguments);
        if (!edit.ok()) {
            error = refusalText(edit, path);
            return count;
        }
        // Already as wanted: rewriting would only overwrite the backup.
        if (edit.document != document && !writeWithBackup(path, edit.document, error)) {
            return count;
        }
        ++count;
    }
    return count;
}

std::int32_t ExeXmlRegistrar::unregisterAll(const std::string& name, std::string& error) const {
    std::int32_t count = 0;
    for (const std::string& path : findInstallations()) {
        // An existing file that cannot be read may still start the program:
        // reporting success would leave the user believing it was removed.
        std::string document;
        if (!readForUpdate(path, document, error)) return count;
        if (document.empty()) continue;
        const exe_xml::Edit edit = exe_xml::withoutEntry(document, name);
        if (!edit.ok()) {
            error = refusalText(edit, path);
            return count;
        }
        if (edit.document == document) continue;
        if (!writeWithBackup(path, edit.document, error)) return count;
        ++count;
    }
    return count;
}

std::vector<ExeXmlInspection> ExeXmlRegistrar::inspectAll(const std::string& name) const {
    std::vector<ExeXmlInspection> inspections;
    for (const std::string& path : findInstallations())
        inspections.push_back(inspect(path, name));
    return inspections;
}

ExeXmlInspection ExeXmlRegistrar::inspect(const std::string& path, const std::string& name) {
    ExeXmlInspection result;
    result.path = path;
    std::error_code ec;
    const fs::file_status status = fs::status(platform::toPath(path), ec);
    result.exists = fs::exists(status);
    std::string document;
    result.readable = fs::is_regular_file(status) && readWhole(path, document);
    if (!result.readable) return result;
    result.utf16 = exe_xml::looksUtf16(document);
    if (result.utf16) return result;
    result.xml = checkWellFormed(document);
    for (const EntryRange& entry : exe_xml::findEntries(document, name)) {
        result.commandLines.push_back(exe_xml::commandLineOf(document, entry));
        result.executablePaths.push_back(exe_xml::executablePathOf(document, entry));
    }
    for (exe_xml::AddonEntry& entry : exe_xml::listEntries(document)) {
        if (entry.placement != exe_xml::Placement::Seen) result.unseen.push_back(entry);
        if (programMissing(entry.executablePath))
            result.missingPrograms.push_back(std::move(entry));
    }
    return result;
}

std::string ExeXmlRegistrar::readFile(const std::string& path) {
    std::string bytes;
    return readWhole(path, bytes) ? bytes : std::string();
}

ExeXmlRegistrar::EntryRange ExeXmlRegistrar::findEntry(const std::string& document,
                                                       const std::string& name) {
    const std::vector<EntryRange> entries = exe_xml::findEntries(document, name);
    return entries.empty() ? EntryRange{} : entries.front();
}

std::string ExeXmlRegistrar::withEntry(const std::string& document, const std::string& name,
                                       const std::string& executablePath,
                                       const std::string& arguments) {
    return exe_xml::withEntry(document, name, executablePath, arguments).document;
}

std::string ExeXmlRegistrar::withoutEntry(const std::string& document, const std::string& name) {
    return exe_xml::withoutEntry(document, name).document;
}

bool ExeXmlRegistrar::writeWithBackup(const std::string& path, const std::string& document,
                                      std::string& error) {
    std::error_code ec;
    fs::create_directories(platform::toPath(path).parent_path(), ec);
    backUp(path);
    // The new text goes to a temporary file that is swapped in whole: a crash
    // or a full disk must never leave a half-written EXE.xml behind.
    const std::string target = replacementTarget(path);
    const std::string temporary = target + ".tmp";
    std::ofstream out(platform::toPath(temporary), std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        error = "Failed to open for write: " + path;
        return false;
    }
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
    out.close();
    if (!out) {
        removeQuietly(temporary);
        error = "Failed to write: " + path;
        return false;
    }
    unsigned long code = 0;
    if (!platform::replaceFile(temporary, target, code)) {
        // The original could not be replaced (a folder in its place, read-only,
        // locked): to the user that is the same as not opening it for writing.
        removeQuietly(temporary);
        error = "Failed to open for write: " + path;
        return false;
    }
    return true;
}
