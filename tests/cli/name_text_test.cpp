#include "cli/name_text.h"

#include <string>

#include <gtest/gtest.h>

TEST(NameTextTest, TextStaysAndEverythingElseIsEscaped)
{
    EXPECT_EQ(escapedName("/photos/2024 夏/a b.jpg"), "/photos/2024 夏/a b.jpg");
    EXPECT_EQ(escapedName("a\nb\tc\rd.jpg"), "a\\nb\\tc\\rd.jpg");
    EXPECT_EQ(escapedName("\x1B]0;owned\x07.jpg"), "\\x1B]0;owned\\x07.jpg");
    EXPECT_EQ(escapedName(std::string("a\0b\x7F", 4)), "a\\x00b\\x7F");
    // A backslash is doubled, so that no name reads as another's escape.
    EXPECT_EQ(escapedName("a\\nb"), "a\\\\nb");
    // C1 controls are valid UTF-8 that some terminals obey; U+00A0 is not one.
    EXPECT_EQ(escapedName("\xC2\x9B" "31m\xC2\xA0"), "\\xC2\\x9B31m\xC2\xA0");
}

TEST(NameTextTest, InvalidUtf8IsEscapedByteByByte)
{
    EXPECT_EQ(escapedName("\xFF\xFEname"), "\\xFF\\xFEname");
    EXPECT_EQ(escapedName("\xC3"), "\\xC3");                     // cut short
    EXPECT_EQ(escapedName("\xC3(x"), "\\xC3(x");                 // bad continuation
    EXPECT_EQ(escapedName("\xC0\xAF"), "\\xC0\\xAF");            // overlong '/'
    EXPECT_EQ(escapedName("\xE0\x80\xAF"), "\\xE0\\x80\\xAF");   // overlong
    EXPECT_EQ(escapedName("\xED\xA0\x80"), "\\xED\\xA0\\x80");   // a surrogate
    EXPECT_EQ(escapedName("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80"); // past U+10FFFF
    EXPECT_EQ(escapedName("\xF0\x9F\x93\xB7\xEF\xBF\xBD"), "\xF0\x9F\x93\xB7\xEF\xBF\xBD");
}
