// The suite's checks in the order they run, each with its stable id and one line on
// what it checks.
#pragma once

#include <string>
#include <vector>

#include "conform/checkContext.h"

namespace conform {

struct CheckEntry {
    const char* id;
    const char* what;
    CheckFunction run;
};

const std::vector<CheckEntry>& allChecks();
// The check with this id; nullptr for none.
const CheckEntry* findCheck(const std::string& id);

// Runs one check in this process and times it; a driver call that threw fails it.
CheckReport runCheck(const CheckEntry& check, CheckContext& context);

} // namespace conform
