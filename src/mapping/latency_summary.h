#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"

// With debug output on, how long panel events take from the report being
// read to their command being handed to the simulator link, summed up in
// one DEBUG line a minute while events flow:
//
//   Latency over the last minute (report read to command sent): <N> events,
//   p50 <X> ms, p99 <Y> ms, max <Z> ms
//
// A window opens at the first event recorded after a quiet spell and closes
// one minute later; a minute without events writes nothing. The window keeps
// at most kSamples durations (a uniform sample of a busier minute: the
// percentiles are then estimates; the count and the maximum stay exact) in
// a buffer allocated once, so recording never allocates.
//
// Threads: one thread at a time (the engine's); no lock. poll() is due
// at nextDue(). The clock must outlive the summary.
class LatencySummary {
public:
    static constexpr std::chrono::minutes kPeriod{1};
    static constexpr std::size_t kSamples = 4096;

    // The figures of one window.
    struct Figures {
        std::uint64_t events = 0;
        Clock::Duration p50{};
        Clock::Duration p99{};
        Clock::Duration max{};
    };

    explicit LatencySummary(Clock& clock);

    // One event whose command was handed to the link just now, its report
    // read at `readAt`. Nothing is kept while debug output is off.
    void record(Clock::TimePoint readAt);
    // Writes the line of a window whose minute is over.
    void poll();
    // When the open window's minute is over; max() when none is open.
    Clock::TimePoint nextDue() const;

    // Nearest-rank percentiles of `samples` (reordered), with the window's
    // full count and maximum.
    static Figures figuresOf(std::vector<Clock::Duration>& samples, std::uint64_t events,
                             Clock::Duration max);
    static std::string describe(const Figures& figures);

    LatencySummary(const LatencySummary&) = delete;
    LatencySummary& operator=(const LatencySummary&) = delete;

private:
    // The figures of the window when its minute is over at `now`, which
    // closes it; events 0 when there is none to report.
    Figures closeIfOver(Clock::TimePoint now);
    void keep(Clock::TimePoint now, Clock::Duration latency);
    static void report(const Figures& figures);

    Clock& clock_;
    std::vector<Clock::Duration> samples_;
    std::uint64_t events_ = 0;  // 0: no window open
    Clock::Duration max_{};
    Clock::TimePoint windowEnd_{};
    std::uint64_t random_ = 0x9E3779B97F4A7C15ull;  // picks the samples kept
};
