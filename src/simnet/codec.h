#pragma once

// SimConnect messages to and from bytes, both directions.
//
// Each message is a plain struct whose fields() passes its body fields, in
// wire order, to one variadic visitor, so one generic reader and writer
// serve every message: adding a call means one struct and one entry in the
// variant below.
//
// Field kinds on the wire: std::uint32_t and float are 4 little-endian
// bytes; std::string is a 256-byte field (text, NUL, zeros); PathText the
// same in 260 bytes; Tag is 4 raw bytes; CountedBytes is a 4-byte count followed by that many bytes;
// TrailingBytes runs to the end of the message.
//
// Decoding is strict and never reads outside the given bytes: the size word
// must equal the number of bytes given, each message must have exactly its
// layout's size, string fields must hold a NUL with only zeros after it.
// So every message that decodes encodes back to the same bytes.
//
// Pure functions without shared state: any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "simnet/wire_protocol.h"

namespace simnet {

using Tag = std::array<std::uint8_t, 4>;

struct CountedBytes {
    std::vector<std::uint8_t> bytes;
};

struct TrailingBytes {
    std::vector<std::uint8_t> bytes;
};

// A text in a field of kPathFieldSize bytes (szFileName, szString).
struct PathText {
    std::string text;
};

// ---- client to server ----------------------------------------------------

struct OpenCall {
    static constexpr CallId kId = CallId::Open;
    static constexpr const char* kName = "Open";
    std::string name;
    std::uint32_t reserved = 0;
    Tag tag = kOpenTag;
    std::uint32_t versionMajor = kOpenVersionMajor;
    std::uint32_t versionMinor = kOpenVersionMinor;
    std::uint32_t buildMajor = kOpenBuildMajor;
    std::uint32_t buildMinor = kOpenBuildMinor;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.name, s.reserved, s.tag, s.versionMajor, s.versionMinor, s.buildMajor, s.buildMinor);
    }
};

struct MapClientEventToSimEventCall {
    static constexpr CallId kId = CallId::MapClientEventToSimEvent;
    static constexpr const char* kName = "MapClientEventToSimEvent";
    std::uint32_t eventId = 0;
    std::string eventName;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.eventId, s.eventName);
    }
};

struct TransmitClientEventCall {
    static constexpr CallId kId = CallId::TransmitClientEvent;
    static constexpr const char* kName = "TransmitClientEvent";
    std::uint32_t objectId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
    std::uint32_t groupId = 0;
    std::uint32_t flags = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.objectId, s.eventId, s.data, s.groupId, s.flags);
    }
};

struct AddToDataDefinitionCall {
    static constexpr CallId kId = CallId::AddToDataDefinition;
    static constexpr const char* kName = "AddToDataDefinition";
    std::uint32_t defineId = 0;
    std::string datumName;
    std::string unitsName;
    std::uint32_t datumType = 0;
    float epsilon = 0.0f;
    std::uint32_t datumId = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.defineId, s.datumName, s.unitsName, s.datumType, s.epsilon, s.datumId);
    }
};

struct RequestDataOnSimObjectCall {
    static constexpr CallId kId = CallId::RequestDataOnSimObject;
    static constexpr const char* kName = "RequestDataOnSimObject";
    std::uint32_t requestId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t objectId = 0;
    std::uint32_t period = 0;
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.requestId, s.defineId, s.objectId, s.period, s.flags, s.origin, s.interval, s.limit);
    }
};

struct MapClientDataNameToIdCall {
    static constexpr CallId kId = CallId::MapClientDataNameToID;
    static constexpr const char* kName = "MapClientDataNameToID";
    std::string name;
    std::uint32_t clientDataId = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.name, s.clientDataId);
    }
};

struct CreateClientDataCall {
    static constexpr CallId kId = CallId::CreateClientData;
    static constexpr const char* kName = "CreateClientData";
    std::uint32_t clientDataId = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.clientDataId, s.size, s.flags);
    }
};

struct AddToClientDataDefinitionCall {
    static constexpr CallId kId = CallId::AddToClientDataDefinition;
    static constexpr const char* kName = "AddToClientDataDefinition";
    std::uint32_t defineId = 0;
    std::uint32_t offset = 0;
    std::uint32_t sizeOrType = 0;
    float epsilon = 0.0f;
    std::uint32_t datumId = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.defineId, s.offset, s.sizeOrType, s.epsilon, s.datumId);
    }
};

struct RequestClientDataCall {
    static constexpr CallId kId = CallId::RequestClientData;
    static constexpr const char* kName = "RequestClientData";
    std::uint32_t clientDataId = 0;
    std::uint32_t requestId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t period = 0;
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.clientDataId, s.requestId, s.defineId, s.period, s.flags, s.origin, s.interval,
          s.limit);
    }
};

struct SetClientDataCall {
    static constexpr CallId kId = CallId::SetClientData;
    static constexpr const char* kName = "SetClientData";
    std::uint32_t clientDataId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t flags = 0;
    std::uint32_t reserved = 0;
    CountedBytes data;  // cbUnitSize and the bytes
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.clientDataId, s.defineId, s.flags, s.reserved, s.data);
    }
};

struct ClearDataDefinitionCall {
    static constexpr CallId kId = CallId::ClearDataDefinition;
    static constexpr const char* kName = "ClearDataDefinition";
    std::uint32_t defineId = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.defineId);
    }
};

struct SubscribeToSystemEventCall {
    static constexpr CallId kId = CallId::SubscribeToSystemEvent;
    static constexpr const char* kName = "SubscribeToSystemEvent";
    std::uint32_t eventId = 0;
    std::string name;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.eventId, s.name);
    }
};

struct UnsubscribeFromSystemEventCall {
    static constexpr CallId kId = CallId::UnsubscribeFromSystemEvent;
    static constexpr const char* kName = "UnsubscribeFromSystemEvent";
    std::uint32_t eventId = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.eventId);
    }
};

struct RequestSystemStateCall {
    static constexpr CallId kId = CallId::RequestSystemState;
    static constexpr const char* kName = "RequestSystemState";
    std::uint32_t requestId = 0;
    std::string name;  // the state
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.requestId, s.name);
    }
};

using Call =
    std::variant<OpenCall, MapClientEventToSimEventCall, TransmitClientEventCall,
                 AddToDataDefinitionCall, RequestDataOnSimObjectCall, MapClientDataNameToIdCall,
                 CreateClientDataCall, AddToClientDataDefinitionCall, RequestClientDataCall,
                 SetClientDataCall, ClearDataDefinitionCall, SubscribeToSystemEventCall,
                 UnsubscribeFromSystemEventCall, RequestSystemStateCall>;

struct ClientMessage {
    std::uint32_t version = kProtocolVersion;
    std::uint32_t sendId = 0;
    Call call;
};

CallId callId(const Call& call);
const char* callName(const Call& call);

// ---- server to client ----------------------------------------------------

struct RecvException {
    static constexpr RecvId kId = RecvId::Exception;
    std::uint32_t exception = 0;
    std::uint32_t sendId = 0;  // the offending message's send id
    std::uint32_t index = 0;   // the offending parameter
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.exception, s.sendId, s.index);
    }
};

struct RecvOpen {
    static constexpr RecvId kId = RecvId::Open;
    std::string applicationName;
    std::uint32_t applicationVersionMajor = 0;
    std::uint32_t applicationVersionMinor = 0;
    std::uint32_t applicationBuildMajor = 0;
    std::uint32_t applicationBuildMinor = 0;
    std::uint32_t simConnectVersionMajor = 0;
    std::uint32_t simConnectVersionMinor = 0;
    std::uint32_t simConnectBuildMajor = 0;
    std::uint32_t simConnectBuildMinor = 0;
    std::uint32_t reserved1 = 0;
    std::uint32_t reserved2 = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.applicationName, s.applicationVersionMajor, s.applicationVersionMinor,
          s.applicationBuildMajor, s.applicationBuildMinor, s.simConnectVersionMajor,
          s.simConnectVersionMinor, s.simConnectBuildMajor, s.simConnectBuildMinor, s.reserved1,
          s.reserved2);
    }
};

struct RecvQuit {
    static constexpr RecvId kId = RecvId::Quit;
    template <class S, class F>
    static void fields(S&, F&& f) {
        f();
    }
};

// SIMOBJECT_DATA and CLIENT_DATA: the same layout, the payload from byte 40
// to the end of the message.
struct RecvData {
    std::uint32_t requestId = 0;
    std::uint32_t objectId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t flags = 0;
    std::uint32_t entryNumber = 0;
    std::uint32_t outOf = 0;
    std::uint32_t defineCount = 0;
    TrailingBytes payload;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.requestId, s.objectId, s.defineId, s.flags, s.entryNumber, s.outOf, s.defineCount,
          s.payload);
    }
};

struct RecvSimObjectData : RecvData {
    static constexpr RecvId kId = RecvId::SimObjectData;
};

struct RecvClientData : RecvData {
    static constexpr RecvId kId = RecvId::ClientData;
};

// EVENT: a system event (group SIMCONNECT_UNKNOWN_GROUP) or a client event.
struct RecvEvent {
    static constexpr RecvId kId = RecvId::Event;
    std::uint32_t groupId = 0;
    std::uint32_t eventId = 0;  // the client's id from its subscription
    std::uint32_t data = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.groupId, s.eventId, s.data);
    }
};

struct RecvEventFilename {
    static constexpr RecvId kId = RecvId::EventFilename;
    std::uint32_t groupId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
    PathText fileName;
    std::uint32_t flags = 0;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.groupId, s.eventId, s.data, s.fileName, s.flags);
    }
};

struct RecvEventFrame {
    static constexpr RecvId kId = RecvId::EventFrame;
    std::uint32_t groupId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
    float frameRate = 0.0f;  // frames per second
    float simSpeed = 0.0f;   // 1.0 = real time
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.groupId, s.eventId, s.data, s.frameRate, s.simSpeed);
    }
};

struct RecvSystemState {
    static constexpr RecvId kId = RecvId::SystemState;
    std::uint32_t requestId = 0;
    std::uint32_t integer = 0;
    float number = 0.0f;
    PathText text;
    template <class S, class F>
    static void fields(S& s, F&& f) {
        f(s.requestId, s.integer, s.number, s.text);
    }
};

// Any other message id: passed on as it came.
struct RecvRaw {
    std::uint32_t id = 0;
    TrailingBytes body;
};

using Recv = std::variant<RecvException, RecvOpen, RecvQuit, RecvSimObjectData, RecvClientData,
                          RecvEvent, RecvEventFilename, RecvEventFrame, RecvSystemState, RecvRaw>;

struct ServerMessage {
    std::uint32_t version = kProtocolVersion;
    Recv body;
};

// ---- encoding and decoding -----------------------------------------------

enum class CodecError {
    None,
    Truncated,      // fewer bytes than the size word announces
    Undersized,     // size word below the header size
    Oversized,      // size word (or encoded size) above the bound
    SizeMismatch,   // size does not fit the message's layout
    NotACall,       // client message whose type lacks the call prefix
    UnknownCall,    // call id this codec does not know
    BadString,      // string field without NUL, or with bytes after it
    StringTooLong,  // text that does not fit its field with its NUL (256 or 260 bytes)
};

const char* describe(CodecError error);

// The size word at the start of a message; `data` must hold 4 bytes.
std::uint32_t readSizeWord(const std::uint8_t* data);

// On success `out` holds the message; on failure it is unspecified.
CodecError decodeClientMessage(const std::uint8_t* data, std::size_t size, ClientMessage& out);
CodecError decodeServerMessage(const std::uint8_t* data, std::size_t size, ServerMessage& out);

// On success `out` holds exactly the message's bytes; on failure it is
// unspecified. Refuses texts too long for their fields and messages above the
// direction's bound (kMaxClientMessageSize, kMaxServerMessageSize).
CodecError encodeClientMessage(const ClientMessage& message, std::vector<std::uint8_t>& out);
// The same for a call with the protocol version of this library, without
// copying the call into a ClientMessage first.
CodecError encodeCall(std::uint32_t sendId, const Call& call, std::vector<std::uint8_t>& out);
CodecError encodeServerMessage(const ServerMessage& message, std::vector<std::uint8_t>& out);

}  // namespace simnet
