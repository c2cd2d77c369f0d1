// What the MobiFlight module's L-variable area carries, as the session
// hands it to the LED side: floats whose bytes may look like text, and text.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sim/mobiflight_protocol.h"

namespace {

std::string decode(const std::vector<std::uint8_t>& bytes) {
    LVarPayload payload;
    return mobiflight::decodeLVarPayload(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                         payload)
               ? payload.shown()
               : "<none>";
}

std::vector<std::uint8_t> floatPayload(float value, std::size_t size = 4096) {
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

TEST(LVarPayloadTest, FloatsAreDecodedEvenWhenTheirBytesLookLikeText) {
    EXPECT_EQ(decode(floatPayload(42.5f)), "42.500000");  // first byte zero
    EXPECT_EQ(decode(floatPayload(0.4f)), "0.400000");    // CD CC CC 3E
    EXPECT_EQ(decode(floatPayload(1.0f)), "1.000000");
    EXPECT_EQ(decode(floatPayload(0.0f)), "0.000000");
    EXPECT_EQ(decode(floatPayload(0.75f, 4)), "0.750000");
    // Printable bytes that are still a float: "AAAA" and "12" + 00 + 3F.
    EXPECT_EQ(decode({'A', 'A', 'A', 'A', 0, 0, 0, 0}), "12.078431");
    std::uint32_t bits = 0x3F003231;  // bytes 31 32 00 3F, about 0.50076
    std::vector<std::uint8_t> digits(8, 0);
    std::memcpy(digits.data(), &bits, 4);
    EXPECT_EQ(decode(digits), "0.500766");
    EXPECT_EQ(decode(floatPayload(std::numeric_limits<float>::quiet_NaN())), "<none>");
    EXPECT_EQ(decode(floatPayload(std::numeric_limits<float>::infinity())), "<none>");
    EXPECT_EQ(decode({0xCD, 0xCC}), "<none>");  // too short for a float
}

TEST(LVarPayloadTest, TextPayloadsStayText) {
    auto text = [](const std::string& s, std::size_t size = 64) {
        std::vector<std::uint8_t> bytes(size, 0);
        std::memcpy(bytes.data(), s.data(), std::min(s.size(), size));
        return bytes;
    };
    EXPECT_EQ(decode(text("l:lighting_potentiometer_5 = 0.8;")),
              "l:lighting_potentiometer_5 = 0.8;");
    EXPECT_EQ(decode(text("0.42")), "0.42");
    EXPECT_EQ(decode(text("0.5")), "0.5");
    EXPECT_EQ(decode(text("1")), "1");
    EXPECT_EQ(decode(text("a=1")), "a=1");
    EXPECT_EQ(decode(text("READY!")), "READY!");
    EXPECT_EQ(decode(text("0.42", 4)), "0.42");  // no terminator: all bytes
    EXPECT_EQ(decode(text("7", 2)), "7");
}

}  // namespace
