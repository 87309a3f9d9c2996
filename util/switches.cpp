// Command-line switches: "/name", "-name" or "\name", optionally followed by "=" or ":"
// and a value; names match without regard to the case of a to z.
#include "util/telUtils.h"

namespace {

// Arguments supplied by tests; empty means the process's own.
std::vector<telText> testArguments;

std::vector<telText> currentArguments() {
    return testArguments.empty() ? plat::arguments() : testArguments;
}

bool isSwitchLead(char16_t ch) {
    return ch == u'-' || ch == u'/' || ch == u'\\';
}

bool matchesSwitch(const telText& arg, const telText& name, bool exact) {
    if (exact) return arg.compare(1, telText::npos, name) == 0;
    // "/name=value" and "/name:value" compare only the name; anything else must be the
    // whole switch.
    const size_t length = name.size();
    const char16_t separator = arg.size() >= length + 2 ? arg[length + 1] : u' ';
    const telText candidate = separator == u'=' || separator == u':' ? arg.substr(1, length) : arg.substr(1);
    return upperCaseText(candidate) == upperCaseText(name);
}

} // namespace

void setArgumentsForTesting(const std::vector<telText>& arguments) {
    testArguments = arguments;
}

int32_t argumentCount() {
    const size_t count = currentArguments().size();
    return count > 0 ? static_cast<int32_t>(count - 1) : 0;
}

telText argumentText(int32_t position) {
    const std::vector<telText> arguments = currentArguments();
    return position >= 0 && static_cast<size_t>(position) < arguments.size() ? arguments[position]
                                                                             : telText();
}

telBool findSwitch(const telText& name, telBool exact, int32_t& position) {
    const std::vector<telText> arguments = currentArguments();
    for (position = 1; static_cast<size_t>(position) < arguments.size(); ++position) {
        const telText& arg = arguments[position];
        if (arg.size() >= 2 && isSwitchLead(arg[0]) && matchesSwitch(arg, name, exact != 0)) return telTrue;
    }
    position = -1;
    return telFalse;
}

telBool switchPresent(const telText& name, telBool exact) {
    int32_t position = 0;
    return findSwitch(name, exact, position);
}

void switchArgument(const telText& name, telBool exact, const telText& defaultValue, telText& value) {
    int32_t position = 0;
    if (findSwitch(name, exact, position)) {
        const telText arg = argumentText(position);
        value = arg.size() > name.size() + 2 ? arg.substr(name.size() + 2) : telText();
    } else {
        value = defaultValue;
    }
    // One leading separator left over from "/name==value" is dropped.
    if (!value.empty() && (value[0] == u':' || value[0] == u'=')) value.erase(0, 1);
}
