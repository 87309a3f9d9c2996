// The verdict on a run, for a person to read and a script to check: one word and one
// short reason per finding.
//
//   pass          nothing was wrong and everything could be checked           exit 0
//   fail          the driver did something wrong                              exit 1
//   inconclusive  the run could not judge (no positions, the host's own       exit 1
//                 losses, too short, the machine stalled)
//   error         the run could not be made as asked (no driver, a bad        exit 2
//                 switch, a failed create or init, an output that failed)
//   interrupted   a signal ended the run before its time                      128 + signal
//
// A driver fault outweighs an error, an error an inconclusive finding: a failing driver
// never reads as anything milder, and what the host could not do is never blamed on the
// driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/latencyAnalysis.h"
#include "measure/switchTiming.h"

namespace measure {

enum class VerdictWord { pass, inconclusive, error, fail, interrupted }; // mildest first

struct Verdict {
    VerdictWord word = VerdictWord::pass;
    std::vector<std::string> reasons; // empty for a pass

    bool passed() const { return word == VerdictWord::pass; }
    // Adds a finding: the word becomes the stronger of the two, the reason is kept.
    void add(VerdictWord finding, const std::string& reason);
};

const char* verdictName(VerdictWord word);
// The exit status of a verdict; `signal` is the signal that interrupted the run.
int exitStatusOf(VerdictWord word, int signal = 0);

// What the machine did while the run went on: stalls of a probe thread at the driver's
// priority, and the late switches most of whose lateness fell into one.
struct MachineFacts {
    bool probed = false;        // the probe resolved the stalls that matter at this run's period
    uint64_t stalls = 0;
    double longestStallMs = 0;
    uint64_t lateSwitchesInStalls = 0;
    uint64_t ownStalls = 0;     // stalls the process's own threads (the driver's) caused
    double stallThresholdUs = 0; // a wake-up later than this was a stall
    // Why the probe, which ran, could not judge: its late switches are then neither the
    // driver's nor the machine's (inconclusive). Empty when it judged or did not run.
    std::string notJudgedWhy;
};

// What the host itself lost: records and input blocks it had no room for, and input
// that could not be analysed.
struct HostFacts {
    uint64_t lostSwitchRecords = 0;
    uint64_t lostInputBlocks = 0;
    uint64_t lostInputFrames = 0;
    std::optional<std::string> analysisMissing; // why a loopback measurement could not run
};

struct RunFacts {
    SwitchSummary stats;
    double seconds = 0; // from start to stop
    uint64_t resetRequests = 0;
    std::optional<std::string> stopFailure; // the driver's stop code, as the report writes codes
    std::optional<LatencyResult> latency;   // a loopback measurement, when one ran
    MachineFacts machine;
    HostFacts host;
    std::vector<std::string> outputFailures; // outputs asked for that could not be completed
    int interruptSignal = 0;                 // a signal that ended the run early
};

// Late switches are forgiven up to this many, and up to this share of all switches: a
// shared machine preempts a program now and then.
inline constexpr uint64_t lateSwitchesForgiven = 2;
inline constexpr double lateShareForgiven = 0.001;
// The largest deviation of the measured rate from the reported one that passes.
inline constexpr double rateErrorForgivenPpm = 1000.0;
// Switches missing against the run's length that are forgiven: a period at each end of
// the run, and a rate error within what passes.
inline constexpr uint64_t missingSwitchesForgiven = 2;
inline constexpr double missingShareForgiven = 0.01;

// fail: no switch came, fewer switches than the run's length calls for, any gap, repeat,
// backward or short step, position jump or half error, late switches beyond what is
// forgiven that the machine does not explain, a rate off by more than 1000 ppm, a reset
// request, a failed stop; for a loopback measurement: no burst came back, the round trip
// changed by a sample or more, glitches.
// inconclusive: no sample positions (continuity and rate unchecked), a run too short to
// measure the rate, the host's own losses, late switches the machine explains, a round
// trip that cannot be told apart, a loopback that could not be analysed.
// error: an output that could not be completed. interrupted: a signal.
Verdict judgeRun(const RunFacts& facts);

// "1 gap", "3 gaps": a count and a noun in the singular or the plural.
std::string counted(uint64_t count, const std::string& singular, const std::string& plural);

} // namespace measure
