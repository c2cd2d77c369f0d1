#include "config/button_config.h"

// Placeholder until the button file loader is written.
bool ButtonConfig::load(const std::string&, std::string& error) {
    error = "Button config loader not built yet";
    return false;
}
bool ButtonConfig::loadFromText(const std::string&, std::string& error) {
    error = "Button config loader not built yet";
    return false;
}
std::string ButtonConfig::lookup(const std::string&, const std::string&, const std::string&) const {
    return {};
}
bool ButtonConfig::hasControl(const std::string&) const { return false; }
