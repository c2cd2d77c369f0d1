#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Typed commands driven from one table: each row has its names, an argument
// synopsis, a help line and a handler; the help text is generated from the
// rows, so adding a command touches only its row.
//
//   CommandTable table;
//   table.add("press", "NAME [PANEL]", "press and release a button",
//             [&](const CommandTable::Words& w) { ...; return true; });
//   table.add("quit", "", "stop the program", quit, {"exit"});  // hidden alias
//   table.runLine("press AP_HDG");  // nullopt: no such command
//
// Names match exactly (callers fold letter case first if they want to).
// A row may have several names ("on|off"): all are shown and all run the
// same handler, which sees the name used as words[0]. Not thread-safe:
// build it once, then run from one thread at a time (handlers may lock).
class CommandTable {
public:
    using Words = std::vector<std::string>;
    // What the handler returns is the table user's to define (go on, or
    // accepted).
    using Handler = std::function<bool(const Words& words)>;

    // `names`: one or more names separated by '|'. `hiddenAliases` run the
    // row too but are not shown. A row with an empty help line is not shown
    // in help() either. `subcommands` (may be null; must outlive this
    // table) are shown in help() as rows of their own, after this row's
    // names, instead of this row.
    CommandTable& add(const std::string& names, const std::string& arguments,
                      const std::string& help, Handler handler,
                      std::vector<std::string> hiddenAliases = {},
                      const CommandTable* subcommands = nullptr);

    // Runs the row named by words[0]; nullopt when words is empty or no row
    // has that name.
    std::optional<bool> run(const Words& words) const;
    // The same for a line split into words (split()).
    std::optional<bool> runLine(const std::string& line) const;

    // "  names arguments   help", one line per shown row, the help lines
    // aligned at `column` (or one blank after a longer synopsis).
    std::string help(std::size_t column = 32) const;
    // The first name of every shown row, in order.
    std::vector<std::string> primaryNames() const;
    // Every shown name with the row's arguments after its last name, joined
    // by `separator`: "present|absent|late [S]".
    std::string synopsis(const std::string& separator = "|") const;

    // Words at blanks; double quotes group blanks into a word and are
    // dropped (`"a b"` is one word a b, `""` an empty word). There are no
    // escapes, so Windows paths keep their backslashes; an unclosed quote
    // runs to the end of the line.
    static Words split(const std::string& line);

private:
    struct Row {
        std::vector<std::string> names;
        std::vector<std::string> hiddenAliases;
        std::string arguments;
        std::string help;
        Handler handler;
        const CommandTable* subcommands = nullptr;
    };

    const Row* find(const std::string& name) const;
    void appendHelp(std::string& text, const std::string& prefix, std::size_t column) const;

    std::vector<Row> rows_;
};
