#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace simnet {

// Cuts a byte stream into whole messages, each announced by the size word
// at its start, whatever the read boundaries were. Memory is bounded: only
// the unfinished message is kept, never more than `maxSize` bytes.
//
// A size word outside [minSize, maxSize] breaks the stream for good: the
// framing is lost, so nothing after it can be trusted. feed() then returns
// false, now and on every later call, and error() says why.
//
// One thread at a time (each connection owns its assembler).
class FrameAssembler {
public:
    // Called with each whole message; the bytes are valid during the call
    // only. Returning false stops the feed: the rest of the chunk is
    // dropped and the stream counts as broken ("stopped by the receiver").
    using FrameSink = std::function<bool(const std::uint8_t* message, std::size_t size)>;

    FrameAssembler(std::size_t minSize, std::size_t maxSize);

    // Takes the next `size` bytes of the stream. False when the stream is
    // broken (before or by these bytes).
    bool feed(const std::uint8_t* data, std::size_t size, const FrameSink& sink);

    bool broken() const { return !error_.empty(); }
    // Broken by a size word out of range (not by the receiver).
    bool framingLost() const { return broken() && !stoppedByReceiver_; }
    const std::string& error() const { return error_; }
    // Bytes of an unfinished message held back; 0 between messages.
    std::size_t pending() const { return partial_.size(); }

private:
    // Size of the message that starts at `data` (at least 4 bytes), or 0
    // after recording the error when the size word is out of range.
    std::size_t frameSize(const std::uint8_t* data);
    // Moves bytes into the partial message; returns how many it took.
    std::size_t fillPartial(const std::uint8_t* data, std::size_t size);
    bool deliver(const FrameSink& sink, const std::uint8_t* message, std::size_t size);

    std::size_t minSize_;
    std::size_t maxSize_;
    std::vector<std::uint8_t> partial_;
    std::size_t partialTarget_ = 0;  // full size of the partial message, 0 while unknown
    std::string error_;
    bool stoppedByReceiver_ = false;
};

}  // namespace simnet
