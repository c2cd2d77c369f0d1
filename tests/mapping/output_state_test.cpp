#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes/led_commands.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "mapping/output_state.h"

namespace {

LedCommand connectedWithLevel(const OutputProfile& profile, double level) {
    return OutputState::computeLedCommand(profile, true, true, true, true, level);
}

TEST(LedCommandTest, BacklightFollowsTheLevelWhileConnectedAndPowered) {
    const OutputProfile defaults;
    // Connected, no battery report, no level yet: the default 80 percent.
    EXPECT_EQ(OutputState::computeLedCommand(defaults, true, false, false, false, 0), steady(80));
    EXPECT_EQ(connectedWithLevel(defaults, 0.5), steady(50));
    EXPECT_EQ(connectedWithLevel(defaults, 1.0), steady(100));
    // Above 1.0 the value is already a percentage: 1.5 rounds to 2.
    EXPECT_EQ(connectedWithLevel(defaults, 1.5), steady(2));
    EXPECT_EQ(connectedWithLevel(defaults, 0.005), steady(1));  // 0.5 rounds away from zero
    EXPECT_EQ(connectedWithLevel(defaults, 0.0), steady(0));
}

TEST(LedCommandTest, BacklightRangeScaleAndModes) {
    OutputProfile profile;
    profile.backlight.min = 20;
    profile.backlight.max = 60;
    EXPECT_EQ(connectedWithLevel(profile, 0.9), steady(60));
    EXPECT_EQ(connectedWithLevel(profile, 0.1), steady(20));

    OutputProfile scaled;
    scaled.backlight.max = 400;
    scaled.backlight.scale = 2.55;
    EXPECT_EQ(connectedWithLevel(scaled, 1.0), steady(255));  // 255 fits a byte
    scaled.backlight.scale = 3.0;
    EXPECT_EQ(connectedWithLevel(scaled, 1.0), steady(255));  // 300 is clamped to the byte

    OutputProfile fixed;
    fixed.backlight.mode = " Fixed ";
    fixed.backlight.value = 300;
    EXPECT_EQ(connectedWithLevel(fixed, 0.5), steady(255));
    fixed.backlight.value = -4;
    EXPECT_EQ(connectedWithLevel(fixed, 0.5), steady(0));

    OutputProfile off;
    off.backlight.mode = "off";
    EXPECT_EQ(connectedWithLevel(off, 0.9), steady(0));
}

TEST(LedCommandTest, OddLevelsNeverOverflowTheByte) {
    OutputProfile profile;
    profile.backlight.max = std::numeric_limits<std::int32_t>::max();
    profile.backlight.scale = 1e300;
    EXPECT_EQ(connectedWithLevel(profile, 50), steady(255));
    EXPECT_EQ(connectedWithLevel(profile, std::nan("")), steady(0));
}

TEST(LedCommandTest, EffectsShowDisconnectedAndBatteryOff) {
    const OutputProfile defaults;
    const LedCommand flash = animated(HidProtocol::kLedFlash, 4, 150, 100);
    const LedCommand breathe = animated(HidProtocol::kLedBreathe, 5, 1000, 50);
    EXPECT_EQ(OutputState::computeLedCommand(defaults, false, false, false, true, 0.7), flash);
    EXPECT_EQ(OutputState::computeLedCommand(defaults, false, true, true, true, 0.7), flash);
    EXPECT_EQ(OutputState::computeLedCommand(defaults, false, true, false, true, 0.7), flash);
    EXPECT_EQ(OutputState::computeLedCommand(defaults, true, true, false, true, 0.7), breathe);
}

TEST(LedCommandTest, EffectFieldsAreClamped) {
    LedEffectConfig effect{" steady ", -5, 0, 0, 0};
    EXPECT_EQ(OutputState::effectCommand(effect), steady(0));
    effect.brightness = 999;
    EXPECT_EQ(OutputState::effectCommand(effect), steady(255));

    LedEffectConfig flash{"FLASH", 77, -1, 70000, 300};
    EXPECT_EQ(OutputState::effectCommand(flash), animated(HidProtocol::kLedFlash, 0, 65535, 255));

    for (const char* name : {"OFF", "", "sparkle"}) {
        EXPECT_EQ(OutputState::effectCommand(LedEffectConfig{name, 9, 9, 9, 9}), LedCommand{})
            << name;
    }
}

TEST(BacklightPayloadTest, AcceptsNumbersAndAssignments) {
    double level = -1;
    EXPECT_TRUE(OutputState::parseBacklightPayload("0.42", level));
    EXPECT_DOUBLE_EQ(level, 0.42);
    EXPECT_TRUE(OutputState::parseBacklightPayload("  0.75", level));
    EXPECT_DOUBLE_EQ(level, 0.75);
    EXPECT_TRUE(OutputState::parseBacklightPayload("l:lighting_potentiometer_5 = 0.8;", level));
    EXPECT_DOUBLE_EQ(level, 0.8);
    EXPECT_TRUE(
        OutputState::parseBacklightPayload("x;LIGHTING_POTENTIOMETER_5=0.25\nother=9", level));
    EXPECT_DOUBLE_EQ(level, 0.25);
    // The value is read from the text as received, after the name.
    EXPECT_TRUE(OutputState::parseBacklightPayload("a=1;L:LIGHTING_POTENTIOMETER_5= 42abc", level));
    EXPECT_DOUBLE_EQ(level, 42.0);
}

TEST(BacklightPayloadTest, RefusesWhatIsNotALevel) {
    double level = 7;
    for (const char* text : {"", "0.4 ", "abc", "LIGHTING_POTENTIOMETER_5",
                             "LIGHTING_POTENTIOMETER_5=", "LIGHTING_POTENTIOMETER_5=x", "1e999",
                             "nan", "inf", "LIGHTING_POTENTIOMETER_5=inf"}) {
        EXPECT_FALSE(OutputState::parseBacklightPayload(text, level)) << text;
    }
    EXPECT_EQ(level, 7);
}

// A simulator (or anyone on its link) sending garbage that names the
// backlight: one line quoting the first, cut and on its own line, then a
// count; never a line per payload.
TEST(BacklightPayloadTest, GarbageIsLoggedOnceSafelyThenCounted) {
    LogCapture log;
    ManualClock clock;
    {
        OutputState state(clock);
        for (int i = 0; i < 10000; ++i) {
            state.onLVarPayload("LIGHTING_POTENTIOMETER_5=x" + std::to_string(i) +
                                    "\n2026-01-01 00:00:00 [ERROR] FORGED" + std::string(60000, 'g'),
                                clock.now());
        }
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u) << log.dump();
        EXPECT_NE(lines[0].find("could not be parsed: LIGHTING_POTENTIOMETER_5=x0\\x0A2026"),
                  std::string::npos)
            << lines[0];
        EXPECT_LT(lines[0].size(), 300u);
    }
    EXPECT_EQ(log.count("Backlight LVar payload received but could not be parsed (repeated 9999 "
                        "times)"),
              1)
        << log.dump();
    EXPECT_EQ(log.lines().size(), 2u);
}

}  // namespace
