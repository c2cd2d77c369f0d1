#include "log/outside_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(OutsideText, ShowsEveryByteThatIsNotPrintableAsciiAndCutsWhole) {
    EXPECT_EQ(outsideText("L:A = 0.5;"), "L:A = 0.5;");
    EXPECT_EQ(outsideText(std::string("a\0b\n\x1b[2J\x7f\xc3\xa9\\", 12)),
              "a\\x00b\\x0A\\x1B[2J\\x7F\\xC3\\xA9\\");
    // The cut counts input bytes, so an escaped byte is never split.
    EXPECT_EQ(outsideText("ab\ncdef", 3), "ab\\x0A... (7 bytes in all)");
    EXPECT_EQ(outsideText(std::string(65536, 'x')).size(),
              kOutsideTextLimit + std::string("... (65536 bytes in all)").size());
    EXPECT_EQ(outsideText("abc", 3), "abc");
}

TEST(OutsideText, WithoutControlBytesKeepsUtf8) {
    EXPECT_EQ(withoutControlBytes("C:\\Users\\J\xc3\xbcrgen\r\n\x1b"),
              "C:\\Users\\J\xc3\xbcrgen\\x0D\\x0A\\x1B");
}
