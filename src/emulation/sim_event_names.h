#pragma once

#include <string>
#include <vector>

namespace emulation {

// Simulator event names (the key events of the simulator SDK's event list)
// that the program and its examples use, each checked against that list.
// The emulated simulator knows these and no others: mapping any other name
// without a dot fails the way the real simulator fails it.
const std::vector<std::string>& knownSimEventNames();

// Whether the real simulator accepts `name` in MapClientEventToSimEvent:
// a known event, a custom event (a name with a dot, which only other
// clients receive) or the empty name (a private event).
bool isAcceptedEventName(const std::vector<std::string>& known, const std::string& name);

}  // namespace emulation
