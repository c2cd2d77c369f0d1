#include "addon/exe_xml_registrar.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "log/logger.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kOpenTag = "<Launch.Addon>";
constexpr std::string_view kCloseTag = "</Launch.Addon>";
constexpr std::string_view kNameTag = "<Name>";
constexpr std::string_view kNameCloseTag = "</Name>";
constexpr std::string_view kDocumentCloseTag = "</SimBase.Document>";

constexpr const char* kLocalSuffixes[] = {
    "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalCache\\EXE.xml",
    "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalState\\EXE.xml",
    "\\Packages\\Microsoft.Limitless_8wekyb3d8bbwe\\LocalCache\\EXE.xml",
};
constexpr const char* kRoamingSuffixes[] = {
    "\\Microsoft Flight Simulator\\EXE.xml",
    "\\Microsoft Flight Simulator 2024\\EXE.xml",
};

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

// First position p >= from where `needle` matches case-insensitively and ends
// at or before `limit`; npos when there is none.
std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from,
                       std::size_t limit = std::string_view::npos) {
    limit = std::min(limit, text.size());
    if (needle.size() > limit) return std::string_view::npos;
    const char first = lowerAscii(needle[0]);
    for (std::size_t p = from; p + needle.size() <= limit; ++p) {
        if (lowerAscii(text[p]) == first && equalsNoCase(text.substr(p, needle.size()), needle)) {
            return p;
        }
    }
    return std::string_view::npos;
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

std::size_t lineStart(std::string_view doc, std::size_t pos) {
    const std::size_t feed = pos == 0 ? std::string_view::npos : doc.rfind('\n', pos - 1);
    return feed == std::string_view::npos ? 0 : feed + 1;
}

// Where the entry's lines begin when a tag sits at `pos`: the start of its
// line, unless other text precedes it there. That text belongs to someone
// else, so the range then starts after it (taking only the indentation).
std::size_t rangeStart(std::string_view doc, std::size_t pos) {
    const std::size_t start = lineStart(doc, pos);
    if (allSpace(doc.substr(start, pos - start))) return start;
    while (isBlank(doc[pos - 1]))
        --pos;
    return pos;
}

// Where the entry's lines end after `blockEnd`: just past the line feed, or
// at the closing tag when other text follows it on the same line.
std::size_t rangeEnd(std::string_view doc, std::size_t blockEnd) {
    const std::size_t feed = doc.find('\n', blockEnd);
    const std::size_t lineEnd = feed == std::string_view::npos ? doc.size() : feed;
    if (!allSpace(doc.substr(blockEnd, lineEnd - blockEnd))) return blockEnd;
    return feed == std::string_view::npos ? doc.size() : feed + 1;
}

std::string_view entryName(std::string_view doc, std::size_t open, std::size_t blockEnd) {
    const std::size_t tag = findNoCase(doc, kNameTag, open, blockEnd);
    if (tag == std::string_view::npos) return {};
    const std::size_t from = tag + kNameTag.size();
    const std::size_t closing = findNoCase(doc, kNameCloseTag, from, blockEnd);
    if (closing == std::string_view::npos) return {};
    return trimmed(doc.substr(from, closing - from));
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

// Before the line of the document's closing tag, or at the end when it has none.
std::size_t insertionPoint(std::string_view doc) {
    const std::size_t tag = findNoCase(doc, kDocumentCloseTag, 0);
    return rangeStart(doc, tag == std::string_view::npos ? doc.size() : tag);
}

bool readWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in.is_open()) return false;
    char buffer[16384];
    for (;;) {
        in.read(buffer, sizeof buffer);
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (!in) break;
    }
    return in.eof() && !in.bad();
}

// A missing file reads as empty. An existing file that cannot be read must
// not be replaced by a fresh document: every other add-on in it would be lost.
bool readForUpdate(const std::string& path, std::string& bytes) {
    if (readWhole(path, bytes)) return true;
    bytes.clear();
    std::error_code ec;
    return !fs::is_regular_file(fs::status(platform::toPath(path), ec));
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

}  // namespace

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
        if (!readForUpdate(path, document)) {
            error = "Failed to read: " + path;
            return count;
        }
        if (!writeWithBackup(path, withEntry(document, name, executablePath, arguments), error)) {
            return count;
        }
        ++count;
    }
    return count;
}

std::int32_t ExeXmlRegistrar::unregisterAll(const std::string& name, std::string& error) const {
    std::int32_t count = 0;
    for (const std::string& path : findInstallations()) {
        const std::string document = readFile(path);
        if (document.empty()) continue;
        const std::string changed = withoutEntry(document, name);
        if (changed == document) continue;
        if (!writeWithBackup(path, changed, error)) return count;
        ++count;
    }
    return count;
}

std::string ExeXmlRegistrar::readFile(const std::string& path) {
    std::string bytes;
    return readWhole(path, bytes) ? bytes : std::string();
}

ExeXmlRegistrar::EntryRange ExeXmlRegistrar::findEntry(const std::string& document,
                                                       const std::string& name) {
    const std::string wanted = escape(name);
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = findNoCase(document, kOpenTag, pos);
        if (open == std::string::npos) return {};
        const std::size_t close = findNoCase(document, kCloseTag, open);
        if (close == std::string::npos) return {};
        // An element opened earlier and never closed is no element: the
        // closing tag belongs to the nearest opening tag before it.
        for (std::size_t next = findNoCase(document, kOpenTag, open + 1, close);
             next != std::string::npos; next = findNoCase(document, kOpenTag, next + 1, close)) {
            open = next;
        }
        const std::size_t blockEnd = close + kCloseTag.size();
        if (equalsNoCase(entryName(document, open, blockEnd), wanted)) {
            return {true, rangeStart(document, open), rangeEnd(document, blockEnd)};
        }
        pos = blockEnd;
    }
}

std::string ExeXmlRegistrar::withEntry(const std::string& document, const std::string& name,
                                       const std::string& executablePath,
                                       const std::string& arguments) {
    std::string result = allSpace(document) ? defaultDocument() : document;
    const std::string entry = entryText(name, executablePath, arguments);
    const EntryRange range = findEntry(result, name);
    if (range.found) {
        result.replace(range.start, range.end - range.start, entry);
    } else {
        result.insert(insertionPoint(result), entry);
    }
    return result;
}

std::string ExeXmlRegistrar::withoutEntry(const std::string& document, const std::string& name) {
    const EntryRange range = findEntry(document, name);
    if (!range.found) return document;
    std::string result = document;
    result.erase(range.start, range.end - range.start);
    return result;
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

std::string ExeXmlRegistrar::defaultDocument() {
    return "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n"
           "<SimBase.Document Type=\"SimConnect\" version=\"1,0\">\r\n"
           "    <Descr>SimConnect</Descr>\r\n"
           "    <Filename>EXE.xml</Filename>\r\n"
           "    <Disabled>False</Disabled>\r\n"
           "    <Launch.ManualLoad>False</Launch.ManualLoad>\r\n"
           "</SimBase.Document>\r\n";
}
