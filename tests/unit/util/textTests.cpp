// Numbers as text and back, and the shaping of text, dates and fixed buffers.
#include <gtest/gtest.h>

#include <limits>

#include "util/telUtils.h"

TEST(IntToText, BasesSignsAndGrouping) {
    EXPECT_EQ(intToText(int32_t{0}, 1), u"0");
    EXPECT_EQ(intToText(uint32_t{5}, 69), u"");
    EXPECT_EQ(intToText(int32_t{-5}, 1), u"-");
    EXPECT_EQ(intToText(uint64_t{68 * 62 + 67}, 68), u"[$");
    EXPECT_EQ(intToText(std::numeric_limits<int64_t>::min()), u"-9223372036854775808");
    EXPECT_EQ(intToText(std::numeric_limits<uint64_t>::max(), 36), u"3W5E11264SGSF");
    EXPECT_EQ(intToText(int32_t{-1234567}, 10, 3, u','), u"-1,234,567");
    EXPECT_EQ(intToText(uint16_t{100}, 10, 3, u','), u"100");
    EXPECT_EQ(intToText(uint32_t{0xDEADBEEF}, 16, 4, u'_'), u"DEAD_BEEF");
    loadGroupSeparator(); // a space stands for the locale's separator
    EXPECT_EQ(intToText(uint32_t{1000}, 10, 3, u' '), u"1" + telText(1, groupSeparator()) + u"000");
}

TEST(TextToInt, PrefixMarkersDigitsAndTrailing) {
    constexpr int64_t D = -77; // the caller's default
    const struct {
        const char16_t* text;
        uint32_t base;
        telBool ignoreTrailing;
        int64_t expected;
    } cases[] = {
        {u"", 10, telTrue, D}, {u"5", 1, 0, D},       {u"5", 37, 0, D},     {u"1 2", 10, 0, D},
        {u"12.5", 10, 0, D},   {u"12.5", 10, -1, 12}, {u"\t5", 10, -1, D},  {u"-5", 20, 0, D},
        {u"-5", 20, -1, 0},    {u"   ", 10, 0, 0},    {u"007", 10, 0, 7},   {u"0-05", 10, 0, -5},
        {u"-+5", 10, 0, 5},    {u"1A", 10, 0, 20},    {u"19", 8, 0, 17},    {u"zZ", 36, 0, 1295},
        {u"0x", 10, 0, 0},     {u"$FF", 10, 0, 255},  {u"7fH", 10, 0, 127}, {u"$-10", 10, 0, -16},
        {u"$FF", 16, 0, D},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textToInt(c.text, D, c.base, c.ignoreTrailing), c.expected) << "case " << (&c - cases);
    EXPECT_EQ(textToInt(u"4294967297", int32_t{9}), 1);
    EXPECT_EQ(textToInt(u"1.5", int32_t{9}), 9);
    EXPECT_EQ(textToInt(u"-9223372036854775808", int64_t{9}), std::numeric_limits<int64_t>::min());
}

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

TEST(DateTimeText, DateWhenItChangesEvenOnlyInTheYearAndYearsUnpadded) {
    plat::CalendarTime time{2031, 7, 5, 4, 9, 5, 3, 42};
    EXPECT_EQ(dateText(time), u"2031.07.04 ");
    time.year = 987; // (an unchanged date, shown once, is in the log output's lines)
    EXPECT_EQ(dateText(time), u"987.07.04 ");
}
