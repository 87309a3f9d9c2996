// Conversions between the system's UTF-16 text and the platform's 8-bit text.
#include <gtest/gtest.h>

#include "platform/platform.h"

// Windows converts through the ANSI code page; the usual ones all hold these letters.
TEST(TextConversion, RoundTripsAndEmptyText) {
    EXPECT_EQ(plat::fromNarrow(plat::toNarrow(u"/caf\u00e9=2\r\n")), u"/caf\u00e9=2\r\n");
    EXPECT_EQ(plat::toNarrow(u"") + "|" + plat::toNarrow(u"x"), "|x");
    EXPECT_EQ(plat::fromNarrow("") + u"|", u"|");
}

#ifndef _WIN32
// The Linux side is UTF-8 whatever the process locale says.
TEST(TextConversion, Utf8EncodingOfEveryLength) {
    const std::u16string text = u"A\u00e9\u20ac\U0001F3B5\uFFFF\U0010FFFF\u0800\u07FF";
    const std::string utf8 =
        "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xE0\xA0\x80\xDF\xBF";
    EXPECT_EQ(plat::toNarrow(text), utf8);
    EXPECT_EQ(plat::fromNarrow(utf8), text);
}

TEST(TextConversion, IllFormedTextBecomesReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(plat::toNarrow(std::u16string{u'a', 0xD800, u'b'}), "a" + fffd + "b");
    EXPECT_EQ(plat::toNarrow(std::u16string{0xDC00, 0xD800}), fffd + fffd); // reversed pair
    EXPECT_EQ(plat::toNarrow(std::u16string{u'x', 0xDBFF}), "x" + fffd);    // cut off at the end
    const std::pair<std::string, std::u16string> cases[] = {
        {"a\x80z", u"a\uFFFDz"},                            // stray continuation byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong lead byte
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", std::u16string(4, u'\uFFFD')}, // above U+10FFFF
        {"\xE2\x82", u"\uFFFD"},                            // truncated at the end
        {"\xE2\x82z", u"\uFFFDz"},                          // truncated, next byte kept
        {"\xFF", u"\uFFFD"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(plat::fromNarrow(input), expected) << "input length " << input.size();
}
#endif
