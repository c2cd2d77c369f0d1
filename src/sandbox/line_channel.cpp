#include "sandbox/line_channel.h"

LineChannel::LineChannel() : std::istream(nullptr) {
    rdbuf(&buffer_);
}

void LineChannel::push(const std::string& line) {
    buffer_.push(line);
}

void LineChannel::close() {
    buffer_.close();
}

void LineChannel::Buffer::push(const std::string& line) {
    {
        MutexLock guard(lock_);
        lines_.push_back(line + "\n");
    }
    ready_.notify_all();
}

void LineChannel::Buffer::close() {
    {
        MutexLock guard(lock_);
        closed_ = true;
    }
    ready_.notify_all();
}

LineChannel::Buffer::int_type LineChannel::Buffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    MutexLock lock(lock_);
    ready_.wait(lock.native(), [this]() REQUIRES(lock_) { return !lines_.empty() || closed_; });
    if (lines_.empty()) return traits_type::eof();
    current_ = std::move(lines_.front());
    lines_.pop_front();
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(*gptr());
}
