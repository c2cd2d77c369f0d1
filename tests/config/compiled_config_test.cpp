#include "config/compiled_config.h"

#include <gtest/gtest.h>

#include <string>

#include "config/button_config.h"
#include "config/event_map.h"

namespace {

ButtonConfig loadedButtons(const std::string& text) {
    ButtonConfig buttons;
    std::string error;
    EXPECT_TRUE(buttons.loadFromText(text, error)) << error;
    return buttons;
}

EventMap loadedEvents(const std::string& text) {
    EventMap events;
    std::string error;
    EXPECT_TRUE(events.loadFromText(text, error)) << error;
    return events;
}

class CompiledConfigTest : public ::testing::Test {
protected:
    const std::string& text(std::int32_t id, ControlAction action, const std::string& role) {
        return compiled.command(*compiled.control(id), action, compiled.roleId(role));
    }

    AppConfig config;
    ButtonConfig buttons = loadedButtons(
        "{\"buttons\":[{\"name\":\" map_left\",\"commands\":{"
        "\"press\":{\"PFD\":\"P\",\" co pilot \":\"C\"},\"HOLD\":{\"DEFAULT\":\"H\"},"
        "\"RELEASE\":{\"pfd\":\"R\"}}},"
        "{\"name\":\"NAV_SWAP\",\"commands\":{\"PRESS\":{\"\":\"S\"}}}],"
        "\"knobs\":[{\"name\":\"HDG\",\"commands\":{\"CW\":{\"DEFAULT\":\"inc\"},"
        "\"cw_fast\":{\"MFD\":\"fast\"}}}]}");
    EventMap eventMap = loadedEvents(
        "{\"event_types\":{\"BUTTON\":1},"
        "\"control_ids\":{\"Map_Left\":1,\"NAV_SWAP\":2,\"HDG\":3,\"MAP_UP\":4}}");
    CompiledConfig compiled{config, buttons, eventMap};
};

TEST_F(CompiledConfigTest, CommandsFollowTheLookupOfTheButtonTable) {
    // Every (control, action key, role) the dispatcher may ask for gives
    // what the button table's own lookup gives.
    for (const auto& [id, name] : eventMap.controlIds()) {
        for (const char* role : {"", "PFD", "mfd", "Co Pilot", "DEFAULT", "OTHER"}) {
            for (const ControlAction action :
                 {ControlAction::Press, ControlAction::Release, ControlAction::Hold,
                  ControlAction::Clockwise, ControlAction::CounterClockwise,
                  ControlAction::ClockwiseFast, ControlAction::CounterClockwiseFast}) {
                EXPECT_EQ(text(id, action, role),
                          buttons.lookup(name, controlActionKey(action), role))
                    << name << " " << controlActionKey(action) << " " << role;
            }
        }
    }
    EXPECT_EQ(text(1, ControlAction::Press, "copilot"), "C");
    EXPECT_EQ(text(1, ControlAction::Release, "MFD"), "");  // no DEFAULT for this action
    EXPECT_EQ(text(3, ControlAction::ClockwiseFast, "MFD"), "fast");
    EXPECT_EQ(compiled.control(99), nullptr);
    EXPECT_EQ(compiled.eventTypeName(1), "BUTTON");
    EXPECT_EQ(compiled.eventTypeName(2), "");
}

TEST_F(CompiledConfigTest, ControlsAreFlaggedByTheirNormalisedName) {
    EXPECT_TRUE(compiled.control(1)->managedMap);
    EXPECT_FALSE(compiled.control(1)->holdOff);
    EXPECT_TRUE(compiled.control(2)->holdOff);
    EXPECT_FALSE(compiled.control(2)->managedMap);
    EXPECT_FALSE(compiled.control(3)->managedMap || compiled.control(3)->holdOff);
    // Named by the event map only: no entry, so neither flag.
    EXPECT_FALSE(compiled.control(4)->hasEntry);
    EXPECT_FALSE(compiled.control(4)->managedMap);
}

TEST(CompiledPanelTest, EachPanelGetsItsEntryRoleAndLightProfile) {
    AppConfig config;
    OutputProfile night;
    night.backlight.mode = "FIXED";
    night.simDisconnected.effect = "STEADY";
    config.outputs.profiles["NIGHT"] = night;
    config.outputs.profiles["DEFAULT"] = OutputProfile{};
    config.outputs.roleProfiles["MFD"] = "NIGHT";
    config.devices.push_back(DeviceConfig{"E661", -1, " mfd ", ""});
    config.devices.push_back(DeviceConfig{"", 2, "PFD", ""});
    const ButtonConfig buttons =
        loadedButtons("{\"buttons\":[{\"name\":\"A\",\"commands\":{\"PRESS\":{\"MFD\":\"m\"}}}]}");
    const EventMap events;
    const CompiledConfig compiled(config, buttons, events);

    const PanelSettings mfd = compiled.panel("0xe661", 0);
    EXPECT_EQ(mfd.entry, &config.devices[0]);
    EXPECT_EQ(mfd.configuredRole, compiled.roleId("MFD"));
    EXPECT_NE(mfd.configuredRole, kDefaultRole);
    ASSERT_NE(mfd.light, nullptr);
    EXPECT_EQ(mfd.light->mode, BacklightMode::Fixed);
    EXPECT_EQ(mfd.light->simDisconnected.effect, LightEffect::Steady);
    EXPECT_EQ(mfd.light->batteryOff.effect, LightEffect::Breathe);

    const PanelSettings pfd = compiled.panel("FFFF", 2);
    EXPECT_EQ(pfd.entry, &config.devices[1]);
    EXPECT_EQ(pfd.configuredRole, kDefaultRole);  // no text names PFD
    ASSERT_NE(pfd.light, nullptr);
    EXPECT_EQ(pfd.light->mode, BacklightMode::LVar);

    EXPECT_EQ(compiled.panel("FFFF", 7).entry, nullptr);

    // The directory asks once per panel, and keeps answering past its bound.
    PanelDirectory panels(compiled);
    const PanelSettings* first = &panels.find("E661", 0);
    EXPECT_EQ(&panels.find("E661", 0), first);
    for (std::int32_t i = 0; i <= static_cast<std::int32_t>(PanelDirectory::kMaxPanels); ++i) {
        panels.find("", i);
    }
    EXPECT_EQ(panels.find("E661", 0).entry, &config.devices[0]);
    EXPECT_EQ(panels.find("", 2).entry, &config.devices[1]);
}

}  // namespace
