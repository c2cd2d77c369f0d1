#pragma once

// The simulator variables the program follows, by their simulator names.

// The master battery (a simulation variable, read through SimConnect).
constexpr const char kBatteryVariable[] = "ELECTRICAL MASTER BATTERY:2";
// The panel backlight knob (an L-variable, read through MobiFlight).
constexpr const char kBacklightVariable[] = "LIGHTING_POTENTIOMETER_5";
