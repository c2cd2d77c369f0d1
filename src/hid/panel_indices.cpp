#include "hid/panel_indices.h"

#include <algorithm>

std::int32_t PanelIndices::acquire(const std::string& key) {
    Entry* best = nullptr;
    for (Entry& entry : entries_) {
        if (!entry.open && entry.key == key && (!best || entry.index < best->index)) best = &entry;
    }
    if (best) {
        best->open = true;
        return best->index;
    }
    if (entries_.size() >= capacity_) forgetOldestClosed();
    const std::int32_t index = lowestFree();
    entries_.push_back(Entry{key, index, true, 0});
    return index;
}

void PanelIndices::release(std::int32_t index) {
    for (Entry& entry : entries_) {
        if (entry.index == index && entry.open) {
            entry.open = false;
            entry.closedAt = ++releases_;
            return;
        }
    }
}

void PanelIndices::forgetOldestClosed() {
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (!it->open && (oldest == entries_.end() || it->closedAt < oldest->closedAt)) oldest = it;
    }
    if (oldest != entries_.end()) entries_.erase(oldest);
}

std::int32_t PanelIndices::lowestFree() const {
    std::vector<std::int32_t> used;
    used.reserve(entries_.size());
    for (const Entry& entry : entries_)
        used.push_back(entry.index);
    std::sort(used.begin(), used.end());
    std::int32_t candidate = 0;
    for (std::int32_t index : used) {
        if (index == candidate) ++candidate;
        if (index > candidate) break;
    }
    return candidate;
}
