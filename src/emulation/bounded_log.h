#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Entries an emulator's record keeps unless its owner chooses otherwise:
// enough for any test that reads a long run back.
constexpr std::size_t kDefaultRecordLimit = 16384;

// A record that keeps only its latest `limit` entries and counts them all,
// so an emulator left running for hours keeps a flat memory.
//
// Not thread-safe by itself: the owner guards it.
template <typename T>
class BoundedLog {
public:
    explicit BoundedLog(std::size_t limit = kDefaultRecordLimit) : limit_(limit ? limit : 1) {}

    void push(T entry) {
        entries_.push_back(std::move(entry));
        ++total_;
        if (entries_.size() > limit_) entries_.pop_front();
    }
    // Entries ever pushed, including those dropped since.
    std::uint64_t total() const { return total_; }
    // The kept entries, oldest first.
    std::vector<T> entries() const { return {entries_.begin(), entries_.end()}; }
    // The kept entries pushed after the first `total` ones.
    std::vector<T> since(std::uint64_t total) const {
        const std::uint64_t newer = total_ > total ? total_ - total : 0;
        const std::size_t count = static_cast<std::size_t>(
            newer < entries_.size() ? newer : static_cast<std::uint64_t>(entries_.size()));
        return {entries_.end() - static_cast<std::ptrdiff_t>(count), entries_.end()};
    }
    const T* last() const { return entries_.empty() ? nullptr : &entries_.back(); }

private:
    std::size_t limit_;
    std::deque<T> entries_;
    std::uint64_t total_ = 0;
};
