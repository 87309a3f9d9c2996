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

#include "measure/channelMap/channelMapResult.h"
#include "measure/latencyAnalysis.h"
#include "measure/reportedLatency.h"
#include "measure/switchTiming.h"

namespace measure {

enum class VerdictWord { pass, inconclusive, error, fail, interrupted }; // mildest first

struct Verdict {
    VerdictWord word = VerdictWord::pass;
    std::vector<std::string> reasons; // empty for a pass
    // The word each reason was added with (by add); a reason given otherwise has the
    // verdict's word.
    std::vector<VerdictWord> reasonWords = {};
    VerdictWord wordOf(size_t reason) const {
        return reason < reasonWords.size() ? reasonWords[reason] : word;
    }

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
    uint64_t lostTimeInStalls = 0; // pauses that lost time whose late switches all fell in stalls
    // Switches missing at the run's ends (a first switch after the start-up allowance,
    // switches still due when the run stopped) whose due time fell mostly in stalls.
    uint64_t missingSwitchesInStalls = 0;
    // Episodes behind the driver's clock (SwitchSummary::behindEpisodes) most of whose
    // lateness fell in stalls.
    uint64_t behindInStalls = 0;
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

// How long the driver's start, stop and disposeBuffers took, in seconds; empty for a
// call that was not made (or not timed).
struct CallTimes {
    std::optional<double> start, stop, disposeBuffers;
};

struct RunFacts {
    SwitchSummary stats;
    double seconds = 0; // from start to stop
    uint64_t resetRequests = 0;
    std::optional<std::string> stopFailure; // the driver's stop code, as the report writes codes
    std::optional<LatencyResult> latency;   // a loopback measurement, when one ran
    std::optional<ChannelMapResult> channelMap; // every output into every input, when one ran
    // The driver's input + output latency after the run's createBuffers, held against the
    // round trips measured.
    std::optional<ReportedLatency> reported;
    MachineFacts machine;
    HostFacts host;
    CallTimes calls;
    uint64_t switchesAfterStop = 0;          // switches that came after the driver's stop returned
    std::vector<std::string> outputFailures; // outputs asked for that could not be completed
    int interruptSignal = 0;                 // a signal that ended the run early
};

// Late switches the machine explains could not be judged: up to this many, and this share
// of all switches, leave the rest of the run to judge; more make it inconclusive.
inline constexpr uint64_t lateSwitchesForgiven = 2;
inline constexpr double lateShareForgiven = 0.001;
// The largest deviation of the measured rate from the reported one that passes.
inline constexpr double rateErrorForgivenPpm = 1000.0;
// Switches missing against the run's length that the count cannot tell from none: the
// run's count is whole periods, and a switch due as the run stopped may be cut off by the
// stop. Without a measured rate the driver's clock may also run slow by what the rate
// check forgives.
inline constexpr uint64_t missingSwitchesForgiven = 2;
// A start, stop or disposeBuffers that takes longer is a fault: a host that makes the
// call from its user interface freezes for as long.
inline constexpr double longCallSeconds = 1.0;

// The switches missing against the run's length at the driver's own clock (the measured
// rate, else the reported one), besides those the gaps skipped and the pauses lost
// (each its own finding).
uint64_t missingSwitches(const SwitchSummary& stats);
// How many of them are forgiven.
uint64_t missingSwitchesForgivenIn(const SwitchSummary& stats);
// Whether the late switches the machine explains weigh in the verdict: beyond what is
// forgiven, they make the run inconclusive.
bool machineStallsWeigh(const SwitchSummary& stats, const MachineFacts& machine);

// fail: no switch came, switches missing beyond what is forgiven that the machine does not
// explain, any gap, repeat, backward or short step, position jump or half error, any late
// switch, pause that lost time or episode behind the driver's clock that the machine does
// not explain, a switch that came while another was inside or after the driver's stop
// returned, a rate off by more than 1000 ppm, a reset request, a failed stop, a start,
// stop or disposeBuffers that took over a second; for a loopback measurement: no burst
// came back, a burst missing once the loop was found, the round trip changed by a sample
// or more, glitches, a reported latency larger than the round trip or short of it by more
// than a buffer; for a channel map, its faults (channelMap/mapVerdict.h).
// inconclusive: no sample positions (continuity and rate unchecked), a run too short to
// measure the rate, the host's own losses, late switches the machine explains beyond
// what is forgiven, late switches and episodes behind the clock when the machine probe
// could not resolve stalls of the run's period, a round trip that cannot be told apart,
// a loopback that could not be analysed, what a channel map could not tell.
// error: an output that could not be completed. interrupted: a signal.
Verdict judgeRun(const RunFacts& facts);

// "1 gap", "3 gaps": a count and a noun in the singular or the plural.
std::string counted(uint64_t count, const std::string& singular, const std::string& plural);

} // namespace measure
