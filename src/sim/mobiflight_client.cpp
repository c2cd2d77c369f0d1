#include "sim/mobiflight_client.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>

#include "log/logger.h"
#include "log/outside_text.h"
#include "sim/mobiflight_protocol.h"
#include "sim/simconnect_client.h"

using std::chrono::milliseconds;

// The protocol's values as this client's header names them.
static_assert(MobiFlightClient::kCommandAreaId == mobiflight::kCommandAreaId &&
                  MobiFlightClient::kResponseAreaId == mobiflight::kResponseAreaId &&
                  MobiFlightClient::kClientCommandAreaId == mobiflight::kClientCommandAreaId &&
                  MobiFlightClient::kClientResponseAreaId == mobiflight::kClientResponseAreaId &&
                  MobiFlightClient::kClientLVarsAreaId == mobiflight::kClientLVarsAreaId &&
                  MobiFlightClient::kCommandDefinition == mobiflight::kCommandDefinition &&
                  MobiFlightClient::kResponseDefinition == mobiflight::kResponseDefinition &&
                  MobiFlightClient::kLVarsDefinition == mobiflight::kLVarsDefinition &&
                  MobiFlightClient::kResponseRequest == mobiflight::kResponseRequest &&
                  MobiFlightClient::kLVarsRequest == mobiflight::kLVarsRequest &&
                  MobiFlightClient::kClientResponseRequest == mobiflight::kClientResponseRequest &&
                  MobiFlightClient::kLVarsReadRequest == mobiflight::kLVarsReadRequest &&
                  MobiFlightClient::kBlockSize == mobiflight::kBlockSize &&
                  MobiFlightClient::kLVarsSize == mobiflight::kLVarsSize &&
                  MobiFlightClient::kMaxQueuedPresses == mobiflight::kMaxQueuedPresses &&
                  MobiFlightClient::kMaxEncoderBacklog == mobiflight::kMaxEncoderBacklog,
              "one set of MobiFlight values");

namespace {

using ServerErrors = SimConnectClient::ServerErrors;

using mobiflight::kAddBacklight;
using mobiflight::kClear;
using mobiflight::kCommandSuffix;
using mobiflight::kDummy;
using mobiflight::kFinishedSuffix;
using mobiflight::kLVarsSuffix;
using mobiflight::kPing;
using mobiflight::kRegisterPrefix;
using mobiflight::kResponseSuffix;
using mobiflight::kSetPrefix;
using mobiflight::payloadText;

const char kModuleSilent[] =
    "MobiFlight module silent for 10 s; check that the MobiFlight WASM module is installed";

constexpr milliseconds kNotConnectedWait{100};
constexpr milliseconds kNotReadyWait{50};

std::int32_t saturatingAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = std::int64_t{a} + b;
    if (sum > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

}  // namespace

MobiFlightClient::MobiFlightClient(Clock& clock) : clock_(clock) {}

MobiFlightClient::~MobiFlightClient() {
    stop();
}

bool MobiFlightClient::start(SimConnectClient& simConnect, const MobiFlightSettings& settings,
                             std::string& error) {
    if (running_) {
        error = "MobiFlight client already running";
        return false;
    }
    settings_ = settings;
    simConnect_ = &simConnect;
    enabled_ = settings.enabled;
    if (!settings.enabled) return true;
    simConnect.setClientDataHandler(
        [this](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
            onClientData(requestId, data, size);
        });
    running_ = true;
    try {
        worker_ = std::thread(&MobiFlightClient::workerLoop, this);
    } catch (const std::system_error& e) {
        running_ = false;
        simConnect.setClientDataHandler({});
        error = std::string("Failed to start MobiFlight worker: ") + e.what();
        return false;
    }
    return true;
}

void MobiFlightClient::stop() {
    if (!running_.exchange(false)) return;
    {
        MutexLock guard(queueLock_);
        ++generation_;
        registration_.end();
    }
    queueSignal_.notify_all();
    if (worker_.joinable()) worker_.join();
    simConnected_ = false;
    ready_ = false;
    {
        MutexLock guard(queueLock_);
        queue_.clear();
        queuedHolds_.clear();
        encoderSteps_.clear();
    }
    {
        MutexLock guard(lvarLock_);
        lvarHandler_ = nullptr;
    }
    if (simConnect_) simConnect_->setClientDataHandler({});
}

void MobiFlightClient::setLVarHandler(std::function<void(const LVarPayload&)> handler) {
    MutexLock guard(lvarLock_);
    lvarHandler_ = std::move(handler);
}

// --- connection and registration -------------------------------------------

void MobiFlightClient::onSimConnectState(bool connected) {
    if (!enabled_ || !running_) return;
    simConnected_ = connected;
    ready_ = false;
    {
        MutexLock guard(queueLock_);
        queue_.clear();
        queuedHolds_.clear();
        encoderSteps_.clear();
        ++generation_;
        registration_.end();
    }
    queueSignal_.notify_all();
    if (!connected) {
        logInfo("MobiFlight client waiting for SimConnect");
        return;
    }
    std::string error;
    if (!setUpChannels(error)) {
        logWarn("MobiFlight channel initialization failed: " + error);
        return;
    }
    {
        MutexLock guard(queueLock_);
        registration_.begin(clock_.now());
    }
    queueSignal_.notify_all();
}

// The default channels and the three definitions (used for the client's
// own channels too: a definition belongs to no area).
bool MobiFlightClient::setUpChannels(std::string& error) {
    if (!simConnect_) {
        error = "SimConnect client unavailable";
        return false;
    }
    SimConnectClient& sc = *simConnect_;
    return sc.mapClientDataName(settings_.commandChannel, kCommandAreaId, error) &&
           sc.mapClientDataName(settings_.responseChannel, kResponseAreaId, error) &&
           sc.addClientDataDefinition(kCommandDefinition, kBlockSize, error) &&
           sc.addClientDataDefinition(kResponseDefinition, kBlockSize, error) &&
           sc.addClientDataDefinition(kLVarsDefinition, kLVarsSize, error);
}

bool MobiFlightClient::isCurrent(std::uint64_t generation) {
    MutexLock guard(queueLock_);
    return generation == generation_ && running_;
}

// The module may be missing or still loading: then the subscription and the
// writes fail on the server's side, which the silence warning reports.
void MobiFlightClient::attemptRegistration(std::uint64_t generation) {
    MutexLock guard(sendLock_);
    if (!isCurrent(generation)) return;
    std::string error;
    const bool sent =
        simConnect_->requestClientData(kResponseAreaId, kResponseRequest, kResponseDefinition,
                                       error, ServerErrors::Quiet) &&
        writeBlock(kDummy, kCommandAreaId, error, ServerErrors::Quiet) &&
        writeBlock(kPing, kCommandAreaId, error, ServerErrors::Quiet) &&
        writeBlock(kRegisterPrefix + settings_.clientName, kCommandAreaId, error,
                   ServerErrors::Quiet);
    if (!sent) logDebug("MobiFlight registration attempt failed: " + error);
}

void MobiFlightClient::warnSilence() {
    logWarn(kModuleSilent);
}

void MobiFlightClient::completeRegistration(std::uint64_t generation) {
    if (!isCurrent(generation)) return;
    std::string error;
    if (!setUpClientChannels(error)) {
        logWarn("MobiFlight channel initialization failed: " + error);
        return;  // the next answer tries again
    }
    if (!writeClientSetUp(error)) return;
    bool warned = false;
    Clock::Duration waited{};
    {
        MutexLock guard(queueLock_);
        if (generation != generation_ || !running_) return;
        warned = registration_.warned();
        waited = registration_.since(clock_.now());
        registration_.end();
        ready_ = true;
    }
    if (warned) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
        logInfo("MobiFlight module answered after " + std::to_string(seconds) + " s");
    }
    logInfo("MobiFlight client registered");
    queueSignal_.notify_all();
}

bool MobiFlightClient::setUpClientChannels(std::string& error) {
    SimConnectClient& sc = *simConnect_;
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
bool MobiFlightClient::writeClientSetUp(std::string& error) {
    MutexLock guard(sendLock_);
    for (const char* text : {kDummy, kClear, kAddBacklight.c_str()}) {
        if (!writeBlock(text, kClientCommandAreaId, error)) {
            sendWarnings_.warn("MobiFlight send failed: " + error);
            return false;
        }
    }
    if (!simConnect_->readClientDataOnce(kClientLVarsAreaId, kLVarsReadRequest, kLVarsDefinition,
                                         error)) {
        logWarn("MobiFlight channel initialization failed: " + error);
        return false;
    }
    return true;
}

void MobiFlightClient::onClientData(std::uint32_t requestId, const std::uint8_t* data,
                                    std::uint32_t size) {
    if (!enabled_ || !data || size == 0) return;
    if (requestId == kResponseRequest) {
        onResponse(payloadText(data, size));
    } else if (requestId == kLVarsRequest || requestId == kLVarsReadRequest) {
        onLVars(data, size);
    } else if (requestId == kClientResponseRequest) {
        logDebug("MobiFlight response: " + outsideText(payloadText(data, size)));
    }
}

void MobiFlightClient::onResponse(const std::string& text) {
    const std::string finished = kRegisterPrefix + settings_.clientName + kFinishedSuffix;
    if (text.find(finished) == std::string::npos) return;
    {
        MutexLock guard(queueLock_);
        registration_.answered();
    }
    queueSignal_.notify_all();
}

bool MobiFlightClient::decodeLVarPayload(const std::uint8_t* data, std::uint32_t size,
                                         LVarPayload& payload) {
    return mobiflight::decodeLVarPayload(data, size, payload);
}

void MobiFlightClient::onLVars(const std::uint8_t* data, std::uint32_t size) {
    LVarPayload payload;
    if (!decodeLVarPayload(data, size, payload)) return;
    std::function<void(const LVarPayload&)> handler;
    {
        MutexLock guard(lvarLock_);
        handler = lvarHandler_;
    }
    if (handler) handler(payload);
    if (Logger::instance().isDebugEnabled()) {
        logDebug("MobiFlight LVars: " + outsideText(payload.shown()));
    }
}

// --- queue -----------------------------------------------------------------

// The checks of send (queued) and sendNow (which also needs the link and the
// registration), in the order their texts are reported.
bool MobiFlightClient::refused(const std::string& rpn, bool needsLink, std::string& error) const {
    const char* reason = nullptr;
    if (!enabled_) {
        reason = "MobiFlight disabled";
    } else if (!running_) {
        reason = "MobiFlight not running";
    } else if (needsLink && !simConnected_) {
        reason = "SimConnect is not connected";
    } else if (needsLink && !ready_) {
        reason = "MobiFlight not ready";
    } else if (rpn.empty()) {
        reason = "Empty RPN command";
    }
    if (reason) error = reason;
    return reason != nullptr;
}

bool MobiFlightClient::send(const std::string& rpn, int kind, std::int32_t amount,
                            std::string& error) {
    if (refused(rpn, false, error)) return false;
    if (amount == 0) return true;
    const std::string text = kSetPrefix + rpn;
    bool backlogCapped = false;
    bool pressesDropped = false;
    bool queued = false;
    {
        MutexLock guard(queueLock_);
        if (kind == kHold) {
            if (!queuedHolds_.insert(text).second) return true;  // the earlier hold stands
        } else if (kind == kEncoder) {
            EncoderSteps& steps = encoderSteps_[text];
            backlogCapped = addEncoderStepsLocked(steps, amount);
            // A queued or running entry takes the steps along.
            queued = steps.queued || steps.inFlight;
            if (!queued) steps.queued = true;
        } else {
            pressesDropped = makeRoomForPressLocked();
        }
        if (!queued) queue_.push_back({text, kind == kHold || kind == kEncoder ? kind : kPlain});
    }
    if (!queued) queueSignal_.notify_all();
    if (backlogCapped) warnBacklog(rpn);
    if (pressesDropped) {
        logWarn("MobiFlight commands wait faster than they are written: more than " +
                std::to_string(kMaxQueuedPresses) + " queued; the oldest are dropped");
    }
    return true;
}

bool MobiFlightClient::addEncoderStepsLocked(EncoderSteps& steps, std::int32_t amount) {
    steps.amount = saturatingAdd(steps.amount, amount);
    if (steps.amount <= kMaxEncoderBacklog) return false;
    steps.amount = kMaxEncoderBacklog;
    const bool first = !steps.capped;
    steps.capped = true;
    return first;
}

void MobiFlightClient::warnBacklog(const std::string& rpn) {
    logWarn("MobiFlight encoder steps pile up for " + outsideText(rpn) + ": more than " +
            std::to_string(kMaxEncoderBacklog) + " waiting; the extra steps are dropped");
}

// Drops the oldest plain command when kMaxQueuedPresses wait; true when
// that begins an overflow.
bool MobiFlightClient::makeRoomForPressLocked() {
    if (queue_.empty()) pressesOverflowed_ = false;
    const auto plain = [](const Command& c) { return c.kind == kPlain; };
    if (static_cast<std::size_t>(std::count_if(queue_.begin(), queue_.end(), plain)) <
        kMaxQueuedPresses)
        return false;
    queue_.erase(std::find_if(queue_.begin(), queue_.end(), plain));
    const bool first = !pressesOverflowed_;
    pressesOverflowed_ = true;
    return first;
}

bool MobiFlightClient::sendNow(const std::string& rpn, std::string& error) {
    if (refused(rpn, true, error)) return false;
    MutexLock guard(sendLock_);
    bool dummyWritten = false;
    return writeOnce({kSetPrefix + rpn, kPlain}, error, dummyWritten);
}

void MobiFlightClient::dropPending(const std::string& rpn) {
    if (rpn.empty()) return;
    const std::string text = kSetPrefix + rpn;
    MutexLock guard(queueLock_);
    if (taken_ == text) takenDropped_ = true;  // not to be put back either
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->text != text) {
            ++it;
            continue;
        }
        if (it->kind == kHold) queuedHolds_.erase(text);
        it = queue_.erase(it);
    }
    const auto steps = encoderSteps_.find(text);
    if (steps == encoderSteps_.end()) return;
    steps->second.queued = false;
    steps->second.amount = 0;
    if (!steps->second.inFlight) encoderSteps_.erase(steps);
}

// --- worker ----------------------------------------------------------------

void MobiFlightClient::workerLoop() {
    Command command;
    std::uint64_t generation = 0;
    for (;;) {
        sendWarnings_.poll();
        switch (nextWork(command, generation)) {
            case Work::Stop:
                return;
            case Work::Attempt:
                attemptRegistration(generation);
                break;
            case Work::Warn:
                warnSilence();
                break;
            case Work::Complete:
                completeRegistration(generation);
                break;
            case Work::Command:
                runCommand(command, generation);
                break;
        }
    }
}

// Registration work comes before queued commands, which wait for it anyway.
MobiFlightClient::Work MobiFlightClient::nextWork(Command& command, std::uint64_t& generation) {
    MutexLock lock(queueLock_);
    const auto ready = [this]() REQUIRES(queueLock_) {
        return !running_ || !queue_.empty() || registration_.due(clock_.now());
    };
    for (;;) {
        if (!running_) return Work::Stop;
        generation = generation_;
        const Clock::TimePoint now = clock_.now();
        if (registration_.takeAnswer()) return Work::Complete;
        if (registration_.takeWarning(now)) return Work::Warn;
        if (registration_.takeAttempt(now)) return Work::Attempt;
        if (takeCommandLocked(command)) return Work::Command;
        Clock::TimePoint wake;
        if (registration_.nextWake(wake)) {
            clock_.waitUntil(queueSignal_, lock.native(), wake, ready);
        } else {
            queueSignal_.wait(lock.native(), ready);
        }
    }
}

bool MobiFlightClient::takeCommandLocked(Command& command) {
    if (queue_.empty()) return false;
    command = std::move(queue_.front());
    queue_.pop_front();
    taken_ = command.text;
    takenDropped_ = false;
    if (command.kind == kHold) {
        queuedHolds_.erase(command.text);
    } else if (command.kind == kEncoder) {
        EncoderSteps& steps = encoderSteps_[command.text];
        steps.queued = false;
        steps.inFlight = true;
    }
    return true;
}

void MobiFlightClient::runCommand(const Command& command, std::uint64_t generation) {
    if (!simConnected_) {
        pause(kNotConnectedWait);
        putBack(command, generation);
        return;
    }
    if (!ready_) {
        pause(kNotReadyWait);
        putBack(command, generation);
        return;
    }
    waitRateLimit();
    if (!running_) return;
    writeCommand(command);
    if (command.kind == kEncoder) finishEncoder(command, generation);
}

void MobiFlightClient::putBack(const Command& command, std::uint64_t generation) {
    {
        MutexLock guard(queueLock_);
        // The queue was emptied by a connection change meanwhile: so is this command.
        if (generation != generation_) return;
        if (takenDropped_ && command.kind != kEncoder) return;
        if (command.kind == kHold) {
            if (!queuedHolds_.insert(command.text).second) return;
        } else if (command.kind == kEncoder) {
            const auto steps = encoderSteps_.find(command.text);
            if (steps == encoderSteps_.end()) return;
            steps->second.inFlight = false;
            if (steps->second.amount <= 0 && !steps->second.queued) {
                encoderSteps_.erase(steps);
                return;
            }
            if (steps->second.queued) return;
            steps->second.queued = true;
        }
        // Held commands keep the order in which they were sent (a press is
        // never executed after its release), so they go back to the front.
        queue_.push_front(command);
    }
    queueSignal_.notify_all();
}

void MobiFlightClient::finishEncoder(const Command& command, std::uint64_t generation) {
    {
        MutexLock guard(queueLock_);
        if (generation != generation_) return;
        const auto steps = encoderSteps_.find(command.text);
        if (steps == encoderSteps_.end()) return;
        steps->second.inFlight = false;
        if (steps->second.amount <= 0) {
            if (!steps->second.queued) encoderSteps_.erase(steps);
            return;
        }
        if (steps->second.queued) return;
        steps->second.queued = true;
        queue_.push_back(command);
    }
    queueSignal_.notify_all();
}

void MobiFlightClient::pause(Clock::Duration d) {
    MutexLock lock(queueLock_);
    clock_.waitUntil(queueSignal_, lock.native(), clock_.now() + d,
                     [this] { return !running_.load(); });
}

void MobiFlightClient::waitRateLimit() {
    const std::int32_t limitMs = settings_.rpnRateLimitMs;
    if (limitMs < 1) return;
    Clock::TimePoint last;
    {
        MutexLock guard(sendLock_);
        if (!lastSendSet_) return;
        last = lastSend_;
    }
    const auto elapsed = std::chrono::duration_cast<milliseconds>(clock_.now() - last);
    const milliseconds limit(limitMs);
    if (elapsed < limit) pause(limit - elapsed);
}

// --- writing ---------------------------------------------------------------

void MobiFlightClient::writeCommand(const Command& command) {
    MutexLock guard(sendLock_);
    if (command.kind == kEncoder) {
        writeEncoder(command);
        return;
    }
    std::string error;
    bool dummyWritten = false;
    writeOnce(command, error, dummyWritten);
}

void MobiFlightClient::writeEncoder(const Command& command) {
    while (running_) {
        std::int32_t steps = 0;
        {
            MutexLock guard(queueLock_);
            const auto entry = encoderSteps_.find(command.text);
            if (entry == encoderSteps_.end() || entry->second.amount <= 0) return;
            steps = entry->second.amount;
            entry->second.amount = 0;
        }
        // Steps added meanwhile are picked up by the next round.
        for (std::int32_t i = 0; i < steps && running_; ++i) {
            std::string error;
            bool dummyWritten = false;
            if (!writeOnce(command, error, dummyWritten)) return;
            if (!dummyWritten) return;
        }
    }
}

bool MobiFlightClient::writeOnce(const Command& command, std::string& error, bool& dummyWritten) {
    dummyWritten = false;
    if (!writeBlock(command.text, kClientCommandAreaId, error)) {
        sendWarnings_.warn("MobiFlight send failed: " + error);
        return false;
    }
    lastSend_ = clock_.now();
    lastSendSet_ = true;
    std::string dummyError;
    dummyWritten = writeBlock(kDummy, kClientCommandAreaId, dummyError);
    if (!dummyWritten) sendWarnings_.warn("MobiFlight dummy send failed: " + dummyError);
    return true;
}

bool MobiFlightClient::writeBlock(const std::string& text, std::uint32_t areaId, std::string& error,
                                  SimConnectClient::ServerErrors errors) {
    if (!simConnect_) {
        error = "SimConnect client unavailable";
        return false;
    }
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
    if (!simConnect_->setClientData(areaId, kCommandDefinition, block, error, errors)) {
        return false;
    }
    if (Logger::instance().isDebugEnabled()) logDebug("MobiFlight command: " + text);
    return true;
}
