// Running one check in a child process of its own, with a time limit on every driver
// call: a child that crashes or hangs fails its check, never the suite.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "asio/driverCall.h"
#include "conform/caseResult.h"
#include "conform/checkList.h"

namespace conform {

struct CaseSupervision {
    int32_t index = 0; // the driver's position in the list
    bool skipControlPanel = false;
    // Seconds one driver call may take (and the process to end once it reported); the
    // check's own waits between calls are not limited.
    int32_t timeLimitSeconds = 20;
    std::vector<telDriverCall> barred; // calls that hung in an earlier check: not made again
    // Called about every 100 ms while the child runs: seconds so far, the call it is in.
    std::function<void(double seconds, telDriverCall call)> progress;
    // Asked as often: true ends the child and the case (Ctrl+C).
    std::function<bool()> interrupted;
};

// How the case ended, besides its result.
enum class CaseEnd { reported, crashed, hung, interrupted, notStarted };

struct SupervisedCase {
    CaseResult result;
    CaseEnd end = CaseEnd::reported;
    telDriverCall call = telDriverCall::none; // the call it crashed or hung in
};

SupervisedCase runIsolatedCase(const CheckEntry& check, const CaseSupervision& supervision);

} // namespace conform
