// From one panel event to at most one immediate simulator command.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "config/button_config.h"
#include "config/event_map.h"
#include "hid/hid_manager.h"
#include "log/logger.h"
#include "mapping/autopilot_fallback.h"
#include "mapping/mapping_engine.h"
#include "sim/mobiflight_client.h"
#include "sim/simconnect_client.h"

namespace {

using HidProtocol::Action;

constexpr auto kOutputHoldOff = std::chrono::milliseconds(1500);

Action deriveAction(const HidProtocol::HidEvent& event) {
    if (event.type == 1) {
        if (event.value == 0) return HidProtocol::kActionRelease;
        if (event.value == 1) return HidProtocol::kActionPress;
        if (event.value >= 2 && event.value <= 4) return HidProtocol::kActionHold;
        return HidProtocol::kActionNone;
    }
    if (event.type == 2) {
        if (event.value > 0) return HidProtocol::kActionClockwise;
        if (event.value < 0) return HidProtocol::kActionCounterClockwise;
    }
    return HidProtocol::kActionNone;
}

const char* actionKey(Action action) {
    switch (action) {
        case HidProtocol::kActionPress:
            return "PRESS";
        case HidProtocol::kActionRelease:
            return "RELEASE";
        case HidProtocol::kActionHold:
            return "HOLD";
        case HidProtocol::kActionClockwise:
            return "CW";
        case HidProtocol::kActionCounterClockwise:
            return "CCW";
        default:
            return "";
    }
}

bool isManagedMapControl(const std::string& normalizedName) {
    return normalizedName == "MAP_LEFT" || normalizedName == "MAP_RIGHT" ||
           normalizedName == "MAP_UP" || normalizedName == "MAP_DOWN";
}

// The part of the trace line shared by the full and the short form: from
// "HID event from " up to and including " mode=".
struct TraceFields {
    const std::string* boardId;
    std::int32_t index;
    const HidProtocol::HidEvent* event;
    Action action;
    bool alwaysShowAction;
    const std::string* role;
    const std::string* configuredRole;  // null: not shown
    const std::string* typeName;
    const std::string* controlName;
};

std::string traceHead(const TraceFields& f) {
    const HidProtocol::HidEvent& e = *f.event;
    std::string line = "HID event from " + *f.boardId + " index=" + std::to_string(f.index) +
                       " type=" + std::to_string(e.type);
    if (f.action != HidProtocol::kActionNone || f.alwaysShowAction) {
        line += std::string(" action=") + HidProtocol::actionName(f.action);
    }
    if (!f.role->empty()) line += " role=" + *f.role;
    if (f.configuredRole) line += " configuredRole=" + *f.configuredRole;
    if (!f.typeName->empty()) line += "(" + *f.typeName + ")";
    line += " controlId=" + std::to_string(e.controlId);
    if (!f.controlName->empty()) line += "(" + *f.controlName + ")";
    line += " value=" + std::to_string(static_cast<int>(e.value)) +
            " speed=" + std::to_string(e.speed) + " mode=" + std::to_string(e.mode);
    return line;
}

}  // namespace

void MappingEngine::dispatch(const QueuedEvent& queued) {
    if (!config_ || !simConnect_ || !mobiFlight_ || !buttonConfig_ || !eventMap_) return;
    const HidProtocol::HidEvent& event = queued.event;
    const std::string& boardId = queued.boardId;
    const std::int32_t index = queued.index;

    const DeviceConfig* entry = config_->findDevice(boardId, index);
    std::string role;
    if (event.mode == 0) {
        role = "PFD";
    } else if (event.mode == 1) {
        role = "MFD";
    } else if (entry) {
        role = entry->role;
    }
    const std::string typeName = eventMap_->eventTypeName(event.type);
    const std::string controlName = eventMap_->controlName(event.controlId);
    const std::string normalizedName = normalizeKey(controlName);
    const bool hasEntry = !controlName.empty() && buttonConfig_->hasControl(controlName);
    const Action action = deriveAction(event);

    if ((hasEntry && action == HidProtocol::kActionHold && normalizedName == "NAV_SWAP") ||
        event.type == 4) {
        startOutputHoldOff(boardId, index);
    }

    TraceFields trace{&boardId, index,   &event,    action,      false,
                      &role,    nullptr, &typeName, &controlName};

    const bool pressHoldOrRelease = action == HidProtocol::kActionPress ||
                                    action == HidProtocol::kActionHold ||
                                    action == HidProtocol::kActionRelease;
    if (hasEntry && pressHoldOrRelease && isManagedMapControl(normalizedName) &&
        config_->mobiflight.enabled) {
        const std::string key = boardId + "|" + std::to_string(index) + "|" +
                                std::to_string(event.controlId) + "|" + role;
        const std::string pressCommand = buttonConfig_->lookup(controlName, "PRESS", role);
        std::string holdCommand = buttonConfig_->lookup(controlName, "HOLD", role);
        if (holdCommand.empty()) holdCommand = pressCommand;
        if (action == HidProtocol::kActionPress) {
            cancelHold(key);
            std::string error;
            if (!pressCommand.empty() && !mobiFlight_->sendNow(pressCommand, error)) {
                logWarn("Managed map press send failed for " + controlName + ": " + error);
            }
        } else if (action == HidProtocol::kActionHold) {
            if (!holdCommand.empty()) {
                registerHold(key, controlName, role, holdCommand, boardId, index);
            }
        } else {
            cancelHold(key);
            releaseQueuedCommands(controlName, role);
        }
        if (Logger::instance().isDebugEnabled()) {
            trace.alwaysShowAction = true;
            logDebug(traceHead(trace));
        }
        return;
    }

    if (hasEntry && action == HidProtocol::kActionRelease) releaseQueuedCommands(controlName, role);

    bool rpnQueued = false;
    bool notReady = false;
    bool fast = false;
    bool simEventSent = false;
    std::int32_t mfAmount = -1;
    if (config_->mobiflight.enabled && action != HidProtocol::kActionNone && !controlName.empty()) {
        std::string key = actionKey(action);
        std::string command;
        const bool encoder = action == HidProtocol::kActionClockwise ||
                             action == HidProtocol::kActionCounterClockwise;
        if (encoder && event.speed >= 4) {
            command = buttonConfig_->lookup(controlName, key + "_FAST", role);
            if (!command.empty()) {
                fast = true;
                key += "_FAST";
            }
        }
        if (command.empty()) command = buttonConfig_->lookup(controlName, key, role);
        if (!command.empty()) {
            if (!mobiFlight_->isReady()) {
                logDebug("MobiFlight not ready; using SimConnect fallback for " + controlName);
                notReady = true;
            } else {
                int kind = MobiFlightClient::kPlain;
                std::int32_t amount = 1;
                if (action == HidProtocol::kActionHold) {
                    kind = MobiFlightClient::kHold;
                } else if (encoder) {
                    kind = MobiFlightClient::kEncoder;
                    if (!fast) {
                        const std::int32_t steps =
                            std::max(std::abs(static_cast<int>(event.value)), 1);
                        amount = std::max<std::int32_t>(steps, event.speed);
                    }
                    mfAmount = amount;
                }
                std::string error;
                if (mobiFlight_->send(command, kind, amount, error)) {
                    rpnQueued = true;
                } else {
                    logWarn("MobiFlight RPN send failed for " + controlName + ": " + error);
                }
            }
        }
    }

    if (!rpnQueued && action == HidProtocol::kActionPress && (!hasEntry || notReady)) {
        const char* simEvent = autopilotFallback(event.controlId);
        if (simEvent && simConnect_->isConnected()) {
            std::string error;
            if (simConnect_->transmitEvent(simEvent, error)) {
                simEventSent = true;
            } else {
                logWarn(std::string("SimConnect send failed for ") + simEvent + ": " + error);
            }
        }
    }

    if (!Logger::instance().isDebugEnabled()) return;
    if (entry && !entry->role.empty() && entry->role != role) trace.configuredRole = &entry->role;
    std::string line = traceHead(trace);
    if (mfAmount >= 0) line += " mfAmount=" + std::to_string(mfAmount);
    if (fast) line += " fast=1";
    if (simEventSent) line += " simEvent=sent";
    if (rpnQueued) line += " rpn=queued";
    logDebug(line);
}

// A release ends a press-and-hold: copies of the control's hold text still
// waiting in the MobiFlight queue would act after the release. A press still
// waiting there stays: dropping it would lose the press of every quick tap
// that meets a busy queue. So a hold text that is also the press text is
// left alone too (the queue cannot tell the copies apart).
void MappingEngine::releaseQueuedCommands(const std::string& controlName, const std::string& role) {
    if (!config_->mobiflight.enabled || !buttonConfig_ || !mobiFlight_) return;
    const std::string hold = buttonConfig_->lookup(controlName, "HOLD", role);
    if (hold.empty() || hold == buttonConfig_->lookup(controlName, "PRESS", role)) return;
    mobiFlight_->dropPending(hold);
}

// The panel shows its own feedback for a while (NAV_SWAP hold, type 4
// event); LED writes pause, and the first write after the pause goes out
// even if unchanged.
void MappingEngine::startOutputHoldOff(const std::string& boardId, std::int32_t index) {
    const std::string deviceKey = boardId.empty() ? "#" + std::to_string(index) : boardId;
    {
        std::lock_guard<std::mutex> guard(holdOffLock_);
        const Clock::TimePoint until = clock_.now() + kOutputHoldOff;
        auto found = holdOffTable_.find(deviceKey);
        if (found == holdOffTable_.end()) {
            holdOffTable_.emplace(deviceKey, until);
        } else if (found->second < until) {
            found->second = until;
        }
    }
    if (hid_) hid_->forgetLedCommand(boardId, index);
}
