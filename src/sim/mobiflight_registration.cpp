#include "sim/mobiflight_registration.h"

#include <algorithm>

void MobiFlightRegistration::begin(Clock::TimePoint now) {
    active_ = true;
    answered_ = false;
    warned_ = false;
    begun_ = now;
    nextAttempt_ = now;
    interval_ = kFirstRetry;
}

void MobiFlightRegistration::end() {
    active_ = false;
    answered_ = false;
}

bool MobiFlightRegistration::takeAttempt(Clock::TimePoint now) {
    if (!active_ || now < nextAttempt_) return false;
    nextAttempt_ = now + interval_;
    interval_ = std::min(interval_ * 2, kMaxRetry);
    return true;
}

bool MobiFlightRegistration::takeWarning(Clock::TimePoint now) {
    if (!active_ || warned_ || now - begun_ < kSilenceWarning) return false;
    warned_ = true;
    return true;
}

void MobiFlightRegistration::answered() {
    if (active_) answered_ = true;
}

bool MobiFlightRegistration::takeAnswer() {
    const bool answer = active_ && answered_;
    answered_ = false;
    return answer;
}

bool MobiFlightRegistration::due(Clock::TimePoint now) const {
    if (!active_) return false;
    return answered_ || now >= nextAttempt_ || (!warned_ && now - begun_ >= kSilenceWarning);
}

bool MobiFlightRegistration::nextWake(Clock::TimePoint& when) const {
    if (!active_) return false;
    when = nextAttempt_;
    if (!warned_) when = std::min(when, begun_ + kSilenceWarning);
    return true;
}
