#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The indices of the panels, stable across unplugging. A panel is known by
// a key: its board id, or its device path when it has none. A panel that
// comes back gets the index it had; a new panel gets the lowest index that
// no remembered panel holds. At most `capacity` panels are remembered: when
// a new one would exceed that, the panel closed longest ago is forgotten
// (open panels are always remembered, so the memory is bounded by
// max(capacity, panels open at once)). Two open panels with the same key
// (two interfaces of one device) hold two indices.
//
// Not thread-safe: the HID manager calls it under its device lock.
class PanelIndices {
public:
    static constexpr std::size_t kDefaultCapacity = 64;

    explicit PanelIndices(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // The index for a panel being opened; it counts as open until release().
    std::int32_t acquire(const std::string& key);
    // The panel holding `index` was closed; it stays remembered.
    void release(std::int32_t index);

private:
    struct Entry {
        std::string key;
        std::int32_t index;
        bool open;
        std::uint64_t closedAt;  // release order, for forgetting the oldest
    };

    void forgetOldestClosed();
    std::int32_t lowestFree() const;

    std::size_t capacity_;
    std::vector<Entry> entries_;
    std::uint64_t releases_ = 0;
};
