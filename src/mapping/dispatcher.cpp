#include "mapping/dispatcher.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "config/app_config.h"
#include "log/logger.h"
#include "mapping/autopilot_fallback.h"
#include "mapping/hold_repeater.h"
#include "mapping/latency_summary.h"
#include "mapping/output_state.h"
#include "mapping/sim_link.h"

namespace {

using HidProtocol::Action;
using HidProtocol::HidEvent;

Action deriveAction(const HidEvent& event) {
    if (event.type == HidProtocol::kEventButton) {
        if (event.value == HidProtocol::kButtonReleased) return HidProtocol::kActionRelease;
        if (event.value == HidProtocol::kButtonPressed) return HidProtocol::kActionPress;
        if (HidProtocol::isHeldValue(event.value)) return HidProtocol::kActionHold;
        return HidProtocol::kActionNone;
    }
    if (event.type == HidProtocol::kEventEncoder) {
        if (event.value > 0) return HidProtocol::kActionClockwise;
        if (event.value < 0) return HidProtocol::kActionCounterClockwise;
    }
    return HidProtocol::kActionNone;
}

// Press, release, hold and the two turns; none otherwise (not looked up).
ControlAction controlAction(Action action) {
    switch (action) {
        case HidProtocol::kActionRelease:
            return ControlAction::Release;
        case HidProtocol::kActionHold:
            return ControlAction::Hold;
        case HidProtocol::kActionClockwise:
            return ControlAction::Clockwise;
        case HidProtocol::kActionCounterClockwise:
            return ControlAction::CounterClockwise;
        default:
            return ControlAction::Press;
    }
}

ControlAction fastTurn(Action action) {
    return action == HidProtocol::kActionClockwise ? ControlAction::ClockwiseFast
                                                   : ControlAction::CounterClockwiseFast;
}

const std::string kPfdRole = "PFD";
const std::string kMfdRole = "MFD";
const std::string kNoRole;

bool isEncoder(Action action) {
    return action == HidProtocol::kActionClockwise ||
           action == HidProtocol::kActionCounterClockwise;
}

// The part of the trace line shared by the full and the short form: from
// "HID event from " up to and including " mode=".
std::string traceHead(const PanelEvent& queued, Action action, bool alwaysShowAction,
                      const std::string& role, const std::string* configuredRole,
                      const std::string& typeName, const std::string& controlName) {
    const HidEvent& e = queued.event;
    std::string line = "HID event from " + queued.boardId +
                       " index=" + std::to_string(queued.index) + " type=" + std::to_string(e.type);
    if (action != HidProtocol::kActionNone || alwaysShowAction) {
        line += std::string(" action=") + HidProtocol::actionName(action);
    }
    if (!role.empty()) line += " role=" + role;
    if (configuredRole) line += " configuredRole=" + *configuredRole;
    if (!typeName.empty()) line += "(" + typeName + ")";
    line += " controlId=" + std::to_string(e.controlId);
    if (!controlName.empty()) line += "(" + controlName + ")";
    line += " value=" + std::to_string(static_cast<int>(e.value)) +
            " speed=" + std::to_string(e.speed) + " mode=" + std::to_string(e.mode);
    return line;
}

}  // namespace

Dispatcher::Dispatcher(const CompiledConfig& compiled, SimLink& link, HoldRepeater& holds,
                       OutputState& outputs, LatencySummary* latency, Clock& clock)
    : compiled_(compiled),
      panels_(compiled),
      pfdRole_(compiled.roleId(kPfdRole)),
      mfdRole_(compiled.roleId(kMfdRole)),
      link_(link),
      holds_(holds),
      outputs_(outputs),
      latency_(latency),
      stepWarnings_(clock) {}

const std::string& Dispatcher::Resolved::controlName() const {
    return control ? control->name : kNoRole;
}

void Dispatcher::dispatch(const PanelEvent& queued, Clock::TimePoint now) const {
    const Resolved r = resolve(queued, now);
    if ((r.hasEntry() && r.action == HidProtocol::kActionHold && r.control->holdOff) ||
        queued.event.type == HidProtocol::kEventLedHoldOff) {
        outputs_.startHoldOff(queued.boardId, queued.index, now);
    }
    if (isManagedMapEvent(r)) {
        dispatchManagedMap(r);
        return;
    }
    if (r.hasEntry() && r.action == HidProtocol::kActionRelease) releaseQueuedCommands(r);
    Outcome outcome;
    sendRpn(r, outcome);
    sendAutopilotFallback(r, outcome);
    if (outcome.rpnQueued || outcome.simEventSent) recordLatency(queued);
    traceDispatched(r, outcome);
}

Dispatcher::Resolved Dispatcher::resolve(const PanelEvent& queued, Clock::TimePoint now) const {
    const HidEvent& event = queued.event;
    const PanelSettings& panel = panels_.find(queued.boardId, queued.index);
    const Role role = roleOf(event, panel);
    return Resolved{&queued,   &panel,  compiled_.control(event.controlId),
                    role.text, role.id, deriveAction(event), now};
}

// The panel's mode byte names the role; otherwise its device entry does.
Dispatcher::Role Dispatcher::roleOf(const HidEvent& event, const PanelSettings& panel) const {
    if (event.mode == HidProtocol::kModePfd) return {&kPfdRole, pfdRole_};
    if (event.mode == HidProtocol::kModeMfd) return {&kMfdRole, mfdRole_};
    if (panel.entry) return {&panel.entry->role, panel.configuredRole};
    return {&kNoRole, kDefaultRole};
}

// The control's text for the action under the event's role.
const std::string& Dispatcher::command(const Resolved& r, ControlAction action) const {
    return r.control ? compiled_.command(*r.control, action, r.roleId) : kNoRole;
}

bool Dispatcher::isManagedMapEvent(const Resolved& r) const {
    const bool pressHoldOrRelease = r.action == HidProtocol::kActionPress ||
                                    r.action == HidProtocol::kActionHold ||
                                    r.action == HidProtocol::kActionRelease;
    return pressHoldOrRelease && r.control && r.control->managedMap &&
           compiled_.app().mobiflight.enabled;
}

// Map panning: the press is sent at once, a hold repeats its text until
// the release (see HoldRepeater).
void Dispatcher::dispatchManagedMap(const Resolved& r) const {
    const PanelEvent& queued = *r.queued;
    const std::string key = queued.boardId + "|" + std::to_string(queued.index) + "|" +
                            std::to_string(queued.event.controlId) + "|" + *r.role;
    const std::string& pressCommand = command(r, ControlAction::Press);
    const std::string& holdText = command(r, ControlAction::Hold);
    const std::string& holdCommand = holdText.empty() ? pressCommand : holdText;
    if (r.action == HidProtocol::kActionPress) {
        holds_.cancel(key);
        if (!pressCommand.empty()) sendMapPress(r, pressCommand);
    } else if (r.action == HidProtocol::kActionHold) {
        if (!holdCommand.empty()) {
            holds_.hold({key, r.controlName(), *r.role, holdCommand, queued.boardId, queued.index,
                         queued.connection},
                        r.now);
        }
    } else {
        holds_.cancel(key);
        releaseQueuedCommands(r);
    }
    if (Logger::instance().isDebugEnabled()) {
        logDebug(traceHead(queued, r.action, true, *r.role, nullptr,
                           compiled_.eventTypeName(queued.event.type), r.controlName()));
    }
}

void Dispatcher::sendMapPress(const Resolved& r, const std::string& command) const {
    std::string error;
    if (link_.sendNow(command, error)) {
        recordLatency(*r.queued);
    } else {
        logWarn("Managed map press send failed for " + r.controlName() + ": " + error);
    }
}

// A release ends a press-and-hold: copies of the control's hold text still
// waiting in the MobiFlight queue would act after the release. A press still
// waiting there stays: dropping it would lose the press of every quick tap
// that meets a busy queue. So a hold text that is also the press text is
// left alone too (the queue cannot tell the copies apart).
void Dispatcher::releaseQueuedCommands(const Resolved& r) const {
    if (!compiled_.app().mobiflight.enabled) return;
    const std::string& hold = command(r, ControlAction::Hold);
    if (hold.empty() || hold == command(r, ControlAction::Press)) return;
    link_.dropPending(hold);
}

void Dispatcher::sendRpn(const Resolved& r, Outcome& outcome) const {
    if (!compiled_.app().mobiflight.enabled || r.action == HidProtocol::kActionNone ||
        r.controlName().empty()) {
        return;
    }
    const std::string& text = commandFor(r, outcome);
    if (text.empty()) return;
    if (!link_.ready()) {
        logDebug("MobiFlight not ready; using SimConnect fallback for " + r.controlName());
        outcome.notReady = true;
        return;
    }
    queueRpn(r, text, outcome);
}

// The configured text for the action and role; a fast turn takes the
// control's _FAST text when it has one.
const std::string& Dispatcher::commandFor(const Resolved& r, Outcome& outcome) const {
    if (isEncoder(r.action) && r.queued->event.speed >= HidProtocol::kFastSpeed) {
        const std::string& fast = command(r, fastTurn(r.action));
        if (!fast.empty()) {
            outcome.fast = true;
            return fast;
        }
    }
    return command(r, controlAction(r.action));
}

// Encoder steps count the detents, or the speed when that is larger (a
// _FAST text goes once).
void Dispatcher::queueRpn(const Resolved& r, const std::string& command, Outcome& outcome) const {
    SimLink::Kind kind = SimLink::kPlain;
    std::int32_t amount = 1;
    if (r.action == HidProtocol::kActionHold) {
        kind = SimLink::kHold;
    } else if (isEncoder(r.action)) {
        kind = SimLink::kEncoder;
        if (!outcome.fast) amount = encoderSteps(r);
        outcome.mfAmount = amount;
    }
    std::string error;
    if (link_.queueCommand(command, kind, amount, error)) {
        outcome.rpnQueued = true;
    } else {
        logWarn("MobiFlight RPN send failed for " + r.controlName() + ": " + error);
    }
}

// The detents, or the speed when that is larger; capped.
std::int32_t Dispatcher::encoderSteps(const Resolved& r) const {
    const HidEvent& event = r.queued->event;
    const std::int32_t detents = std::max(std::abs(static_cast<int>(event.value)), 1);
    const std::int32_t steps = std::max<std::int32_t>(detents, event.speed);
    if (steps <= kMaxEncoderStepsPerReport) return steps;
    stepWarnings_.warn("Panel " + r.queued->boardId + " reported more than " +
                       std::to_string(kMaxEncoderStepsPerReport) +
                       " encoder steps at once; sending " +
                       std::to_string(kMaxEncoderStepsPerReport));
    return kMaxEncoderStepsPerReport;
}

// Autopilot presses without an entry (or while MobiFlight is not ready)
// still reach the simulator through its own events.
void Dispatcher::sendAutopilotFallback(const Resolved& r, Outcome& outcome) const {
    if (outcome.rpnQueued || r.action != HidProtocol::kActionPress ||
        (r.hasEntry() && !outcome.notReady)) {
        return;
    }
    const char* simEvent = autopilotFallback(r.queued->event.controlId);
    if (!simEvent || !link_.connected()) return;
    std::string error;
    if (link_.transmitEvent(simEvent, error)) {
        outcome.simEventSent = true;
    } else {
        logWarn(std::string("SimConnect send failed for ") + simEvent + ": " + error);
    }
}

void Dispatcher::recordLatency(const PanelEvent& queued) const {
    if (latency_ && queued.readAt != Clock::TimePoint{}) latency_->record(queued.readAt);
}

void Dispatcher::traceDispatched(const Resolved& r, const Outcome& outcome) const {
    if (!Logger::instance().isDebugEnabled()) return;
    const DeviceConfig* entry = r.panel->entry;
    const std::string* configuredRole =
        entry && !entry->role.empty() && entry->role != *r.role ? &entry->role : nullptr;
    std::string line = traceHead(*r.queued, r.action, false, *r.role, configuredRole,
                                 compiled_.eventTypeName(r.queued->event.type), r.controlName());
    if (outcome.mfAmount >= 0) line += " mfAmount=" + std::to_string(outcome.mfAmount);
    if (outcome.fast) line += " fast=1";
    if (outcome.simEventSent) line += " simEvent=sent";
    if (outcome.rpnQueued) line += " rpn=queued";
    logDebug(line);
}
