// Conversions between the system's UTF-16 text and the platform's 8-bit text.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(TextConversion, AsciiAndEmptyTextPassUnchanged) {
    EXPECT_EQ(plat::toNarrow(u"Name : x\r\n") + plat::toNarrow(u""), "Name : x\r\n");
    EXPECT_EQ(plat::fromNarrow("/index=2") + plat::fromNarrow(""), u"/index=2");
}

#ifndef _WIN32
// The Linux side is UTF-8 whatever the process locale says.
TEST(TextConversion, Utf8EncodingOfEveryLength) {
    const std::u16string text = u"A\u00e9\u20ac\U0001F3B5"; // 1, 2, 3 and 4 bytes
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5";
    EXPECT_EQ(plat::toNarrow(text), utf8);
    EXPECT_EQ(plat::fromNarrow(utf8), text);
    EXPECT_EQ(plat::fromNarrow(plat::toNarrow(u"\uFFFF\U0010FFFF\u0800\u07FF")),
              u"\uFFFF\U0010FFFF\u0800\u07FF");
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(plat::toNarrow(std::u16string{u'a', 0xD800, u'b'}), "a" + fffd + "b");
    EXPECT_EQ(plat::toNarrow(std::u16string{0xDC00, 0xD800}), fffd + fffd); // reversed pair
    EXPECT_EQ(plat::toNarrow(std::u16string{u'x', 0xDBFF}), "x" + fffd);    // cut off at the end
}

TEST(TextConversion, IllFormedUtf8BecomesReplacementCharacters) {
    struct Case {
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a\x80z", u"a\uFFFDz"},                            // stray continuation byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong lead byte
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", std::u16string(4, u'\uFFFD')}, // above U+10FFFF
        {"\xE2\x82", u"\uFFFD"},                            // truncated at the end
        {"\xE2\x82z", u"\uFFFDz"},                          // truncated, next byte kept
        {"\xF0\x9F\x8E", u"\uFFFD"},                        // truncated four-byte form
        {"\xFF", u"\uFFFD"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::fromNarrow(c.input), c.expected) << "input length " << c.input.size();
}
#else
// Windows converts through the ANSI code page; the usual ones all hold this letter.
TEST(TextConversion, AnsiCodePageRoundTrip) {
    EXPECT_EQ(plat::fromNarrow(plat::toNarrow(u"caf\u00e9")), u"caf\u00e9");
}
#endif

} // namespace
