#pragma once

#include "hid/hid_manager.h"
#include "mapping/output_state.h"

// LED commands to the panels the HID manager has open. Its writes never
// wait on a panel (see HidManager). The manager must outlive it.
class HidPanelOutput final : public PanelOutput {
public:
    explicit HidPanelOutput(HidManager& hid) : hid_(hid) {}

    void writeLed(const std::string& name, std::int32_t index, const LedCommand& command) override {
        hid_.writeLedCommand(name, index, command);
    }
    void forgetLed(const std::string& name, std::int32_t index) override {
        hid_.forgetLedCommand(name, index);
    }

private:
    HidManager& hid_;
};
