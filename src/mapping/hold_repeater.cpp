#include "mapping/hold_repeater.h"

#include <algorithm>
#include <vector>

#include "mapping/sim_link.h"

namespace {

constexpr auto kDefaultPeriod = std::chrono::milliseconds(10);

}  // namespace

HoldRepeater::HoldRepeater(Clock& clock) : period_(kDefaultPeriod), warnings_(clock) {}

void HoldRepeater::configure(SimLink& link, std::int32_t periodMs) {
    link_ = &link;
    period_ = periodMs < 1 ? Clock::Duration(kDefaultPeriod)
                           : Clock::Duration(std::chrono::milliseconds(periodMs));
}

void HoldRepeater::clear() {
    table_.clear();
}

void HoldRepeater::hold(const Hold& hold, Clock::TimePoint now) {
    if (hold.connection == 0) {  // its panel is not open (any more): no release will come
        table_.erase(hold.key);
        return;
    }
    Entry& entry = table_[hold.key];
    const bool fresh = entry.nextDue == Clock::TimePoint{};
    entry.hold = hold;
    if (fresh) entry.nextDue = now + period_;
}

void HoldRepeater::cancel(const std::string& key) {
    if (!key.empty()) table_.erase(key);
}

// A panel unplugged while a map control was held never sends the release,
// not even when it comes back (under its old index): without this its hold
// would pan the map until the program ends.
void HoldRepeater::dropPanel(std::uint64_t connection) {
    for (auto it = table_.begin(); it != table_.end();) {
        it = it->second.hold.connection == connection ? table_.erase(it) : std::next(it);
    }
}

// The keys first: a send may not change the table, but the order of sends
// within one period follows the keys' order for a stable trace.
Clock::TimePoint HoldRepeater::repeatDue(Clock::TimePoint now) {
    std::vector<std::string> due;
    for (auto& [key, entry] : table_) {
        if (entry.nextDue > now) continue;
        due.push_back(key);
        entry.nextDue = now + period_;
    }
    std::sort(due.begin(), due.end());
    for (const std::string& key : due) {
        std::string error;
        if (link_ && !link_->sendNow(table_.at(key).hold.command, error)) {
            warnings_.warn("Managed map hold send failed: " + error);
        }
    }
    return nextDue();
}

Clock::TimePoint HoldRepeater::nextDue() const {
    Clock::TimePoint next = Clock::TimePoint::max();
    for (const auto& item : table_)
        next = std::min(next, item.second.nextDue);
    return next;
}
