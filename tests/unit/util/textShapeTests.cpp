#include <gtest/gtest.h>

#include "util/telUtils.h"

TEST(TextShape, TrimUpperCaseAndPad) {
    EXPECT_EQ(trimText(u" \t a b \r\n", telTrue, telFalse), u"a b \r\n");
    EXPECT_EQ(trimText(u" \t a b \r\n", telFalse, telTrue), u" \t a b");
    EXPECT_EQ(trimText(u" \x01\t \x1f ", telFalse, telTrue), u"");
    EXPECT_EQ(upperCaseText(u"azAZ`{09-\u00e9\u00df"), u"AZAZ`{09-\u00e9\u00df");
    EXPECT_EQ(padText(u"ab", -3, u'*', telTrue, telFalse), u"*ab");
    EXPECT_EQ(padText(u"ab", 4, u'*', telFalse, telFalse), u"ab**");
    EXPECT_EQ(padText(u"abcd", 3, u'*', telTrue, telFalse), u"abcd");
    EXPECT_EQ(padText(u"abcd", 3, u'*', telTrue, telTrue), u"bcd");
    EXPECT_EQ(padText(u"abcd", -3, u'*', telFalse, telTrue), u"abc");
}

TEST(TextShape, CopyIntoFixedBuffers) {
    char narrow[6] = {'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(copyTextToBuffer("hello world", narrow, 4), 4);
    EXPECT_EQ(std::string(narrow, 6), std::string("hell\0Z", 6));
    EXPECT_EQ(copyTextToBuffer("ab", narrow, 0), 0);
    EXPECT_EQ(narrow[0], '\0');
    char16_t wide[4] = {u'Z', u'Z', u'Z', u'Z'};
    EXPECT_EQ(copyWideTextToBuffer(u"abcdef", wide, 3), 3);
    EXPECT_EQ(telText(wide), u"abc");
}

TEST(DateTimeText, DateOnlyWhenItChanges) {
    plat::CalendarTime time{2031, 7, 5, 4, 9, 5, 3, 42};
    EXPECT_EQ(timeText(time), u"09:05:03.042 ");
    EXPECT_EQ(dateText(time), u"2031.07.04 ");
    time.hour = 23; // a new time of the same day
    EXPECT_EQ(dateText(time), u" ");
    time.year = 987;
    EXPECT_EQ(dateText(time), u"987.07.04 ");
}
