#include "mapping/latency_summary.h"

#include <algorithm>
#include <cstdio>

#include "log/logger.h"

namespace {

// The smallest sample with at least `permille` of all at or below it.
Clock::Duration percentile(std::vector<Clock::Duration>& sorted, std::uint64_t permille) {
    const std::uint64_t rank = (sorted.size() * permille + 999) / 1000;
    const std::size_t index = rank > 0 ? static_cast<std::size_t>(rank - 1) : 0;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(index),
                     sorted.end());
    return sorted[index];
}

std::string milliseconds(Clock::Duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms",
                  std::chrono::duration<double, std::milli>(d).count());
    return text;
}

std::uint64_t xorshift(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

}  // namespace

LatencySummary::LatencySummary(Clock& clock) : clock_(clock) {
    samples_.reserve(kSamples);
}

void LatencySummary::record(Clock::TimePoint readAt) {
    if (!Logger::instance().isDebugEnabled()) return;
    const Clock::TimePoint now = clock_.now();
    const Figures over = closeIfOver(now);
    keep(now, std::max(now - readAt, Clock::Duration::zero()));
    report(over);
}

void LatencySummary::poll() {
    report(closeIfOver(clock_.now()));
}

Clock::TimePoint LatencySummary::nextDue() const {
    return events_ == 0 ? Clock::TimePoint::max() : windowEnd_;
}

LatencySummary::Figures LatencySummary::closeIfOver(Clock::TimePoint now) {
    if (events_ == 0 || now < windowEnd_) return {};
    const Figures figures = figuresOf(samples_, events_, max_);
    samples_.clear();
    events_ = 0;
    max_ = Clock::Duration::zero();
    return figures;
}

// Every sample while the buffer has room, then each later one replaces a
// random kept one with the chance that keeps the kept ones a uniform sample.
void LatencySummary::keep(Clock::TimePoint now, Clock::Duration latency) {
    if (events_ == 0) windowEnd_ = now + kPeriod;
    ++events_;
    max_ = std::max(max_, latency);
    if (samples_.size() < kSamples) {
        samples_.push_back(latency);
        return;
    }
    const std::uint64_t slot = xorshift(random_) % events_;
    if (slot < kSamples) samples_[static_cast<std::size_t>(slot)] = latency;
}

void LatencySummary::report(const Figures& figures) {
    if (figures.events == 0) return;
    logDebug(describe(figures));
}

LatencySummary::Figures LatencySummary::figuresOf(std::vector<Clock::Duration>& samples,
                                                  std::uint64_t events, Clock::Duration max) {
    Figures figures;
    figures.events = events;
    figures.max = max;
    if (samples.empty()) return figures;
    figures.p50 = percentile(samples, 500);
    figures.p99 = percentile(samples, 990);
    return figures;
}

std::string LatencySummary::describe(const Figures& figures) {
    return "Latency over the last minute (report read to command sent): " +
           std::to_string(figures.events) + (figures.events == 1 ? " event" : " events") +
           ", p50 " + milliseconds(figures.p50) + ", p99 " + milliseconds(figures.p99) + ", max " +
           milliseconds(figures.max);
}
