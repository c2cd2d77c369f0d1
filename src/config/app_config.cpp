#include "config/app_config.h"

// Placeholder until the configuration loader is written.
const DeviceConfig* AppConfig::findDevice(const std::string&, std::int32_t) const { return nullptr; }
const OutputProfile* AppConfig::profileFor(const DeviceConfig*) const { return nullptr; }
bool loadAppConfig(const std::string&, AppConfig&, std::string& error) {
    error = "Configuration loader not built yet";
    return false;
}
bool loadAppConfigFromText(const std::string&, const std::string&, AppConfig&, std::string& error) {
    error = "Configuration loader not built yet";
    return false;
}
bool validateAppConfig(const AppConfig&, std::string&) { return true; }
std::string normalizeKey(const std::string& text) { return text; }
std::string normalizeBoardId(const std::string& text) { return text; }
bool isValidEffectName(const std::string&) { return false; }
std::string resolveConfigRelativePath(const std::string&, const std::string& path) { return path; }
