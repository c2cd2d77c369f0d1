#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream_transport.h"

namespace simnet {

// Where a SimConnect server listens: a TCP address and port, or a local
// named pipe (Windows).
struct Endpoint {
    enum class Transport { Tcp, Pipe };

    Transport transport = Transport::Tcp;
    std::string address;  // TCP: a host name or a numeric address
    std::uint16_t port = 0;
    platform::IpFamily family = platform::IpFamily::Any;
    std::string pipeName;  // Pipe

    static Endpoint tcp(const std::string& address, std::uint16_t port,
                        platform::IpFamily family = platform::IpFamily::Any);
    // The simulator's own pipe unless another name is given.
    static Endpoint pipe(const std::string& name = {});

    // "127.0.0.1:500" or the pipe name, for messages.
    std::string describe() const;
};

// ---- SimConnect.cfg ------------------------------------------------------
//
// The file is read as the SDK's library reads it: an INI file, section
// [SimConnect] for config index 0 and [SimConnect.N] for N > 0 (a section
// [SimConnect.0] does not serve index 0); keys Protocol, Address, Port.
// Section and key names are matched without regard to case; only the first
// section of that name and the first occurrence of a key count; names and
// values are trimmed of blanks, and a value in matching quotes loses them.
// Lines starting with ';' are comments.

// Keys (lower-case) and values of the index's section in one file.
using CfgValues = std::vector<std::pair<std::string, std::string>>;

std::string cfgSectionName(std::uint32_t configIndex);
CfgValues parseSimConnectCfg(const std::string& text, std::uint32_t configIndex);

// Files are read in order, a later file's keys overriding an earlier one's
// key by key. Returns the value of `key` (lower-case) after all files, if any.
std::optional<std::string> cfgValue(const std::vector<CfgValues>& files, const std::string& key);

// The TCP endpoint the merged keys name: Protocol IPv4 or IPv6 (any case),
// a non-empty Address and a Port of 1..65535 written in digits only.
// Nullopt with `why` when they name none (no cfg, Protocol=Pipe, a key
// missing or malformed).
std::optional<Endpoint> endpointFromCfg(const std::vector<CfgValues>& files, std::string& why);

// The files the SDK's library reads, in its order: Public Documents, the
// user's Documents, the current folder (each SimConnect.cfg; folders the
// system does not have are left out). Never the program's own folder.
std::vector<std::string> simConnectCfgPaths();

// The files the program reads: the SDK's, then SimConnect.cfg in the
// program's own folder (when given), whose keys win over theirs.
std::vector<std::string> programCfgPaths(const std::string& programFolder);

// A SimConnect.cfg that exists: where it is and what it holds.
struct CfgFile {
    std::string path;
    std::string text;
};

// The files of `paths` that can be read, in the same order.
std::vector<CfgFile> readCfgFiles(const std::vector<std::string>& paths);

// Where a connection goes, and what said so.
struct EndpointChoice {
    enum class Source {
        Configured,  // the program's own setting
        Cfg,         // the SimConnect.cfg files
        LocalPipe,   // nothing named an address; the simulator's pipe
        None,        // nothing named an address, and there are no pipes
    };
    Source source = Source::None;
    std::optional<Endpoint> endpoint;
    std::vector<std::string> cfgPaths;  // the cfg files found, in order
    // Files were found but name no TCP endpoint: why (endpointFromCfg's
    // text). Empty when none were found or they name one.
    std::string cfgProblem;
};

// In order: the configured endpoint, else the files' TCP endpoint, else the
// local pipe where pipes exist, else nothing. The files are not looked at
// when an endpoint is configured.
EndpointChoice chooseEndpoint(const std::optional<Endpoint>& configured,
                              const std::vector<CfgFile>& files, std::uint32_t configIndex,
                              bool pipesAvailable);

// chooseEndpoint()'s endpoint for `cfgTexts`, the contents of the files
// that exist, in order.
std::optional<Endpoint> resolveEndpoint(const std::optional<Endpoint>& configured,
                                        const std::vector<std::string>& cfgTexts,
                                        std::uint32_t configIndex, bool pipesAvailable);

// resolveEndpoint() on `configured`, the machine's cfg files (the SDK's
// places) and its pipe support; no file is read when `configured` is set.
std::optional<Endpoint> resolveEndpointForOpen(const std::optional<Endpoint>& configured,
                                               std::uint32_t configIndex);

}  // namespace simnet
