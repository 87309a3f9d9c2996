#include <gtest/gtest.h>

#include "util/telUtils.h"

TEST(Switches, IndexMatchingAndValues) {
    const struct {
        std::vector<telText> arguments;
        int32_t position;
        telText value;
    } cases[] = {
        {{u"/index=3"}, 1, u"3"},   {{u"/INDEX:3"}, 1, u"3"},
        {{u"-index=3"}, 1, u"3"},   {{u"\\Index=3"}, 1, u"3"},
        {{u"/index"}, 1, u""},      {{u"/index:"}, 1, u""},
        {{u"/index==5"}, 1, u"5"},  {{u"/index=::5"}, 1, u":5"},
        {{u"/indexx=2"}, -1, u"0"}, {{u"/index3"}, -1, u"0"},
        {{u"index=3"}, -1, u"0"},   {{u"/", u"-", u"abc", u"/index=1", u"/index=2"}, 4, u"1"},
    };
    for (const auto& c : cases) {
        std::vector<telText> arguments = {u"/index=9"}; // the program path is never a switch
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        setArgumentsForTesting(arguments);
        int32_t position = 0;
        telText value;
        EXPECT_EQ(findSwitch(u"index", telFalse, position), c.position > 0 ? telTrue : telFalse);
        switchArgument(u"index", telFalse, u"0", value);
        EXPECT_EQ(position, c.position) << "case " << (&c - cases);
        EXPECT_EQ(value, c.value) << "case " << (&c - cases);
    }
    setArgumentsForTesting({u"prog", u"/skipcp=no", u"-NoSine"});
    EXPECT_TRUE(switchPresent(u"skipcp", telFalse) && switchPresent(u"nosine", telFalse));
    EXPECT_FALSE(switchPresent(u"noloop", telFalse));
    EXPECT_TRUE(switchPresent(u"NoSine", telTrue));
    EXPECT_FALSE(switchPresent(u"nosine", telTrue) || switchPresent(u"skipcp", telTrue));
    setArgumentsForTesting({});
}
