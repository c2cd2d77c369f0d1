#include "sim/mobiflight_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "log/logger.h"
#include "log/outside_text.h"
#include "sim/simconnect_client.h"

using namespace mobiflight;

namespace {

using ServerErrors = SimConnectClient::ServerErrors;

const char kModuleSilent[] =
    "MobiFlight module silent for 10 s; check that the MobiFlight WASM module is installed";
const char kSetUpFailed[] = "MobiFlight channel initialization failed: ";

std::int32_t saturatingAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = std::int64_t{a} + b;
    if (sum > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

std::string textOf(const std::vector<std::uint8_t>& data) {
    return payloadText(data.data(), static_cast<std::uint32_t>(data.size()));
}

}  // namespace

MobiFlightSession::MobiFlightSession(SimConnectClient& simConnect,
                                     const MobiFlightSettings& settings)
    : simConnect_(simConnect), settings_(settings) {}

void MobiFlightSession::setLVarHandler(std::function<void(const LVarPayload&)> handler) {
    lvarHandler_ = std::move(handler);
}

void MobiFlightSession::stop() {
    running_ = false;
    connected_ = false;
    ready_ = false;
    clearQueue();
    registration_.end();
    lvarHandler_ = nullptr;
}

void MobiFlightSession::clearQueue() {
    queue_.clear();
    queuedHolds_.clear();
    encoderSteps_.clear();
    pressesOverflowed_ = false;
}

// --- link and registration -------------------------------------------------

void MobiFlightSession::onLinkChange(bool connected, Clock::TimePoint now) {
    if (!settings_.enabled || !running_) return;
    connected_ = connected;
    ready_ = false;
    clearQueue();
    registration_.end();
    if (!connected) {
        logInfo("MobiFlight client waiting for SimConnect");
        return;
    }
    std::string error;
    if (!setUpChannels(error)) {
        logWarn(kSetUpFailed + error);
        return;
    }
    registration_.begin(now);
}

// The default channels and the three definitions (used for the own
// channels too: a definition belongs to no area).
bool MobiFlightSession::setUpChannels(std::string& error) {
    SimConnectClient& sc = simConnect_;
    return sc.mapClientDataName(settings_.commandChannel, kCommandAreaId, error) &&
           sc.mapClientDataName(settings_.responseChannel, kResponseAreaId, error) &&
           sc.addClientDataDefinition(kCommandDefinition, kBlockSize, error) &&
           sc.addClientDataDefinition(kResponseDefinition, kBlockSize, error) &&
           sc.addClientDataDefinition(kLVarsDefinition, kLVarsSize, error);
}

// The module may be missing or still loading: then the subscription and the
// writes fail on the server's side, which the silence warning reports.
void MobiFlightSession::attemptRegistration() {
    std::string error;
    const bool sent =
        simConnect_.requestClientData(kResponseAreaId, kResponseRequest, kResponseDefinition, error,
                                      ServerErrors::Quiet) &&
        writeBlock(kDummy, kCommandAreaId, error, true) &&
        writeBlock(kPing, kCommandAreaId, error, true) &&
        writeBlock(kRegisterPrefix + settings_.clientName, kCommandAreaId, error, true);
    if (!sent) logDebug("MobiFlight registration attempt failed: " + error);
}

void MobiFlightSession::completeRegistration(Clock::TimePoint now) {
    std::string error;
    if (!setUpClientChannels(error)) {
        logWarn(kSetUpFailed + error);
        return;  // the next answer tries again
    }
    if (!writeClientSetUp(now, error)) return;
    const bool warned = registration_.warned();
    const Clock::Duration waited = registration_.since(now);
    registration_.end();
    ready_ = true;
    if (warned) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
        logInfo("MobiFlight module answered after " + std::to_string(seconds) + " s");
    }
    logInfo("MobiFlight client registered");
}

bool MobiFlightSession::setUpClientChannels(std::string& error) {
    SimConnectClient& sc = simConnect_;
    const std::string& name = settings_.clientName;
    return sc.mapClientDataName(name + kCommandSuffix, kClientCommandAreaId, error) &&
           sc.mapClientDataName(name + kResponseSuffix, kClientResponseAreaId, error) &&
           sc.mapClientDataName(name + kLVarsSuffix, kClientLVarsAreaId, error) &&
           sc.requestClientData(kClientResponseAreaId, kClientResponseRequest, kResponseDefinition,
                                error) &&
           sc.requestClientData(kClientLVarsAreaId, kLVarsRequest, kLVarsDefinition, error);
}

// A reused client record keeps its variables: clear them, subscribe the
// backlight, and read the values once (an unchanged value is never sent).
// The dummy first: the channel may still hold this very clear.
bool MobiFlightSession::writeClientSetUp(Clock::TimePoint now, std::string& error) {
    for (const char* text : {kDummy, kClear, kAddBacklight.c_str()}) {
        if (!writeBlock(text, kClientCommandAreaId, error)) {
            sendWarnings_.warn("MobiFlight send failed: " + error, now);
            return false;
        }
    }
    if (!simConnect_.readClientDataOnce(kClientLVarsAreaId, kLVarsReadRequest, kLVarsDefinition,
                                        error)) {
        logWarn(kSetUpFailed + error);
        return false;
    }
    return true;
}

// An answer is only noted here: tick() acts on it.
void MobiFlightSession::onClientData(std::uint32_t requestId, const std::vector<std::uint8_t>& data,
                                     Clock::TimePoint) {
    if (!settings_.enabled || !running_ || data.empty()) return;
    if (requestId == kResponseRequest) {
        onResponse(textOf(data));
    } else if (requestId == kLVarsRequest || requestId == kLVarsReadRequest) {
        onLVars(data);
    } else if (requestId == kClientResponseRequest) {
        logDebug("MobiFlight response: " + outsideText(textOf(data)));
    }
}

void MobiFlightSession::onResponse(const std::string& text) {
    const std::string finished = kRegisterPrefix + settings_.clientName + kFinishedSuffix;
    if (text.find(finished) != std::string::npos) registration_.answered();
}

void MobiFlightSession::onLVars(const std::vector<std::uint8_t>& data) {
    LVarPayload payload;
    if (!decodeLVarPayload(data.data(), static_cast<std::uint32_t>(data.size()), payload)) return;
    if (lvarHandler_) lvarHandler_(payload);
    if (Logger::instance().isDebugEnabled()) {
        logDebug("MobiFlight LVars: " + outsideText(payload.shown()));
    }
}

// --- queue -----------------------------------------------------------------

// The checks of send (queued) and sendNow (which also needs the link and the
// registration), in the order their texts are reported.
bool MobiFlightSession::refused(const std::string& rpn, bool needsLink, std::string& error) const {
    const char* reason = nullptr;
    if (!settings_.enabled) {
        reason = "MobiFlight disabled";
    } else if (!running_) {
        reason = "MobiFlight not running";
    } else if (needsLink && !connected_) {
        reason = "SimConnect is not connected";
    } else if (needsLink && !ready_) {
        reason = "MobiFlight not ready";
    } else if (rpn.empty()) {
        reason = "Empty RPN command";
    }
    if (reason) error = reason;
    return reason != nullptr;
}

bool MobiFlightSession::send(const std::string& rpn, Kind kind, std::int32_t amount,
                             std::string& error) {
    if (refused(rpn, false, error)) return false;
    if (amount == 0) return true;
    const std::string text = kSetPrefix + rpn;
    if (kind == kHold) {
        // The earlier hold stands.
        if (queuedHolds_.insert(text).second) queue_.push_back({text, kHold});
    } else if (kind == kEncoder) {
        addEncoderSteps(rpn, text, amount);
    } else {
        queuePress(text);
    }
    return true;
}

// A queued entry takes the steps along; a new one goes to the back.
void MobiFlightSession::addEncoderSteps(const std::string& rpn, const std::string& text,
                                        std::int32_t amount) {
    const auto [entry, added] = encoderSteps_.try_emplace(text);
    if (added) queue_.push_back({text, kEncoder});
    EncoderSteps& steps = entry->second;
    steps.amount = saturatingAdd(steps.amount, amount);
    if (steps.amount <= kMaxEncoderBacklog) return;
    steps.amount = kMaxEncoderBacklog;
    if (steps.capped) return;
    steps.capped = true;
    logWarn("MobiFlight encoder steps pile up for " + outsideText(rpn) + ": more than " +
            std::to_string(kMaxEncoderBacklog) + " waiting; the extra steps are dropped");
}

// Drops the oldest plain command when kMaxQueuedPresses wait.
void MobiFlightSession::queuePress(const std::string& text) {
    const auto plain = [](const Command& c) { return c.kind == kPlain; };
    if (static_cast<std::size_t>(std::count_if(queue_.begin(), queue_.end(), plain)) >=
        kMaxQueuedPresses) {
        queue_.erase(std::find_if(queue_.begin(), queue_.end(), plain));
        if (!pressesOverflowed_) {
            logWarn("MobiFlight commands wait faster than they are written: more than " +
                    std::to_string(kMaxQueuedPresses) + " queued; the oldest are dropped");
        }
        pressesOverflowed_ = true;
    }
    queue_.push_back({text, kPlain});
}

bool MobiFlightSession::sendNow(const std::string& rpn, std::string& error, Clock::TimePoint now) {
    if (refused(rpn, true, error)) return false;
    bool dummyWritten = false;
    return writeOnce(kSetPrefix + rpn, now, error, dummyWritten);
}

void MobiFlightSession::dropPending(const std::string& rpn) {
    if (rpn.empty()) return;
    const std::string text = kSetPrefix + rpn;
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Command& c) { return c.text == text; }),
                 queue_.end());
    queuedHolds_.erase(text);
    encoderSteps_.erase(text);
}

// --- running ---------------------------------------------------------------

// Registration work comes before queued commands, which wait for it anyway.
Clock::TimePoint MobiFlightSession::tick(Clock::TimePoint now) {
    sendWarnings_.poll(now);
    if (!settings_.enabled || !running_) return kNever;
    if (registration_.takeAnswer()) completeRegistration(now);
    if (registration_.takeWarning(now)) logWarn(kModuleSilent);
    if (registration_.takeAttempt(now)) attemptRegistration();
    Clock::TimePoint next = writeQueued(now);
    Clock::TimePoint wake;
    if (registration_.nextWake(wake)) next = std::min(next, wake);
    return next;
}

Clock::TimePoint MobiFlightSession::writeQueued(Clock::TimePoint now) {
    if (!ready_) return kNever;  // the registration or the next link brings it
    for (std::size_t written = 0; !queue_.empty(); ++written) {
        if (written == kMaxBatch) return now;
        const Clock::TimePoint allowed = rateLimitEnd();
        if (allowed > now) return allowed;
        Command command = std::move(queue_.front());
        queue_.pop_front();
        writeEntry(std::move(command), now);
    }
    pressesOverflowed_ = false;  // drained: the next overflow is a new one
    return kNever;
}

// When the rate limit lets the next queued entry go.
Clock::TimePoint MobiFlightSession::rateLimitEnd() const {
    const std::int32_t limitMs = settings_.rpnRateLimitMs;
    if (limitMs < 1 || !lastWriteSet_) return Clock::TimePoint::min();
    return lastWrite_ + std::chrono::milliseconds(limitMs);
}

// An encoder entry writes all its steps; the first failure drops the rest.
void MobiFlightSession::writeEntry(Command command, Clock::TimePoint now) {
    std::int32_t times = 1;
    if (command.kind == kHold) {
        queuedHolds_.erase(command.text);
    } else if (command.kind == kEncoder) {
        const auto steps = encoderSteps_.find(command.text);
        times = steps == encoderSteps_.end() ? 0 : steps->second.amount;
        if (steps != encoderSteps_.end()) encoderSteps_.erase(steps);
    }
    for (std::int32_t i = 0; i < times; ++i) {
        std::string error;
        bool dummyWritten = false;
        if (!writeOnce(command.text, now, error, dummyWritten) || !dummyWritten) return;
    }
}

bool MobiFlightSession::writeOnce(const std::string& text, Clock::TimePoint now, std::string& error,
                                  bool& dummyWritten) {
    dummyWritten = false;
    if (!writeBlock(text, kClientCommandAreaId, error)) {
        sendWarnings_.warn("MobiFlight send failed: " + error, now);
        return false;
    }
    lastWrite_ = now;
    lastWriteSet_ = true;
    std::string dummyError;
    dummyWritten = writeBlock(kDummy, kClientCommandAreaId, dummyError);
    if (!dummyWritten) sendWarnings_.warn("MobiFlight dummy send failed: " + dummyError, now);
    return true;
}

bool MobiFlightSession::writeBlock(const std::string& text, std::uint32_t areaId,
                                   std::string& error, bool quiet) {
    if (text.empty()) {
        error = "Empty command";
        return false;
    }
    std::uint8_t block[kBlockSize] = {};
    std::size_t length = text.size();
    if (length >= kBlockSize) {
        logWarn("MobiFlight command truncated to 1024 bytes");
        length = kBlockSize - 1;
    }
    std::memcpy(block, text.data(), length);
    if (!simConnect_.setClientData(areaId, kCommandDefinition, block, error,
                                   quiet ? ServerErrors::Quiet : ServerErrors::Warn)) {
        return false;
    }
    if (Logger::instance().isDebugEnabled()) logDebug("MobiFlight command: " + text);
    return true;
}
