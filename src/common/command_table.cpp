#include "common/command_table.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

std::vector<std::string> splitNames(const std::string& names) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = names.find('|', start);
        result.push_back(names.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) return result;
        start = bar + 1;
    }
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

}  // namespace

CommandTable& CommandTable::add(const std::string& names, const std::string& arguments,
                                const std::string& help, Handler handler,
                                std::vector<std::string> hiddenAliases,
                                const CommandTable* subcommands) {
    rows_.push_back(Row{splitNames(names), std::move(hiddenAliases), arguments, help,
                        std::move(handler), subcommands});
    return *this;
}

const CommandTable::Row* CommandTable::find(const std::string& name) const {
    for (const Row& row : rows_) {
        const auto named = [&name](const std::vector<std::string>& list) {
            return std::find(list.begin(), list.end(), name) != list.end();
        };
        if (named(row.names) || named(row.hiddenAliases)) return &row;
    }
    return nullptr;
}

std::optional<bool> CommandTable::run(const Words& words) const {
    if (words.empty()) return std::nullopt;
    const Row* row = find(words[0]);
    if (!row) return std::nullopt;
    return row->handler(words);
}

std::optional<bool> CommandTable::runLine(const std::string& line) const {
    return run(split(line));
}

CommandTable::Words CommandTable::split(const std::string& line) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    Words words;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i == line.size()) return words;
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || !blank(line[i])); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else {
                word += line[i];
            }
        }
        words.push_back(std::move(word));
    }
}

void CommandTable::appendHelp(std::string& text, const std::string& prefix,
                              std::size_t column) const {
    for (const Row& row : rows_) {
        const std::string names = prefix + joined(row.names, "|");
        if (row.subcommands) {
            row.subcommands->appendHelp(text, names + " ", column);
            continue;
        }
        if (row.help.empty()) continue;
        std::string line = "  " + names + (row.arguments.empty() ? "" : " " + row.arguments);
        line.resize(std::max(line.size() + 1, column), ' ');
        text += (text.empty() ? "" : "\n") + line + row.help;
    }
}

std::string CommandTable::help(std::size_t column) const {
    std::string text;
    appendHelp(text, "", column);
    return text;
}

std::vector<std::string> CommandTable::primaryNames() const {
    std::vector<std::string> names;
    for (const Row& row : rows_) {
        if (!row.help.empty() || row.subcommands) names.push_back(row.names.front());
    }
    return names;
}

std::string CommandTable::synopsis(const std::string& separator) const {
    std::vector<std::string> parts;
    for (const Row& row : rows_) {
        if (row.help.empty() && !row.subcommands) continue;
        for (const std::string& name : row.names)
            parts.push_back(name);
        if (!row.arguments.empty()) parts.back() += " " + row.arguments;
    }
    return joined(parts, separator);
}
