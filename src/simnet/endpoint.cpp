#include "simnet/endpoint.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

#include "common/ascii.h"
#include "platform/documents.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "simnet/wire_protocol.h"

namespace simnet {

namespace {

constexpr const char* kCfgFileName = "SimConnect.cfg";
constexpr const char* kSectionBase = "SimConnect";

std::string lower(const std::string& text) {
    return toLowerAscii(text);
}

std::string trim(const std::string& text) {
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
    auto begin = std::find_if_not(text.begin(), text.end(), blank);
    auto end =
        std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), blank).base();
    return std::string(begin, end);
}

std::string unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The name inside "[name]", or nullopt when the line is no section header.
std::optional<std::string> sectionHeader(const std::string& line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

void addKey(CfgValues& values, const std::string& line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    const std::string key = lower(trim(line.substr(0, equals)));
    if (key.empty()) return;
    const bool seen = std::any_of(values.begin(), values.end(),
                                  [&](const auto& entry) { return entry.first == key; });
    if (!seen) values.emplace_back(key, unquote(trim(line.substr(equals + 1))));
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<platform::IpFamily> parseProtocol(const std::string& text) {
    const std::string value = lower(text);
    if (value == "ipv4") return platform::IpFamily::V4;
    if (value == "ipv6") return platform::IpFamily::V6;
    return std::nullopt;
}

// Only a regular file of at most platform::kMaxInputFileBytes is read;
// anything else counts as no file (this code also runs inside the drop-in
// library, which has no log).
std::string readWholeFile(const std::string& path, bool& found) {
    std::string text;
    unsigned long code = 0;
    found = platform::readInputFile(path, text, code) == platform::InputFile::Ok;
    return text;
}

}  // namespace

Endpoint Endpoint::tcp(const std::string& address, std::uint16_t port, platform::IpFamily family) {
    Endpoint endpoint;
    endpoint.transport = Transport::Tcp;
    endpoint.address = address;
    endpoint.port = port;
    endpoint.family = family;
    return endpoint;
}

Endpoint Endpoint::pipe(const std::string& name) {
    Endpoint endpoint;
    endpoint.transport = Transport::Pipe;
    endpoint.pipeName = name.empty() ? kSimulatorPipeName : name;
    return endpoint;
}

std::string Endpoint::describe() const {
    if (transport == Transport::Pipe) return pipeName;
    if (address.find(':') != std::string::npos) {
        return "[" + address + "]:" + std::to_string(port);
    }
    return address + ":" + std::to_string(port);
}

std::string cfgSectionName(std::uint32_t configIndex) {
    if (configIndex == 0) return kSectionBase;
    return std::string(kSectionBase) + "." + std::to_string(configIndex);
}

CfgValues parseSimConnectCfg(const std::string& text, std::uint32_t configIndex) {
    const std::string wanted = lower(cfgSectionName(configIndex));
    CfgValues values;
    bool inSection = false;
    std::istringstream lines(text);
    std::string raw;
    while (std::getline(lines, raw)) {
        const std::string line = trim(raw);
        if (line.empty() || line.front() == ';') continue;
        if (const auto name = sectionHeader(line)) {
            if (inSection) break;  // only the first section of the name counts
            inSection = lower(*name) == wanted;
        } else if (inSection) {
            addKey(values, line);
        }
    }
    return values;
}

std::optional<std::string> cfgValue(const std::vector<CfgValues>& files, const std::string& key) {
    std::optional<std::string> value;
    for (const CfgValues& file : files) {
        for (const auto& entry : file) {
            if (entry.first == key) value = entry.second;
        }
    }
    return value;
}

std::optional<Endpoint> endpointFromCfg(const std::vector<CfgValues>& files, std::string& why) {
    const auto protocol = cfgValue(files, "protocol");
    const auto address = cfgValue(files, "address");
    const auto port = cfgValue(files, "port");
    if (!protocol && !address && !port) {
        why = "no SimConnect.cfg settings";
        return std::nullopt;
    }
    const auto family = parseProtocol(protocol.value_or(""));
    if (!family) {
        why = "Protocol '" + protocol.value_or("") + "' is not IPv4 or IPv6";
        return std::nullopt;
    }
    if (address.value_or("").empty()) {
        why = "no Address";
        return std::nullopt;
    }
    const auto number = parsePort(port.value_or(""));
    if (!number) {
        why = "Port '" + port.value_or("") + "' is not a number from 1 to 65535";
        return std::nullopt;
    }
    return Endpoint::tcp(*address, *number, *family);
}

std::vector<std::string> simConnectCfgPaths() {
    std::vector<std::string> paths;
    for (const std::string& folder :
         {platform::publicDocumentsDir(), platform::userDocumentsDir(), platform::currentDir()}) {
        if (!folder.empty()) paths.push_back(platform::joinPath(folder, kCfgFileName));
    }
    return paths;
}

std::vector<std::string> programCfgPaths(const std::string& programFolder) {
    std::vector<std::string> paths = simConnectCfgPaths();
    if (!programFolder.empty()) paths.push_back(platform::joinPath(programFolder, kCfgFileName));
    return paths;
}

std::vector<CfgFile> readCfgFiles(const std::vector<std::string>& paths) {
    std::vector<CfgFile> files;
    for (const std::string& path : paths) {
        bool found = false;
        std::string text = readWholeFile(path, found);
        if (found) files.push_back({path, std::move(text)});
    }
    return files;
}

EndpointChoice chooseEndpoint(const std::optional<Endpoint>& configured,
                              const std::vector<CfgFile>& files, std::uint32_t configIndex,
                              bool pipesAvailable) {
    EndpointChoice choice;
    if (configured) {
        choice.source = EndpointChoice::Source::Configured;
        choice.endpoint = configured;
        return choice;
    }
    std::vector<CfgValues> values;
    for (const CfgFile& file : files) {
        values.push_back(parseSimConnectCfg(file.text, configIndex));
        choice.cfgPaths.push_back(file.path);
    }
    std::string why;
    if (auto endpoint = endpointFromCfg(values, why)) {
        choice.source = EndpointChoice::Source::Cfg;
        choice.endpoint = std::move(endpoint);
        return choice;
    }
    if (!files.empty()) choice.cfgProblem = why;
    if (pipesAvailable) {
        choice.source = EndpointChoice::Source::LocalPipe;
        choice.endpoint = Endpoint::pipe();
    }
    return choice;
}

std::optional<Endpoint> resolveEndpoint(const std::optional<Endpoint>& configured,
                                        const std::vector<std::string>& cfgTexts,
                                        std::uint32_t configIndex, bool pipesAvailable) {
    std::vector<CfgFile> files;
    for (const std::string& text : cfgTexts)
        files.push_back({{}, text});
    return chooseEndpoint(configured, files, configIndex, pipesAvailable).endpoint;
}

std::optional<Endpoint> resolveEndpointForOpen(const std::optional<Endpoint>& configured,
                                               std::uint32_t configIndex) {
    if (configured) return configured;  // no file is read then
    return chooseEndpoint(std::nullopt, readCfgFiles(simConnectCfgPaths()), configIndex,
                          platform::localPipesAvailable())
        .endpoint;
}

}  // namespace simnet
