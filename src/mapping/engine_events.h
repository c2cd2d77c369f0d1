#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/clock.h"
#include "hid/hid_protocol.h"
#include "sim/lvar_payload.h"

// One panel event, the panel that sent it, and when its report was read
// (epoch: unknown, e.g. an event a test made up). The engine fills in the
// panel's opening (`connection`) from its own table.
struct PanelEvent {
    HidProtocol::HidEvent event;
    std::string boardId;
    std::int32_t index = -1;
    Clock::TimePoint readAt{};
    std::uint64_t connection = 0;
};

// What the I/O threads tell the engine. Each is a plain value: the poster
// keeps nothing the engine reads later.
namespace engine_event {

// A panel was opened; its input follows this event.
struct PanelAdded {
    std::string name;
    std::int32_t index = -1;
    std::uint64_t connection = 0;
};
// That opening ended; no input of it follows.
struct PanelRemoved {
    std::string name;
    std::int32_t index = -1;
    std::uint64_t connection = 0;
};
// The SimConnect link came up or went down.
struct LinkChanged {
    bool connected = false;
};
// The simulator's master battery switch.
struct BatteryChanged {
    bool on = false;
};
// A value of the MobiFlight L-variable channel (the backlight level).
struct LVarValue {
    LVarPayload payload;
};
// One client-data answer, its bytes copied.
struct ClientData {
    std::uint32_t requestId = 0;
    std::vector<std::uint8_t> bytes;
};

}  // namespace engine_event

using EngineEvent =
    std::variant<PanelEvent, engine_event::PanelAdded, engine_event::PanelRemoved,
                 engine_event::LinkChanged, engine_event::BatteryChanged,
                 engine_event::LVarValue, engine_event::ClientData>;
