#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Autopilot buttons that still work without a button file entry (or while
// MobiFlight is not ready), through the simulator's own events: control id
// and the simulator's event name, as the simulator names it.
const std::vector<std::pair<std::uint16_t, std::string>>& autopilotFallbackTable();

// The event for a control id, or null when it has none. Thread-safe.
const char* autopilotFallback(std::uint16_t controlId);
