// Which late buffer switches the machine, not the driver, is to blame for. A probe
// thread at the driver's priority wakes every millisecond and notes each time it woke
// late (a stall: the machine ran something else, or nothing, instead of it). A late
// switch most of whose lateness fell into stalls would have been late with any driver.
#pragma once

#include <cstdint>
#include <vector>

#include "measure/switchTiming.h"

namespace measure {

// The probe was due at startNs and ran at endNs (steady clock nanoseconds).
struct Stall {
    int64_t startNs = 0;
    int64_t endNs = 0;
};

// How many of the late intervals are explained by the stalls: those whose overlap with
// the stalls covers at least half of their lateness (the interval beyond one period).
// Both lists are in time order; the stalls do not overlap each other.
uint64_t lateIntervalsInStalls(const std::vector<LateInterval>& late, const std::vector<Stall>& stalls,
                               double periodNs);

} // namespace measure
