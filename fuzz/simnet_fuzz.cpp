// SimConnect's network protocol on arbitrary bytes: the server's decoder
// (client messages), the client's decoder (server messages) and the stream
// framing both use. Beyond "no crash":
// - a message that decodes encodes back to exactly its bytes;
// - the framing yields the same messages and the same verdict whatever the
//   read boundaries, and never holds more than one unfinished message.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "simnet/codec.h"
#include "simnet/frame_assembler.h"
#include "simnet/wire_protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "simnet_fuzz: %s\n", what);
    std::abort();
}

void checkRoundTrips(const std::uint8_t* data, std::size_t size) {
    Bytes again;
    simnet::ClientMessage call;
    if (simnet::decodeClientMessage(data, size, call) == simnet::CodecError::None) {
        check(simnet::encodeClientMessage(call, again) == simnet::CodecError::None,
              "decoded call does not encode");
        check(again == Bytes(data, data + size), "call does not encode back to its bytes");
    }
    simnet::ServerMessage message;
    if (simnet::decodeServerMessage(data, size, message) == simnet::CodecError::None) {
        check(simnet::encodeServerMessage(message, again) == simnet::CodecError::None,
              "decoded server message does not encode");
        check(again == Bytes(data, data + size), "server message does not encode back");
    }
}

struct Framed {
    std::vector<Bytes> messages;
    bool broken = false;
};

// Feeds the bytes in chunks whose sizes come from `seed` (0: one chunk) and
// decodes every message it yields the way the receiving side does.
Framed frame(const std::uint8_t* data, std::size_t size, std::size_t minSize, std::size_t maxSize,
             std::uint32_t seed) {
    simnet::FrameAssembler assembler(minSize, maxSize);
    Framed out;
    const auto sink = [&](const std::uint8_t* message, std::size_t n) {
        check(n >= minSize && n <= maxSize, "frame outside the bounds");
        check(simnet::readSizeWord(message) == n, "frame size differs from its size word");
        out.messages.emplace_back(message, message + n);
        simnet::ClientMessage call;
        simnet::ServerMessage reply;
        (void)simnet::decodeClientMessage(message, n, call);
        (void)simnet::decodeServerMessage(message, n, reply);
        return true;
    };
    std::size_t pos = 0;
    while (pos < size && !out.broken) {
        std::size_t chunk = size - pos;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            chunk = std::min<std::size_t>(chunk, 1 + (seed >> 16) % 64);
        }
        out.broken = !assembler.feed(data + pos, chunk, sink);
        check(assembler.pending() <= maxSize, "framing holds more than one message");
        pos += chunk;
    }
    return out;
}

void checkFraming(const std::uint8_t* data, std::size_t size, std::size_t minSize,
                  std::size_t maxSize) {
    const Framed whole = frame(data, size, minSize, maxSize, 0);
    const std::uint32_t seed = size > 0 ? 1u + data[size - 1] : 1u;
    const Framed pieces = frame(data, size, minSize, maxSize, seed);
    check(whole.broken == pieces.broken, "read boundaries change the verdict");
    check(whole.messages == pieces.messages, "read boundaries change the messages");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkRoundTrips(data, size);
    checkFraming(data, size, simnet::kClientHeaderSize, simnet::kMaxClientMessageSize);
    checkFraming(data, size, simnet::kServerHeaderSize, simnet::kMaxServerMessageSize);
    return 0;
}
