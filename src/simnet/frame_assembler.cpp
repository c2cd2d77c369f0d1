#include "simnet/frame_assembler.h"

#include <algorithm>

#include "simnet/codec.h"

namespace simnet {

namespace {

constexpr std::size_t kSizeWordBytes = 4;

}  // namespace

FrameAssembler::FrameAssembler(std::size_t minSize, std::size_t maxSize)
    : minSize_(std::max(minSize, kSizeWordBytes)), maxSize_(std::max(maxSize, minSize_)) {}

bool FrameAssembler::feed(const std::uint8_t* data, std::size_t size, const FrameSink& sink) {
    std::size_t pos = 0;
    while (!broken() && pos < size) {
        const std::size_t rest = size - pos;
        if (!partial_.empty() || rest < kSizeWordBytes) {
            pos += fillPartial(data + pos, rest);
            if (partialTarget_ != 0 && partial_.size() == partialTarget_) {
                partialTarget_ = 0;
                const bool ok = deliver(sink, partial_.data(), partial_.size());
                partial_.clear();
                if (!ok) break;
            }
            continue;
        }
        const std::size_t frame = frameSize(data + pos);
        if (frame == 0) break;
        if (rest < frame) {
            pos += fillPartial(data + pos, rest);
            continue;
        }
        if (!deliver(sink, data + pos, frame)) break;
        pos += frame;
    }
    return !broken();
}

std::size_t FrameAssembler::frameSize(const std::uint8_t* data) {
    const std::size_t size = readSizeWord(data);
    if (size < minSize_) {
        error_ = "message size " + std::to_string(size) + " below the minimum " +
                 std::to_string(minSize_);
        return 0;
    }
    if (size > maxSize_) {
        error_ =
            "message size " + std::to_string(size) + " above the bound " + std::to_string(maxSize_);
        return 0;
    }
    return size;
}

std::size_t FrameAssembler::fillPartial(const std::uint8_t* data, std::size_t size) {
    std::size_t taken = 0;
    if (partialTarget_ == 0) {
        taken = std::min(kSizeWordBytes - partial_.size(), size);
        partial_.insert(partial_.end(), data, data + taken);
        if (partial_.size() < kSizeWordBytes) return taken;
        partialTarget_ = frameSize(partial_.data());
        if (partialTarget_ == 0) return taken;
    }
    const std::size_t n = std::min(partialTarget_ - partial_.size(), size - taken);
    partial_.insert(partial_.end(), data + taken, data + taken + n);
    return taken + n;
}

bool FrameAssembler::deliver(const FrameSink& sink, const std::uint8_t* message, std::size_t size) {
    if (sink(message, size)) return true;
    error_ = "stopped by the receiver";
    stoppedByReceiver_ = true;
    return false;
}

}  // namespace simnet
