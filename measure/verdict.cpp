#include "measure/verdict.h"

#include <cmath>
#include <cstdio>

namespace measure {

namespace {

std::string formatted(const char* format, double value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The late switches the machine does not explain, and whether they are beyond what is
// forgiven.
bool tooManyLate(uint64_t late, uint64_t switches) {
    return late > lateSwitchesForgiven && static_cast<double>(late) > lateShareForgiven * static_cast<double>(switches);
}

void judgeSwitches(const RunFacts& facts, Verdict& verdict) {
    const SwitchSummary& s = facts.stats;
    const VerdictWord fail = VerdictWord::fail;
    if (s.switches == 0) {
        verdict.add(fail, "no buffer switch came");
    } else {
        // The host's own losses were switches the driver did deliver.
        const uint64_t seen = s.switches + s.hostLostRecords;
        const uint64_t forgiven = std::max<uint64_t>(
            missingSwitchesForgiven, static_cast<uint64_t>(missingShareForgiven * double(s.expectedSwitches)));
        if (seen + forgiven < s.expectedSwitches)
            verdict.add(fail, counted(s.expectedSwitches - seen, "switch", "switches") + " missing (" +
                                  std::to_string(seen) + " of " + std::to_string(s.expectedSwitches) + " expected)");
    }
    if (s.gaps > 0) verdict.add(fail, counted(s.gaps, "gap", "gaps"));
    if (s.repeats > 0) verdict.add(fail, counted(s.repeats, "repeated buffer", "repeated buffers"));
    if (s.backwards > 0) verdict.add(fail, counted(s.backwards, "backward step", "backward steps"));
    if (s.shortSteps > 0) verdict.add(fail, counted(s.shortSteps, "short step", "short steps"));
    if (s.positionJumps > 0) verdict.add(fail, counted(s.positionJumps, "position jump", "position jumps"));
    if (s.halfErrors > 0) verdict.add(fail, counted(s.halfErrors, "half error", "half errors"));

    // Late switches most of whose lateness fell into a stall of the machine are the
    // machine's: they make the run inconclusive, not the driver failed.
    const uint64_t late = s.intervalUs.late;
    const uint64_t machines = std::min(facts.machine.lateSwitchesInStalls, late);
    if (!facts.machine.notJudgedWhy.empty() && tooManyLate(late, s.switches))
        verdict.add(VerdictWord::inconclusive,
                    counted(late, "late switch", "late switches") + " not judged: " + facts.machine.notJudgedWhy);
    else if (tooManyLate(late - machines, s.switches))
        verdict.add(fail, counted(late - machines, "late switch", "late switches"));
    else if (tooManyLate(late, s.switches))
        verdict.add(VerdictWord::inconclusive,
                    counted(machines, "late switch", "late switches") + " fell in stalls of the machine");

    if (s.rateErrorPpm && std::fabs(*s.rateErrorPpm) > rateErrorForgivenPpm)
        verdict.add(fail, formatted("rate off by %.0f ppm", *s.rateErrorPpm));
}

// What could not be checked.
void judgeCoverage(const RunFacts& facts, Verdict& verdict) {
    const SwitchSummary& s = facts.stats;
    const VerdictWord inconclusive = VerdictWord::inconclusive;
    if (s.switches > 0 && s.positionless == s.switches)
        verdict.add(inconclusive, "the driver gave no sample positions: continuity and rate were not checked");
    else if (s.positionless > 0)
        verdict.add(inconclusive, counted(s.positionless, "switch", "switches") + " came without a sample position");
    // No stretch of steady positions was long enough to fit the rate: a short run, or one
    // whose positions broke too often.
    const uint64_t breaks = s.gaps + s.repeats + s.backwards + s.shortSteps + s.positionJumps + s.hostLostRecords;
    if (s.switches > 0 && s.positionless < s.switches && !s.measuredRate)
        verdict.add(inconclusive,
                    breaks > 0 ? "the rate could not be measured: the positions broke " + std::to_string(breaks) +
                                     formatted(" times in %.1f s", facts.seconds)
                               : formatted("the run was too short to judge (%.1f s)", facts.seconds));
    if (s.hostLostRecords > 0)
        verdict.add(inconclusive, "the host lost " + counted(s.hostLostRecords, "switch record", "switch records"));
    if (facts.host.lostInputBlocks > 0)
        verdict.add(inconclusive, "the host lost " + counted(facts.host.lostInputBlocks, "input block", "input blocks"));
    if (facts.host.analysisMissing) verdict.add(inconclusive, *facts.host.analysisMissing);
}

void judgeLatency(const LatencyResult& latency, Verdict& verdict) {
    const VerdictWord fail = VerdictWord::fail;
    if (latency.burstsFound == 0) {
        if (latency.burstsSent > 0)
            verdict.add(fail, "no measurement burst came back");
        else
            verdict.add(VerdictWord::inconclusive, "no measurement burst could be searched for");
    } else if (latency.lagAmbiguous) {
        verdict.add(VerdictWord::inconclusive, "the round trip could not be told apart");
    } else if (!latency.lagConsistent) {
        verdict.add(fail, "the round trip changed between bursts");
    }
    if (latency.glitches > 0) verdict.add(fail, counted(static_cast<uint64_t>(latency.glitches), "glitch", "glitches"));
}

} // namespace

void Verdict::add(VerdictWord finding, const std::string& reason) {
    if (static_cast<int>(finding) > static_cast<int>(word)) word = finding;
    reasons.push_back(reason);
}

const char* verdictName(VerdictWord word) {
    switch (word) {
    case VerdictWord::pass:
        return "pass";
    case VerdictWord::fail:
        return "fail";
    case VerdictWord::inconclusive:
        return "inconclusive";
    case VerdictWord::error:
        return "error";
    case VerdictWord::interrupted:
        return "interrupted";
    }
    return "error";
}

int exitStatusOf(VerdictWord word, int signal) {
    switch (word) {
    case VerdictWord::pass:
        return 0;
    case VerdictWord::fail:
    case VerdictWord::inconclusive:
        return 1;
    case VerdictWord::error:
        return 2;
    case VerdictWord::interrupted:
        return 128 + signal;
    }
    return 2;
}

std::string counted(uint64_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

Verdict judgeRun(const RunFacts& facts) {
    Verdict verdict;
    judgeSwitches(facts, verdict);
    if (facts.resetRequests > 0)
        verdict.add(VerdictWord::fail, counted(facts.resetRequests, "reset request", "reset requests"));
    if (facts.stopFailure) verdict.add(VerdictWord::fail, "the driver's stop failed with error code " + *facts.stopFailure);
    if (facts.latency) judgeLatency(*facts.latency, verdict);
    judgeCoverage(facts, verdict);
    for (const std::string& failure : facts.outputFailures)
        verdict.add(VerdictWord::error, failure);
    if (facts.interruptSignal != 0)
        verdict.add(VerdictWord::interrupted, "stopped by signal " + std::to_string(facts.interruptSignal));
    return verdict;
}

} // namespace measure
