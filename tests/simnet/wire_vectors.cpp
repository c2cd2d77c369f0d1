#include "wire_vectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "fakes/temp_dir.h"
#include "platform/paths.h"

namespace {

std::string dataFolder() {
    std::string folder = CORVANE_SOURCE_DIR;
    for (const char* part : {"tests", "data", "simconnect-wire"}) {
        folder = platform::joinPath(folder, part);
    }
    return folder;
}

std::vector<std::uint8_t> parseHex(const std::string& text) {
    std::string digits;
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits),
                 [](unsigned char c) { return std::isxdigit(c); });
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(' ');
    const std::size_t end = text.find_last_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// file name → {size column, decoded column}
std::map<std::string, std::pair<std::string, std::string>> readIndex() {
    std::map<std::string, std::pair<std::string, std::string>> rows;
    std::istringstream lines(readFileBytes(platform::joinPath(dataFolder(), "INDEX.md")));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("| ", 0) != 0) continue;
        std::vector<std::string> cells;
        std::size_t start = 1;
        for (int i = 0; i < 2; ++i) {
            const std::size_t bar = line.find(" | ", start);
            if (bar == std::string::npos) break;
            cells.push_back(trim(line.substr(start, bar - start)));
            start = bar + 3;
        }
        const std::size_t last = line.rfind(" |");
        if (cells.size() == 2 && last != std::string::npos && last >= start) {
            rows[cells[0]] = {cells[1], trim(line.substr(start, last - start))};
        }
    }
    return rows;
}

// key=value tokens; values may be 'quoted text', b'bytes' or bare words.
std::vector<std::pair<std::string, std::string>> tokenize(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t pos = 0;
    while ((pos = text.find_first_not_of(' ', pos)) != std::string::npos) {
        const std::size_t equals = text.find('=', pos);
        if (equals == std::string::npos) break;
        const std::string key = text.substr(pos, equals - pos);
        pos = equals + 1;
        std::string value;
        if (text.compare(pos, 2, "b'") == 0) {
            const std::size_t close = text.find('\'', pos + 2);
            value = text.substr(pos, close + 1 - pos);
            pos = close + 1;
        } else if (text[pos] == '\'') {
            std::size_t close = text.find("' ", pos + 1);
            if (close == std::string::npos && text.back() == '\'') close = text.size() - 1;
            // No closing quote: INDEX.md cut the text short ("...").
            value = close == std::string::npos ? text.substr(pos + 1)
                                               : text.substr(pos + 1, close - pos - 1);
            pos = close == std::string::npos ? text.size() : close + 1;
        } else {
            const std::size_t end = std::min(text.find(' ', pos), text.size());
            value = text.substr(pos, end - pos);
            pos = end;
        }
        fields.emplace_back(key, value);
    }
    return fields;
}

void parseDecoded(std::string text, WireVector& vector) {
    text = std::regex_replace(text, std::regex(R"(data\[(\d+)\])"), "data=$1");
    text =
        std::regex_replace(text, std::regex(R"(payload (\d+) bytes at offset 40)"), "payload=$1");
    std::smatch call;
    if (std::regex_search(text, call,
                          std::regex(R"(^(\w+) \(type (\w+), version (\d+), send id (\d+)\): )"))) {
        vector.kind = call[1];
        vector.header = {{"type", call[2]}, {"version", call[3]}, {"send id", call[4]}};
        vector.fields = tokenize(call.suffix());
        return;
    }
    const std::size_t space = text.find(' ');
    vector.kind = text.substr(0, space);
    if (space != std::string::npos) vector.fields = tokenize(text.substr(space + 1));
}

}  // namespace

std::vector<WireVector> loadWireVectors(const std::string& folder) {
    const auto index = readIndex();
    std::vector<std::string> names;
    const auto path = platform::toPath(platform::joinPath(dataFolder(), folder));
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.path().extension() == ".hex") {
            names.push_back(folder + "/" + platform::fromPath(entry.path().filename()));
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<WireVector> vectors;
    for (const std::string& name : names) {
        WireVector vector;
        vector.name = name;
        vector.bytes = parseHex(readFileBytes(platform::joinPath(
            dataFolder(), platform::joinPath(folder, name.substr(folder.size() + 1)))));
        const auto row = index.find(name);
        if (row == index.end()) {
            ADD_FAILURE() << name << " has no row in INDEX.md";
            continue;
        }
        EXPECT_EQ(row->second.first, std::to_string(vector.bytes.size())) << name;
        parseDecoded(row->second.second, vector);
        vectors.push_back(std::move(vector));
    }
    return vectors;
}

std::string canonicalValue(const std::string& value) {
    if (std::regex_match(value, std::regex("0x[0-9a-fA-F]+"))) {
        return std::to_string(std::stoull(value.substr(2), nullptr, 16));
    }
    if (std::regex_match(value, std::regex(R"(-?\d+\.\d+)"))) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", std::stod(value));
        return text;
    }
    return value;
}
