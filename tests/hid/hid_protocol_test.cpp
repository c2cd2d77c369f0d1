#include <gtest/gtest.h>

#include <vector>

#include "hid/hid_protocol.h"

using namespace HidProtocol;

namespace {

std::vector<std::uint8_t> report(std::initializer_list<std::uint8_t> head, std::size_t size = 32) {
    std::vector<std::uint8_t> bytes(head);
    bytes.resize(size, 0);
    return bytes;
}

TEST(HidProtocolDecodeTest, FullAndIdLessReportsDecodeToTheSameEvent) {
    const auto full = report({0x01, 0x07, 0x01, 0x00, 0x34, 0x12, 0xFF, 0x03, 0x00});
    const std::vector<std::uint8_t> idLess(full.begin() + 1, full.end());
    for (const auto* bytes : {&full, &idLess}) {
        HidEvent event;
        std::string error;
        ASSERT_TRUE(decodeInputReport(bytes->data(), bytes->size(), event, error));
        EXPECT_EQ(event.aux0, 7);
        EXPECT_EQ(event.type, 1);
        EXPECT_EQ(event.controlId, 0x1234);
        EXPECT_EQ(event.value, -1);
        EXPECT_EQ(event.speed, 3);
        EXPECT_EQ(event.mode, 0);
        EXPECT_EQ(event.aux1, 0);
    }
}

TEST(HidProtocolDecodeTest, UnlistedBytesAreIgnoredAndAux1IsLittleEndian) {
    auto bytes = report({0x01, 0x00, 0x02, 0xEE, 0x01, 0x00, 0x80, 0x09, 0x01, 0xCD, 0xAB});
    for (std::size_t i = 11; i < 32; ++i)
        bytes[i] = 0xFF;
    HidEvent event;
    std::string error;
    ASSERT_TRUE(decodeInputReport(bytes.data(), bytes.size(), event, error));
    EXPECT_EQ(event.type, 2);
    EXPECT_EQ(event.controlId, 1);
    EXPECT_EQ(event.value, -128);
    EXPECT_EQ(event.speed, 9);
    EXPECT_EQ(event.mode, 1);
    EXPECT_EQ(event.aux1, 0xABCD);
}

TEST(HidProtocolDecodeTest, BadReportsFailAndLeaveTheEventUntouched) {
    HidEvent event;
    event.controlId = 77;
    std::string error;
    const auto wrongId = report({0x02, 0x07, 0x01});
    EXPECT_FALSE(decodeInputReport(wrongId.data(), wrongId.size(), event, error));
    EXPECT_EQ(error, "Unexpected report ID");
    const auto shortRead = report({0x01, 0x07, 0x01}, 20);
    EXPECT_FALSE(decodeInputReport(shortRead.data(), shortRead.size(), event, error));
    EXPECT_EQ(error, "Invalid report length");
    EXPECT_FALSE(decodeInputReport(shortRead.data(), 0, event, error));
    EXPECT_EQ(error, "Invalid report length");
    EXPECT_EQ(event.controlId, 77);
}

TEST(HidProtocolDecodeTest, BuiltInputReportsRoundTrip) {
    HidEvent in;
    in.aux0 = 0x5A;
    in.type = 2;
    in.controlId = 0xBEEF;
    in.value = -3;
    in.speed = 200;
    in.mode = 1;
    in.aux1 = 0x0102;
    const Report bytes = buildInputReport(in);
    EXPECT_EQ(bytes[0], kInputReportId);
    HidEvent out;
    std::string error;
    ASSERT_TRUE(decodeInputReport(bytes.data(), bytes.size(), out, error));
    EXPECT_EQ(out.aux0, in.aux0);
    EXPECT_EQ(out.type, in.type);
    EXPECT_EQ(out.controlId, in.controlId);
    EXPECT_EQ(out.value, in.value);
    EXPECT_EQ(out.speed, in.speed);
    EXPECT_EQ(out.mode, in.mode);
    EXPECT_EQ(out.aux1, in.aux1);
}

TEST(HidProtocolFeatureTest, IdentityReportGivesTheBoardIdText) {
    Report bytes{};
    const std::uint8_t head[] = {0x20, 1,    2,    3,    4,    5,    6,    0x34, 0x12, 0x78,
                                 0x56, 0xE6, 0x61, 0x41, 0x03, 0xE7, 0x45, 0x2D, 0x2F};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    DeviceIdentity identity;
    std::string error;
    ASSERT_TRUE(parseIdentityReport(bytes, identity, error));
    EXPECT_EQ(formatBoardId(identity.boardId), "E6614103E7452D2F");
    EXPECT_EQ(identity.identBytes[0], 1);
    EXPECT_EQ(identity.identBytes[5], 6);
    EXPECT_EQ(identity.identWord1, 0x1234);
    EXPECT_EQ(identity.identWord2, 0x5678);

    bytes[0] = 0x21;
    EXPECT_FALSE(parseIdentityReport(bytes, identity, error));
    EXPECT_EQ(error, "Unexpected report ID");
    EXPECT_EQ(formatBoardId({0, 0x0A, 0, 0, 0, 0, 0, 0xF0}), "000A0000000000F0");
}

TEST(HidProtocolFeatureTest, ProtocolReportAndItsTraceLine) {
    Report bytes{};
    bytes[0] = 0x21;
    bytes[1] = 1;
    bytes[2] = 2;
    bytes[3] = 0x0A;
    ProtocolInfo info;
    std::string error;
    ASSERT_TRUE(parseProtocolReport(bytes, info, error));
    EXPECT_EQ(traceProtocolInfo("PANEL", info),
              "HID protocol info: device=PANEL proto=1.2 flags=0x0A");

    bytes[0] = 0x20;
    EXPECT_FALSE(parseProtocolReport(bytes, info, error));
    EXPECT_EQ(error, "Unexpected report ID");
}

TEST(HidProtocolOutputTest, OutputReportBytes) {
    LedCommand command;
    command.effect = HidProtocol::kLedFlash;
    command.brightness = 0;
    command.param0 = 4;
    command.reserved = 0xAA;  // never transmitted
    command.param1 = 150;
    command.param2 = 100;
    Report expected{};
    const std::uint8_t head[] = {0x10, 0x03, 0x00, 0x04, 0x96, 0x00, 0x64};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(buildLedCtlReport(command), expected);

    command.param1 = 0x1234;
    EXPECT_EQ(buildLedCtlReport(command)[4], 0x34);
    EXPECT_EQ(buildLedCtlReport(command)[5], 0x12);
    LedCommand back;  // as a panel reads it: the reserved byte never arrives
    ASSERT_TRUE(parseLedCtlReport(buildLedCtlReport(command).data(), kReportSize, back));
    command.reserved = 0;
    EXPECT_EQ(back, command);
    EXPECT_FALSE(parseLedCtlReport(buildSimStatusReport(true).data(), kReportSize, back));
    EXPECT_FALSE(parseLedCtlReport(buildLedCtlReport(command).data(), 6, back));

    Report status{};
    status[0] = 0x11;
    EXPECT_EQ(buildSimStatusReport(false), status);
    status[1] = 1;
    EXPECT_EQ(buildSimStatusReport(true), status);

    Report control{};
    control[0] = 0x12;
    control[1] = 2;
    EXPECT_EQ(buildDeviceCtlReport(kDeviceCtlBootsel), control);
}

TEST(HidProtocolTextTest, ActionNamesAndHexBytes) {
    EXPECT_STREQ(actionName(1), "BUTTON_PRESS");
    EXPECT_STREQ(actionName(2), "BUTTON_RELEASE");
    EXPECT_STREQ(actionName(3), "HOLD");
    EXPECT_STREQ(actionName(4), "ENC_CW");
    EXPECT_STREQ(actionName(5), "ENC_CCW");
    EXPECT_STREQ(actionName(0), "NONE");
    EXPECT_STREQ(actionName(6), "NONE");
    EXPECT_STREQ(actionName(-1), "NONE");

    const std::uint8_t bytes[] = {0x00, 0x0F, 0xA0, 0xFF};
    EXPECT_EQ(hexBytes(bytes, 4), "000FA0FF");
    EXPECT_EQ(hexBytes(bytes, 0), "");
}

TEST(HidProtocolTextTest, TraceLines) {
    const std::uint8_t in[] = {0x01, 0x02, 0xAB};
    EXPECT_EQ(traceInput("P1", in, 3), "HID IN device=P1 bytes=3 data=0102AB");

    const Report status = buildSimStatusReport(true);
    EXPECT_EQ(traceOutput("sim_status", "P1", 0, status),
              "HID OUT sim_status device=P1 bytes=0 data=1101" + std::string(60, '0'));
    EXPECT_EQ(traceDeviceCtl(buildDeviceCtlReport(2)),
              "HID OUT device_ctl action=2 data=1202" + std::string(60, '0'));
}

}  // namespace
