#include "config/event_map.h"

// Placeholder until the event map loader is written.
bool EventMap::load(const std::string&, std::string& error) {
    error = "Event map loader not built yet";
    return false;
}
bool EventMap::loadFromText(const std::string&, std::string& error) {
    error = "Event map loader not built yet";
    return false;
}
std::string EventMap::eventTypeName(std::int32_t) const { return {}; }
std::string EventMap::controlName(std::int32_t) const { return {}; }
