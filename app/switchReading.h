// Reading one switch of the command line by its name (no exact match: "/seconds" also
// answers to "/SECONDS").
#pragma once

#include "core/telTypes.h"
#include "util/telUtils.h"

inline bool switchGiven(const char16_t* name) {
    return switchPresent(name, telFalse) != 0;
}

// The switch's value ("" when it has none, or is not given).
inline telText switchValue(const char16_t* name) {
    telText value;
    switchArgument(name, telFalse, u"", value);
    return value;
}
