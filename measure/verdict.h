// The verdict on a run: pass, or fail with one short reason per fault found, for a
// person to read and a script to check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/latencyAnalysis.h"
#include "measure/switchTiming.h"

namespace measure {

struct RunFacts {
    SwitchSummary stats;
    uint64_t resetRequests = 0;
    std::optional<std::string> stopFailure; // the driver's stop code, as the report writes codes
    std::optional<LatencyResult> latency; // a loopback measurement, when one ran
};

struct Verdict {
    bool pass = true;
    std::vector<std::string> reasons; // empty for a pass
};

// Late switches are forgiven up to this many, and up to this share of all switches: a
// shared machine preempts a program now and then.
inline constexpr uint64_t lateSwitchesForgiven = 2;
inline constexpr double lateShareForgiven = 0.001;
// The largest deviation of the measured rate from the reported one that passes.
inline constexpr double rateErrorForgivenPpm = 1000.0;

// Fail when no switch came, on any gap, repeat, backward or short step or half error,
// on late switches beyond what is forgiven, on a rate off by more than 1000 ppm, on a
// reset request, on a failed stop, and for a loopback measurement when no burst came
// back, the round trip changed or the signal came back with glitches.
Verdict judgeRun(const RunFacts& facts);

// "1 gap", "3 gaps": a count and a noun in the singular or the plural.
std::string counted(uint64_t count, const std::string& singular, const std::string& plural);

} // namespace measure
