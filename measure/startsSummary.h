// What N stream starts of one run add up to (/starts=N): the round trips they measured,
// grouped where they agree, the kinds of failure with how many starts each struck, and
// the verdict on them all.
//
// A host compensates a round trip it measured once; one that changes from one start to
// the next misaligns every recording made after a restart, so a round trip that differs
// between starts fails, as does any start that fails on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/verdict.h"

namespace measure {

// The half width given to a round trip known only to a tenth of a sample (the bursts'
// median, without a precise figure): two such lie apart by half a sample before they
// count as two.
inline constexpr double coarseRoundTripHalfWidth = 0.25;

// One start as its own run judged it.
struct StartOutcome {
    int32_t start = 0;                     // 1-based
    bool ran = false;                      // the driver's start returned success and the run measured
    std::optional<double> firstCallbackMs; // from the start's return; empty when none came
    std::optional<double> roundTrip;       // samples, when a loopback measured one
    double roundTripHalfWidth = coarseRoundTripHalfWidth; // of its 95 % interval
    bool roundTripMissing = false;                        // a loopback ran and found no round trip
    uint64_t lateSwitches = 0;
    uint64_t missingSwitches = 0;
    Verdict verdict;
};

// A first switch later than this after start returned is a start a host sees fail.
inline constexpr double firstCallbackLimitMs = 1000.0;

// Two starts measured one round trip unless theirs lie apart by more than both their
// intervals together and by at least the change a run's own round trip is judged by
// (minRoundTripChange): a path that moves by a fraction of a sample at a start misaligns
// a host's recordings as surely as one that moves by a buffer.
bool sameRoundTrip(double a, double halfWidthA, double b, double halfWidthB);

struct RoundTripGroup {
    double roundTrip = 0;        // that of the group's first start
    double halfWidth = 0;        // of its 95 % interval
    std::vector<int32_t> starts; // in order
};

struct FailureKind {
    std::string kind;                     // "no first callback within 1 s", "switches missing"
    VerdictWord word = VerdictWord::fail; // the strongest its reasons were given with
    std::vector<int32_t> starts;          // in order
};

struct StartsSummary {
    int32_t starts = 0;                    // starts that were made
    std::vector<RoundTripGroup> groups;    // the most common round trip first
    std::vector<int32_t> roundTripMissing; // starts whose loopback found no round trip
    std::vector<FailureKind> failures;     // in the order they first happened
    Verdict verdict;
};

StartsSummary summariseStarts(const std::vector<StartOutcome>& starts);

// "696.0 in 48 of 50 starts, 952.0 in 2: one buffer more"; empty without a round trip.
// The difference to the most common one is said in buffers where it is a whole number of
// them, otherwise in samples.
std::string roundTripSpreadText(const StartsSummary& summary, int32_t bufferSize);
// "no first callback within 1 s: 1 of 50".
std::string failureRateText(const FailureKind& failure, int32_t starts);

// The kind of a verdict's reason: its leading count and its details left out ("12
// switches missing (498 of 510)" is "switches missing").
std::string reasonKind(const std::string& reason);

} // namespace measure
