#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Adds, replaces and removes the program's own Launch.Addon entry in the
// simulator's EXE.xml files, editing them as bytes and touching nothing
// outside the entry's lines. Each file is backed up (".bak") before it is
// replaced.
class ExeXmlRegistrar {
public:
    using EnvironmentLookup = std::function<std::string(const std::string&)>;

    struct EntryRange {
        bool found = false;
        std::size_t start = 0;  // first byte of the entry's first line
        std::size_t end = 0;    // one past the line end of its last line
    };

    // Environment variables come from `lookup` (the process environment by default).
    explicit ExeXmlRegistrar(EnvironmentLookup lookup = {});

    std::vector<std::string> findInstallations() const;
    std::int32_t registerAll(const std::string& name, const std::string& executablePath,
                             const std::string& arguments, std::string& error) const;
    std::int32_t unregisterAll(const std::string& name, std::string& error) const;

    static std::string readFile(const std::string& path);
    static EntryRange findEntry(const std::string& document, const std::string& name);
    static std::string withEntry(const std::string& document, const std::string& name,
                                 const std::string& executablePath, const std::string& arguments);
    static std::string withoutEntry(const std::string& document, const std::string& name);
    static bool writeWithBackup(const std::string& path, const std::string& document,
                                std::string& error);

private:
    EnvironmentLookup lookup_;
};
