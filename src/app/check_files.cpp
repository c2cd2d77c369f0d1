// The configuration's rows of --check: the three files load as the program
// loads them, with the loaders' own texts.
#include "app/application.h"
#include "app/check_paths.h"
#include "app/program_check.h"
#include "config/button_config.h"
#include "config/config_file.h"
#include "config/event_map.h"
#include "config/json.h"
#include "platform/paths.h"

namespace {

constexpr const char* kCorrectIt =
    "; correct it (configuration.md in the docs folder explains "
    "each message)";
constexpr const char* kNotChecked = "not checked, because the configuration did not load";

// The program warns of each duplicate key while it loads a file; the check
// has no log, so it reads the file once more and reports them.
void addDuplicateKeys(const std::string& path, std::vector<Finding>& findings) {
    std::string text;
    if (readConfigFile(path, text) != ConfigFileStatus::Ok) return;
    for (const std::string& key : parseJson(text).duplicateKeys)
        findings.push_back(warnFinding(duplicateKeyText(key, path)));
}

}  // namespace

std::vector<Finding> checkConfiguration(CheckContext& context) {
    const std::string& path = context.configPath;
    if (!pathExists(path)) {
        const std::string text = missingConfigText(
            path, platform::parentPath(context.executablePath), context.appDataDir);
        return {failFinding(text + "; put config.json there, or give its path with --config")};
    }
    std::string error;
    AppConfig config;
    if (!loadAppConfig(path, config, error)) {
        return {failFinding(fullPath(path) + ": " + error + kCorrectIt)};
    }
    context.config = config;
    context.configLoaded = true;
    std::vector<Finding> findings{okFinding(fullPath(path) + " loaded")};
    addDuplicateKeys(path, findings);
    return findings;
}

std::vector<Finding> checkEventMap(CheckContext& context) {
    if (!context.configLoaded) return {warnFinding(kNotChecked)};
    const std::string& path = context.config.hidEventMapPath;
    if (path.empty()) {
        return {warnFinding(
            "none (mappings.hidEventMapPath is not set, and no hid_event_map.json lies beside "
            "the configuration), so no control has a name and only the autopilot fallback "
            "works; set mappings.hidEventMapPath")};
    }
    EventMap map;
    std::string error;
    if (!map.load(path, error)) {
        return {failFinding(error +
                            "; the program would run without control names, so only "
                            "the autopilot fallback would work" +
                            kCorrectIt)};
    }
    std::vector<Finding> findings{
        okFinding(fullPath(path) + " loaded (" + std::to_string(map.eventTypes().size()) +
                  " event types, " + std::to_string(map.controlIds().size()) + " controls)")};
    addDuplicateKeys(path, findings);
    return findings;
}

std::vector<Finding> checkButtonConfiguration(CheckContext& context) {
    if (!context.configLoaded) return {warnFinding(kNotChecked)};
    const std::string& path = context.config.buttonConfigPath;
    ButtonConfig buttons;
    std::string error;
    if (!buttons.load(path, error)) {
        return {failFinding(error + "; the program does not start with it" + kCorrectIt)};
    }
    std::vector<Finding> findings{okFinding(fullPath(path) + " loaded")};
    addDuplicateKeys(path, findings);
    return findings;
}
