// The message codec against the captured messages, and its refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "simnet/codec.h"
#include "wire_vectors.h"

namespace {

using namespace simnet;
using Fields = std::vector<std::pair<std::string, std::string>>;
using Bytes = std::vector<std::uint8_t>;

std::string num(std::uint32_t value) {
    return std::to_string(value);
}

std::string flt(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    return text;
}

std::string version(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return num(a) + "." + num(b) + "." + num(c) + "." + num(d);
}

// Python's bytes notation, as INDEX.md writes the Open tag.
std::string bytesText(const Tag& tag) {
    std::string text = "b'";
    for (std::uint8_t b : tag) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", b);
        text += (b >= 0x20 && b < 0x7F) ? std::string(1, static_cast<char>(b)) : hex;
    }
    return text + "'";
}

std::string textUpToNul(const Bytes& bytes) {
    const auto nul = std::find(bytes.begin(), bytes.end(), 0);
    return std::string(bytes.begin(), nul);
}

Fields dataFields(const RecvData& d) {
    return {{"dwRequestID", num(d.requestId)},
            {"dwObjectID", num(d.objectId)},
            {"dwDefineID", num(d.defineId)},
            {"dwFlags", num(d.flags)},
            {"entry", num(d.entryNumber)},
            {"outof", num(d.outOf)},
            {"dwDefineCount", num(d.defineCount)},
            {"payload", num(static_cast<std::uint32_t>(d.payload.bytes.size()))}};
}

// Our decoded fields under the names INDEX.md gives them.
struct IndexNames {
    Fields operator()(const OpenCall& c) const {
        return {{"name", c.name},
                {"dword256", num(c.reserved)},
                {"tag", bytesText(c.tag)},
                {"version", version(c.versionMajor, c.versionMinor, c.buildMajor, c.buildMinor)}};
    }
    Fields operator()(const MapClientEventToSimEventCall& c) const {
        return {{"EventID", num(c.eventId)}, {"EventName", c.eventName}};
    }
    Fields operator()(const TransmitClientEventCall& c) const {
        return {{"ObjectID", num(c.objectId)},
                {"EventID", num(c.eventId)},
                {"dwData", num(c.data)},
                {"GroupID", num(c.groupId)},
                {"Flags", num(c.flags)}};
    }
    Fields operator()(const AddToDataDefinitionCall& c) const {
        return {{"DefineID", num(c.defineId)}, {"Datum", c.datumName},
                {"Units", c.unitsName},        {"Type", num(c.datumType)},
                {"Epsilon", flt(c.epsilon)},   {"DatumID", num(c.datumId)}};
    }
    Fields operator()(const RequestDataOnSimObjectCall& c) const {
        return {{"RequestID", num(c.requestId)}, {"DefineID", num(c.defineId)},
                {"ObjectID", num(c.objectId)},   {"Period", num(c.period)},
                {"Flags", num(c.flags)},         {"origin", num(c.origin)},
                {"interval", num(c.interval)},   {"limit", num(c.limit)}};
    }
    Fields operator()(const MapClientDataNameToIdCall& c) const {
        return {{"Name", c.name}, {"ClientDataID", num(c.clientDataId)}};
    }
    Fields operator()(const CreateClientDataCall& c) const {
        return {{"ClientDataID", num(c.clientDataId)},
                {"dwSize", num(c.size)},
                {"Flags", num(c.flags)}};
    }
    Fields operator()(const AddToClientDataDefinitionCall& c) const {
        return {{"DefineID", num(c.defineId)},
                {"dwOffset", num(c.offset)},
                {"dwSizeOrType", num(c.sizeOrType)},
                {"Epsilon", flt(c.epsilon)},
                {"DatumID", num(c.datumId)}};
    }
    Fields operator()(const RequestClientDataCall& c) const {
        return {{"ClientDataID", num(c.clientDataId)},
                {"RequestID", num(c.requestId)},
                {"DefineID", num(c.defineId)},
                {"Period", num(c.period)},
                {"Flags", num(c.flags)},
                {"origin", num(c.origin)},
                {"interval", num(c.interval)},
                {"limit", num(c.limit)}};
    }
    Fields operator()(const SetClientDataCall& c) const {
        const auto size = num(static_cast<std::uint32_t>(c.data.bytes.size()));
        return {{"ClientDataID", num(c.clientDataId)},
                {"DefineID", num(c.defineId)},
                {"Flags", num(c.flags)},
                {"dwReserved", num(c.reserved)},
                {"cbUnitSize", size},
                {"data", size},
                {"text", textUpToNul(c.data.bytes)}};
    }
    Fields operator()(const ClearDataDefinitionCall& c) const {
        return {{"DefineID", num(c.defineId)}};
    }
    Fields operator()(const SubscribeToSystemEventCall& c) const {
        return {{"EventID", num(c.eventId)}, {"Name", c.name}};
    }
    Fields operator()(const UnsubscribeFromSystemEventCall& c) const {
        return {{"EventID", num(c.eventId)}};
    }
    Fields operator()(const RequestSystemStateCall& c) const {
        return {{"RequestID", num(c.requestId)}, {"Name", c.name}};
    }
    Fields operator()(const RecvException& m) const {
        return {{"dwException", num(m.exception)},
                {"dwSendID", num(m.sendId)},
                {"dwIndex", num(m.index)}};
    }
    Fields operator()(const RecvOpen& m) const {
        return {{"app", m.applicationName},
                {"app", version(m.applicationVersionMajor, m.applicationVersionMinor,
                                m.applicationBuildMajor, m.applicationBuildMinor)},
                {"simconnect", version(m.simConnectVersionMajor, m.simConnectVersionMinor,
                                       m.simConnectBuildMajor, m.simConnectBuildMinor)}};
    }
    Fields operator()(const RecvQuit&) const { return {}; }
    Fields operator()(const RecvSimObjectData& m) const { return dataFields(m); }
    Fields operator()(const RecvClientData& m) const { return dataFields(m); }
    // INDEX.md names no fields of these; AircraftMessages checks them.
    Fields operator()(const RecvEvent&) const { return {}; }
    Fields operator()(const RecvEventFilename&) const { return {}; }
    Fields operator()(const RecvEventFrame&) const { return {}; }
    Fields operator()(const RecvSystemState&) const { return {}; }
    Fields operator()(const RecvRaw& m) const { return {{"id", num(m.id)}}; }
};

std::string recvKind(const Recv& body) {
    static const char* const kinds[] = {
        "EXCEPTION", "OPEN",           "QUIT",        "SIMOBJECT_DATA", "CLIENT_DATA",
        "EVENT",     "EVENT_FILENAME", "EVENT_FRAME", "SYSTEM_STATE",   "RAW"};
    static_assert(std::size(kinds) == std::variant_size_v<Recv>, "one kind per message");
    return kinds[body.index()];
}

void expectFields(const WireVector& vector, const Fields& ours) {
    ASSERT_EQ(ours.size(), vector.fields.size()) << vector.name;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const auto& [key, expected] = vector.fields[i];
        EXPECT_EQ(ours[i].first, key) << vector.name;
        const bool cut =
            expected.size() >= 3 && expected.compare(expected.size() - 3, 3, "...") == 0;
        if (cut) {
            EXPECT_EQ(ours[i].second.rfind(expected.substr(0, expected.size() - 3), 0), 0u)
                << vector.name << " " << key;
        } else {
            EXPECT_EQ(canonicalValue(ours[i].second), canonicalValue(expected))
                << vector.name << " " << key;
        }
    }
}

Bytes withWord(Bytes bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

CodecError decodeCall(const Bytes& bytes) {
    ClientMessage message;
    return decodeClientMessage(bytes.data(), bytes.size(), message);
}

CodecError decodeRecv(const Bytes& bytes) {
    ServerMessage message;
    return decodeServerMessage(bytes.data(), bytes.size(), message);
}

const WireVector& findVector(const std::vector<WireVector>& vectors, const std::string& part) {
    for (const WireVector& v : vectors) {
        if (v.name.find(part) != std::string::npos) return v;
    }
    throw std::runtime_error("no vector " + part);
}

TEST(WireVectors, ClientCallsDecodeToTheirIndexFieldsAndEncodeBackByteForByte) {
    std::size_t total = 0;
    for (const char* folder : {"c2s", "c2s-edge", "c2s-aircraft"}) {
        const std::vector<WireVector> vectors = loadWireVectors(folder);
        total += vectors.size();
        for (const WireVector& v : vectors) {
            ClientMessage message;
            ASSERT_EQ(decodeClientMessage(v.bytes.data(), v.bytes.size(), message),
                      CodecError::None)
                << v.name;
            EXPECT_EQ(callName(message.call), v.kind) << v.name;
            const std::uint32_t type =
                0xF0000000u | static_cast<std::uint32_t>(callId(message.call));
            ASSERT_EQ(v.header.size(), 3u) << v.name;
            EXPECT_EQ(num(type), canonicalValue(v.header[0].second)) << v.name;
            EXPECT_EQ(num(message.version), v.header[1].second) << v.name;
            EXPECT_EQ(num(message.sendId), v.header[2].second) << v.name;
            expectFields(v, std::visit(IndexNames{}, message.call));

            // Sent as a call with the file's send id (the number its name starts with).
            const std::uint32_t fileSendId =
                static_cast<std::uint32_t>(std::stoul(v.name.substr(v.name.find('/') + 1, 2)));
            Bytes encoded;
            ASSERT_EQ(encodeCall(fileSendId, message.call, encoded), CodecError::None) << v.name;
            EXPECT_EQ(encoded, v.bytes) << v.name;
        }
    }
    EXPECT_EQ(total, 21u + 13u + 17u);
}

std::vector<WireVector> serverVectors() {
    std::vector<WireVector> vectors = loadWireVectors("s2c");
    for (WireVector& v : loadWireVectors("s2c-aircraft"))
        vectors.push_back(std::move(v));
    return vectors;
}

template <class T>
T decodedAs(const std::vector<WireVector>& vectors, const std::string& part) {
    const Bytes& bytes = findVector(vectors, part).bytes;
    ServerMessage message;
    EXPECT_EQ(decodeServerMessage(bytes.data(), bytes.size(), message), CodecError::None) << part;
    EXPECT_TRUE(std::holds_alternative<T>(message.body)) << part;
    return std::holds_alternative<T>(message.body) ? std::get<T>(message.body) : T{};
}

TEST(WireVectors, ServerMessagesDecodeToTheirIndexFieldsAndEncodeBackByteForByte) {
    const std::vector<WireVector> vectors = serverVectors();
    EXPECT_EQ(vectors.size(), 8u + 9u);
    for (const WireVector& v : vectors) {
        ServerMessage message;
        ASSERT_EQ(decodeServerMessage(v.bytes.data(), v.bytes.size(), message), CodecError::None)
            << v.name;
        EXPECT_EQ(recvKind(message.body), v.kind) << v.name;
        expectFields(v, std::visit(IndexNames{}, message.body));
        Bytes encoded;
        ASSERT_EQ(encodeServerMessage(message, encoded), CodecError::None) << v.name;
        EXPECT_EQ(encoded, v.bytes) << v.name;
    }
}

TEST(WireVectors, AircraftMessagesCarryTheirEventsStatesAndStrings) {
    const std::vector<WireVector> vectors = loadWireVectors("s2c-aircraft");
    const std::string path = R"(SimObjects\Airplanes\Asobo_C172SP_AS1000\aircraft.CFG)";

    const auto loaded = decodedAs<RecvEventFilename>(vectors, "EVENT_FILENAME_AircraftLoaded");
    EXPECT_EQ(loaded.groupId, 0xFFFFFFFFu);
    EXPECT_EQ(loaded.eventId, 1u);
    EXPECT_EQ(loaded.fileName.text, path);
    EXPECT_EQ(loaded.flags, 0u);

    const auto frame = decodedAs<RecvEventFrame>(vectors, "EVENT_FRAME");
    EXPECT_EQ(frame.eventId, 7u);
    EXPECT_FLOAT_EQ(frame.frameRate, 29.5f);
    EXPECT_FLOAT_EQ(frame.simSpeed, 1.0f);

    const auto pause = decodedAs<RecvEvent>(vectors, "EVENT_Pause_1");
    const auto sim = decodedAs<RecvEvent>(vectors, "EVENT_Sim_1");
    const auto start = decodedAs<RecvEvent>(vectors, "EVENT_SimStart");
    EXPECT_EQ(std::vector<std::uint32_t>({pause.eventId, pause.data, sim.eventId, sim.data,
                                          start.eventId, start.data, start.groupId}),
              std::vector<std::uint32_t>({6, 1, 4, 1, 2, 0, 0xFFFFFFFFu}));

    const auto aircraft = decodedAs<RecvSystemState>(vectors, "SYSTEM_STATE_AircraftLoaded");
    EXPECT_EQ(aircraft.requestId, 10u);
    EXPECT_EQ(aircraft.text.text, path);
    const auto running = decodedAs<RecvSystemState>(vectors, "SYSTEM_STATE_Sim_1");
    EXPECT_EQ(running.requestId, 11u);
    EXPECT_EQ(running.integer, 1u);
    EXPECT_EQ(running.text.text, "");

    // Strings packed in the order of definition: TITLE's 256 bytes, then ATC MODEL's 32.
    const auto strings = decodedAs<RecvSimObjectData>(vectors, "title_model");
    ASSERT_EQ(strings.payload.bytes.size(), 256u + 32u);
    EXPECT_EQ(textUpToNul(strings.payload.bytes), "Cessna Skyhawk G1000 Asobo");
    EXPECT_EQ(textUpToNul(Bytes(strings.payload.bytes.begin() + 256, strings.payload.bytes.end())),
              "TT:ATCCOM.AC_MODEL_C172.0.text");
}

// Every cut of every message: a short read says Truncated; a message whose
// size word agrees with the cut is too small for its layout (only the data
// messages, whose payload runs to the end, stay valid from 40 bytes on).
// Under ASan an over-read would stop the test.
TEST(Codec, ShortMessagesAreErrorsInBothDirections) {
    for (const char* folder : {"c2s", "s2c", "c2s-aircraft", "s2c-aircraft"}) {
        const bool calls = std::string(folder).rfind("c2s", 0) == 0;
        for (const WireVector& v : loadWireVectors(folder)) {
            if (v.bytes.size() > 2048) continue;
            const bool openEnded = v.kind.find("_DATA") != std::string::npos;
            for (std::size_t n = 0; n < v.bytes.size(); ++n) {
                const Bytes cut(v.bytes.begin(), v.bytes.begin() + n);
                EXPECT_EQ(calls ? decodeCall(cut) : decodeRecv(cut), CodecError::Truncated)
                    << v.name << " cut to " << n;
                if (n < 4) continue;
                const Bytes shrunk = withWord(cut, 0, static_cast<std::uint32_t>(n));
                const CodecError e = calls ? decodeCall(shrunk) : decodeRecv(shrunk);
                EXPECT_EQ(e == CodecError::None, openEnded && n >= 40)
                    << v.name << " shrunk to " << n;
            }
        }
    }
}

TEST(Codec, RefusesMalformedCalls) {
    const auto vectors = loadWireVectors("c2s");
    const Bytes transmit = findVector(vectors, "05_TransmitClientEvent").bytes;
    const Bytes mapEvent = findVector(vectors, "04_MapClientEventToSimEvent").bytes;
    const Bytes setData = findVector(vectors, "16_SetClientData").bytes;

    EXPECT_EQ(decodeCall(withWord(transmit, 0, 0)), CodecError::Undersized);
    EXPECT_EQ(decodeCall(withWord(transmit, 0, 15)), CodecError::Undersized);
    EXPECT_EQ(decodeCall(withWord(transmit, 0, 0x80000000u)), CodecError::Oversized);
    EXPECT_EQ(decodeCall(withWord(transmit, 0, kMaxClientMessageSize + 1)), CodecError::Oversized);
    EXPECT_EQ(decodeCall(withWord(transmit, 8, 0x00000005u)), CodecError::NotACall);
    EXPECT_EQ(decodeCall(withWord(transmit, 8, 0xF0000002u)), CodecError::UnknownCall);

    Bytes longer = transmit;
    longer.insert(longer.end(), 4, 0);
    EXPECT_EQ(decodeCall(longer), CodecError::SizeMismatch);  // size word disagrees
    EXPECT_EQ(decodeCall(withWord(longer, 0, 40)), CodecError::SizeMismatch);  // layout disagrees

    // The count inside SetClientData must match the bytes that follow.
    EXPECT_EQ(decodeCall(withWord(setData, 32, 257)), CodecError::SizeMismatch);
    EXPECT_EQ(decodeCall(withWord(setData, 32, 255)), CodecError::SizeMismatch);
    EXPECT_EQ(decodeCall(withWord(setData, 32, 0xFFFFFFFFu)), CodecError::SizeMismatch);

    Bytes unterminated = mapEvent;
    std::fill(unterminated.begin() + 20, unterminated.end(), 'A');
    EXPECT_EQ(decodeCall(unterminated), CodecError::BadString);
    Bytes tail = mapEvent;
    tail.back() = 'X';  // after the NUL
    EXPECT_EQ(decodeCall(tail), CodecError::BadString);
}

TEST(Codec, RefusesMalformedServerMessagesAndPassesUnknownIdsRaw) {
    const auto vectors = loadWireVectors("s2c");
    const Bytes exception = findVector(vectors, "RECV_EXCEPTION").bytes;
    const Bytes data = findVector(vectors, "battery_on").bytes;

    EXPECT_EQ(decodeRecv(withWord(exception, 0, 11)), CodecError::Undersized);
    EXPECT_EQ(decodeRecv(withWord(exception, 0, kMaxServerMessageSize + 1)), CodecError::Oversized);
    Bytes shortException(exception.begin(), exception.begin() + 20);
    EXPECT_EQ(decodeRecv(withWord(shortException, 0, 20)), CodecError::SizeMismatch);
    Bytes headerOnly(data.begin(), data.begin() + 39);
    EXPECT_EQ(decodeRecv(withWord(headerOnly, 0, 39)), CodecError::SizeMismatch);
    Bytes emptyPayload(data.begin(), data.begin() + 40);
    EXPECT_EQ(decodeRecv(withWord(emptyPayload, 0, 40)), CodecError::None);

    // A 260-byte text field must end in zeros, as the 256-byte ones.
    Bytes state = findVector(loadWireVectors("s2c-aircraft"), "SYSTEM_STATE_Sim_1").bytes;
    state.back() = 'X';
    EXPECT_EQ(decodeRecv(state), CodecError::BadString);

    const Bytes unknown = withWord(withWord(data, 8, 99), 4, 6);
    ServerMessage message;
    ASSERT_EQ(decodeServerMessage(unknown.data(), unknown.size(), message), CodecError::None);
    ASSERT_TRUE(std::holds_alternative<RecvRaw>(message.body));
    EXPECT_EQ(std::get<RecvRaw>(message.body).id, 99u);
    EXPECT_EQ(message.version, 6u);
    Bytes encoded;
    ASSERT_EQ(encodeServerMessage(message, encoded), CodecError::None);
    EXPECT_EQ(encoded, unknown);
}

TEST(Codec, EncodingRefusesLongTextsAndMessagesAboveTheSendBuffer) {
    Bytes out;
    EXPECT_EQ(encodeCall(2, MapClientEventToSimEventCall{1, std::string(255, 'B')}, out),
              CodecError::None);
    EXPECT_EQ(out.size(), 276u);
    EXPECT_EQ(encodeCall(2, MapClientEventToSimEventCall{1, std::string(256, 'B')}, out),
              CodecError::StringTooLong);
    EXPECT_EQ(encodeCall(2, AddToDataDefinitionCall{1, "A", std::string(300, 'U'), 1, 0, 0}, out),
              CodecError::StringTooLong);

    // 36 bytes of header and fields: 41,052 data bytes fill the send buffer exactly.
    SetClientDataCall set{0x1000, 0x1100, 0, 0, {Bytes(41052, 'A')}};
    EXPECT_EQ(encodeCall(3, set, out), CodecError::None);
    EXPECT_EQ(out.size(), kMaxClientMessageSize);
    set.data.bytes.push_back('A');
    EXPECT_EQ(encodeCall(3, set, out), CodecError::Oversized);
    EXPECT_LE(out.size(), kMaxClientMessageSize);

    // File names and states have 260-byte fields: 259 characters fit.
    ServerMessage state{kProtocolVersion, RecvSystemState{1, 0, 0.0f, {std::string(259, 'P')}}};
    EXPECT_EQ(encodeServerMessage(state, out), CodecError::None);
    EXPECT_EQ(out.size(), 284u);
    std::get<RecvSystemState>(state.body).text.text += 'P';
    EXPECT_EQ(encodeServerMessage(state, out), CodecError::StringTooLong);

    ServerMessage big{kProtocolVersion, RecvClientData{}};
    std::get<RecvClientData>(big.body).payload.bytes.resize(kMaxServerMessageSize - 39);
    EXPECT_EQ(encodeServerMessage(big, out), CodecError::Oversized);
}

}  // namespace
