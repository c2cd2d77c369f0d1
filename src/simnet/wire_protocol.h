#pragma once

// The values of SimConnect's network protocol, named once. Everything on the
// wire is little-endian; every message starts with its own total size.

#include <array>
#include <cstddef>
#include <cstdint>

namespace simnet {

// Version 5 is the one the SDK's library of the 2020 simulator speaks; it
// never negotiates, so a client always sends these values.
constexpr std::uint32_t kProtocolVersion = 5;

// Client to server: size, protocol version, type, send id.
constexpr std::size_t kClientHeaderSize = 16;
// The type word is this prefix ORed with the call id.
constexpr std::uint32_t kCallTypePrefix = 0xF0000000u;
constexpr std::uint32_t kCallTypePrefixMask = 0xFF000000u;

// Server to client: size, version, message id (a SIMCONNECT_RECV).
constexpr std::size_t kServerHeaderSize = 12;

// Every string travels in a field of this many bytes: the text, a NUL, and
// zeros up to the end. 255 characters fit; 256 or more are refused.
constexpr std::size_t kStringFieldSize = 256;
// File names and state strings from the server travel in MAX_PATH fields,
// filled the same way.
constexpr std::size_t kPathFieldSize = 260;

// The library's send buffer: no client message is larger. A call that would
// need more is refused on the client side; a server treats a larger message
// as garbage.
constexpr std::size_t kMaxClientMessageSize = 41088;

// What a client accepts from a server. The largest legitimate message in
// this program's use is a CLIENT_DATA of the 8192-byte client-data maximum
// (8232 bytes); the bound leaves room for larger data definitions while
// keeping one message's buffer small.
constexpr std::size_t kMaxServerMessageSize = 65536;

// The Open message's fixed words, as the SDK's library sends them.
constexpr std::array<std::uint8_t, 4> kOpenTag = {0x00, 'H', 'K', 0x00};
constexpr std::uint32_t kOpenVersionMajor = 11;
constexpr std::uint32_t kOpenVersionMinor = 0;
constexpr std::uint32_t kOpenBuildMajor = 62651;
constexpr std::uint32_t kOpenBuildMinor = 3;

// Client calls this program makes (low bits of the type word).
enum class CallId : std::uint32_t {
    Open = 0x01,
    MapClientEventToSimEvent = 0x04,
    TransmitClientEvent = 0x05,
    AddToDataDefinition = 0x0C,
    ClearDataDefinition = 0x0D,
    RequestDataOnSimObject = 0x0E,
    SubscribeToSystemEvent = 0x17,
    UnsubscribeFromSystemEvent = 0x18,
    RequestSystemState = 0x35,
    MapClientDataNameToID = 0x37,
    CreateClientData = 0x38,
    AddToClientDataDefinition = 0x39,
    RequestClientData = 0x3B,
    SetClientData = 0x3C,
};

// Server messages this program handles (the SIMCONNECT_RECV_ID values).
enum class RecvId : std::uint32_t {
    Exception = 1,
    Open = 2,
    Quit = 3,
    Event = 4,
    EventFilename = 6,
    EventFrame = 7,
    SimObjectData = 8,
    SystemState = 15,
    ClientData = 16,
};

// The simulator's local named pipe, used when no address is configured.
constexpr const char* kSimulatorPipeName = R"(\\.\pipe\Microsoft Flight Simulator\SimConnect)";

}  // namespace simnet
