// The message codec against the captured messages, and its refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
    Fields operator()(const RecvRaw& m) const { return {{"id", num(m.id)}}; }
};

std::string recvKind(const Recv& body) {
    static const char* const kinds[] = {"EXCEPTION",      "OPEN",        "QUIT",
                                        "SIMOBJECT_DATA", "CLIENT_DATA", "RAW"};
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
    for (const char* folder : {"c2s", "c2s-edge"}) {
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
    EXPECT_EQ(total, 21u + 13u);
}

TEST(WireVectors, ServerMessagesDecodeToTheirIndexFieldsAndEncodeBackByteForByte) {
    const std::vector<WireVector> vectors = loadWireVectors("s2c");
    EXPECT_EQ(vectors.size(), 8u);
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

// Every cut of every message: a short read says Truncated; a message whose
// size word agrees with the cut is too small for its layout (only the data
// messages, whose payload runs to the end, stay valid from 40 bytes on).
// Under ASan an over-read would stop the test.
TEST(Codec, ShortMessagesAreErrorsInBothDirections) {
    for (const char* folder : {"c2s", "s2c"}) {
        const bool calls = std::string(folder) == "c2s";
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

    ServerMessage big{kProtocolVersion, RecvClientData{}};
    std::get<RecvClientData>(big.body).payload.bytes.resize(kMaxServerMessageSize - 39);
    EXPECT_EQ(encodeServerMessage(big, out), CodecError::Oversized);
}

}  // namespace
