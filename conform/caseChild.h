// The child's side of an isolated check: this program started again with the internal
// switch /conform-case=INDEX,ID[,CALL+CALL...] (and /skipcp when the suite skips the
// control panel); the calls named last hung in an earlier check and are not made again.
// It prints nothing: it installs the call beacon, runs the one check against the driver
// at that index and sends its result to the parent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio/driverCall.h"

namespace conform {

// The internal switch's name.
inline constexpr const char16_t* caseSwitch = u"conform-case";

// True when this process runs one check for a parent.
bool caseChildRequested();

// Runs the check; the exit status is 0 once the result was sent, 3 when there was no
// parent or no such driver or check.
int runCaseChild();

// The arguments a parent starts a child with.
std::vector<std::u16string> caseArguments(int32_t index, const std::string& id, bool skipControlPanel,
                                          const std::vector<telDriverCall>& barred = {});

} // namespace conform
