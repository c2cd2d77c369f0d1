#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

struct JsonValue;

// The per-control, per-action, per-role command table (the button file).
// Loaded once at start-up, then only read (from several threads, no lock).
class ButtonConfig {
public:
    // The role key whose text stands for every role without its own.
    static constexpr const char* kDefaultRole = "DEFAULT";

    // False leaves one of the documented texts in `error`. The table is
    // emptied only once the file is read and its root is an object; a fault
    // in an entry leaves the entries before it (the load counts as failed).
    bool load(const std::string& path, std::string& error);
    // `source` names the text's file in warnings (duplicate keys).
    bool loadFromText(const std::string& text, std::string& error,
                      const std::string& source = std::string());

    // The command text for (control, action, role), falling back to the
    // role "DEFAULT" per action; empty when there is none.
    std::string lookup(const std::string& controlName, const std::string& actionKey,
                       const std::string& role) const;

    // Whether the table holds the control (name compared after normalising).
    bool hasControl(const std::string& controlName) const;

    using RoleMap = std::unordered_map<std::string, std::string>;
    // For compiling the table: the texts of a normalised control name and
    // action key by normalised role key ("DEFAULT" for the fallback); null
    // when there are none. Every role key the table holds, each once.
    const RoleMap* roleTexts(const std::string& normalizedName,
                             const std::string& normalizedAction) const;
    std::vector<std::string> roleKeys() const;

private:
    bool readSection(const JsonValue& root, const std::string& section, std::string& error);
    bool readEntry(const JsonValue& entry, const std::string& section, std::size_t i,
                   std::string& error);

    using ActionMap = std::unordered_map<std::string, RoleMap>;
    std::unordered_map<std::string, ActionMap> controls_;
};
