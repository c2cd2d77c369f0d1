#include "app/launch_arguments.h"

namespace {

// A run of backslashes at `at`: before a quote they escape in pairs.
void takeBackslashes(const std::string& line, std::size_t& at, std::string& argument) {
    const std::size_t first = at;
    while (at < line.size() && line[at] == '\\')
        ++at;
    const std::size_t count = at - first;
    if (at >= line.size() || line[at] != '"') {
        argument.append(count, '\\');
        return;
    }
    argument.append(count / 2, '\\');
    if (count % 2 == 1) {
        argument += '"';
        ++at;
    }
}

// One argument from `at`, quotes and backslashes resolved; `at` ends after it.
std::string nextArgument(const std::string& line, std::size_t& at) {
    std::string argument;
    bool quoted = false;
    while (at < line.size()) {
        const char c = line[at];
        if (!quoted && (c == ' ' || c == '\t')) break;
        if (c == '\\') {
            takeBackslashes(line, at, argument);
            continue;
        }
        if (c == '"' && quoted && line.compare(at, 2, "\"\"") == 0) {
            argument += '"';
            at += 2;
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
        } else {
            argument += c;
        }
        ++at;
    }
    return argument;
}

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    std::size_t at = 0;
    for (;;) {
        at = commandLine.find_first_not_of(" \t", at);
        if (at == std::string::npos) return arguments;
        arguments.push_back(nextArgument(commandLine, at));
    }
}
