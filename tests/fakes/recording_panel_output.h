#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "mapping/output_state.h"

// Panels as the engine's output sees them, on the test's thread: each
// panel keeps the LED commands it received. Like the HID manager, a command
// equal to the last one a panel received is not sent again until it is
// forgotten. Not thread-safe: for engines driven by the test itself.
class RecordingPanelOutput final : public PanelOutput {
public:
    void writeLed(const std::string& name, std::int32_t index, const LedCommand& command) override {
        Panel& panel = panels_[{name, index}];
        if (panel.lastValid && panel.last == command) return;
        panel.last = command;
        panel.lastValid = true;
        panel.received.push_back(command);
    }
    void forgetLed(const std::string& name, std::int32_t index) override {
        panels_[{name, index}].lastValid = false;
    }
    std::vector<LedCommand> received(const std::string& name, std::int32_t index) const {
        const auto found = panels_.find({name, index});
        return found == panels_.end() ? std::vector<LedCommand>{} : found->second.received;
    }

private:
    struct Panel {
        LedCommand last{};
        bool lastValid = false;
        std::vector<LedCommand> received;
    };
    std::map<std::pair<std::string, std::int32_t>, Panel> panels_;
};
