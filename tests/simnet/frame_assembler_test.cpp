// Cutting byte streams into messages, whatever the read boundaries.

#include <gtest/gtest.h>

#include <random>

#include "simnet/frame_assembler.h"
#include "simnet/wire_protocol.h"
#include "wire_vectors.h"

namespace {

using simnet::FrameAssembler;
using Bytes = std::vector<std::uint8_t>;

struct Collected {
    std::vector<Bytes> messages;
    FrameAssembler::FrameSink sink() {
        return [this](const std::uint8_t* data, std::size_t size) {
            messages.emplace_back(data, data + size);
            return true;
        };
    }
};

FrameAssembler clientStream() {
    return FrameAssembler(simnet::kClientHeaderSize, simnet::kMaxClientMessageSize);
}

Bytes header(std::uint32_t size) {
    return {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
}

TEST(FrameAssembler, YieldsTheSameMessagesForAnyReadBoundaries) {
    std::vector<Bytes> expected;
    Bytes stream;
    for (const char* folder : {"c2s", "c2s-edge"}) {
        for (const WireVector& v : loadWireVectors(folder)) {
            expected.push_back(v.bytes);
            stream.insert(stream.end(), v.bytes.begin(), v.bytes.end());
        }
    }
    std::mt19937 random(7);
    for (const std::size_t maxChunk :
         {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{17}, std::size_t{5000}}) {
        FrameAssembler assembler = clientStream();
        Collected got;
        const auto sink = got.sink();
        std::size_t pos = 0;
        while (pos < stream.size()) {
            std::size_t n = 1 + random() % maxChunk;
            n = std::min(n, stream.size() - pos);
            ASSERT_TRUE(assembler.feed(stream.data() + pos, n, sink)) << assembler.error();
            pos += n;
        }
        EXPECT_EQ(got.messages, expected) << "chunks up to " << maxChunk;
        EXPECT_EQ(assembler.pending(), 0u);
    }
}

// A size of 0 or 2 GB ends the stream for good, without buffering toward it.
TEST(FrameAssembler, AnOutOfRangeSizeBreaksTheStreamForGood) {
    for (const std::uint32_t bad :
         {0u, 15u, 0x80000000u, static_cast<std::uint32_t>(simnet::kMaxClientMessageSize + 1)}) {
        FrameAssembler assembler = clientStream();
        Collected got;
        Bytes good = header(16);
        good.resize(16, 0);
        Bytes stream = good;
        const Bytes badHeader = header(bad);
        stream.insert(stream.end(), badHeader.begin(), badHeader.end());
        stream.insert(stream.end(), good.begin(), good.end());
        // Split inside the bad size word.
        ASSERT_TRUE(assembler.feed(stream.data(), 18, got.sink()));
        EXPECT_FALSE(assembler.feed(stream.data() + 18, stream.size() - 18, got.sink()));
        EXPECT_FALSE(assembler.feed(good.data(), good.size(), got.sink()));
        EXPECT_TRUE(assembler.broken());
        EXPECT_NE(assembler.error().find(std::to_string(bad)), std::string::npos)
            << assembler.error();
        EXPECT_EQ(got.messages.size(), 1u);
        EXPECT_LE(assembler.pending(), 4u);
    }
}

TEST(FrameAssembler, ASinkThatRefusesStopsTheStream) {
    FrameAssembler assembler = clientStream();
    Bytes two = header(16);
    two.resize(16, 0);
    two.insert(two.end(), two.begin(), two.end());
    int calls = 0;
    EXPECT_FALSE(assembler.feed(two.data(), two.size(), [&](const std::uint8_t*, std::size_t) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(assembler.broken());
}

}  // namespace
