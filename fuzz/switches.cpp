// Fuzz target: the command-line switch routines (findSwitch, switchPresent,
// switchArgument) over arguments from the input, through setArgumentsForTesting.
//
// Input: UTF-16LE text cut at U+000A into pieces: the first is the switch name asked
// for, the others are the arguments after the program path; the first byte chooses
// exact matching. Checked: a found switch is an argument with a switch lead at a
// position in range; switchPresent agrees with findSwitch; switchArgument gives the
// default when the switch is missing, and otherwise a tail of the argument.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/telUtils.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "switches: %s\n", what);
    std::abort();
}

bool endsWith(const telText& text, const telText& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const telBool exact = toTelBool(data[0] & 1);
    std::vector<telText> pieces(1);
    for (size_t i = 1; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == u'\n')
            pieces.emplace_back();
        else
            pieces.back() += unit;
    }
    const telText name = pieces.front();
    std::vector<telText> arguments(pieces.begin(), pieces.end());
    arguments.front() = u"fuzz"; // the program path; an empty list would mean the real arguments
    setArgumentsForTesting(arguments);

    require(argumentCount() == static_cast<int32_t>(arguments.size()) - 1, "argument count");
    int32_t position = 0;
    const telBool found = findSwitch(name, exact, position);
    require(switchPresent(name, exact) == found, "switchPresent disagrees with findSwitch");
    if (found) {
        require(position >= 1 && position <= argumentCount(), "position out of range");
        const telText argument = argumentText(position);
        require(argument.size() >= 2 && (argument[0] == u'/' || argument[0] == u'-' || argument[0] == u'\\'),
                "a found switch without its lead");
    } else {
        require(position == -1, "a missing switch has a position");
    }

    telText value;
    switchArgument(name, exact, u"default", value);
    if (found)
        require(endsWith(argumentText(position), value), "the value is not the end of its argument");
    else
        require(value == u"default", "a missing switch does not give the default");
    setArgumentsForTesting({});
    return 0;
}
