#include "measure/verdict.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "measure/channelMap/mapVerdict.h"

namespace measure {

namespace {

std::string formatted(const char* format, double value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool beyondForgiven(uint64_t late, uint64_t switches) {
    return late > lateSwitchesForgiven && static_cast<double>(late) > lateShareForgiven * static_cast<double>(switches);
}

// "75.0 ms lost at 1.20 s without a position gap", or for several pauses their sum and the
// first one.
std::string lostTimeReason(const SwitchSummary& s) {
    const std::string when = s.lostTime.empty() ? "" : formatted(" at %.2f s", s.lostTime.front().atSeconds);
    if (s.lostTimePauses == 1)
        return formatted("%.1f ms lost", s.lostTimeMs) + when + " without a position gap";
    return formatted("%.1f ms lost in ", s.lostTimeMs) + std::to_string(s.lostTimePauses) +
           " pauses without a position gap, the first" + when;
}

// "3 times over a period behind the driver's clock (up to 16.0 ms)".
std::string behindReason(uint64_t episodes, const SwitchSummary& s) {
    return counted(episodes, "time", "times") + " over a period behind the driver's clock" +
           formatted(" (up to %.1f ms)", s.behindWorstMs);
}

// Every late switch is what a listener hears as a dropout, and a pause that lost time one
// whose time never came back, and a switch over a period behind its clock one whose buffer
// the device had played before the host could fill it: a driver fault, unless the
// machine's stalls explain it.
// Those the machine explains are not judged; when the probe could not resolve stalls of
// the run's period, none can be.
void judgeLateness(const RunFacts& facts, Verdict& verdict) {
    const SwitchSummary& s = facts.stats;
    const MachineFacts& m = facts.machine;
    const uint64_t late = s.intervalUs.late;
    if (!m.probed) {
        const std::string why = m.notJudgedWhy.empty() ? "the machine's stalls could not be resolved" : m.notJudgedWhy;
        if (late > 0)
            verdict.add(VerdictWord::inconclusive,
                        counted(late, "late switch", "late switches") + " not judged: " + why);
        if (s.lostTimePauses > 0) verdict.add(VerdictWord::inconclusive, lostTimeReason(s));
        if (s.behindEpisodes > 0)
            verdict.add(VerdictWord::inconclusive, behindReason(s.behindEpisodes, s) + " not judged: " + why);
        return;
    }
    const uint64_t explained = std::min(m.lateSwitchesInStalls, late);
    if (late > explained)
        verdict.add(VerdictWord::fail, counted(late - explained, "late switch", "late switches"));
    if (s.lostTimePauses > m.lostTimeInStalls) verdict.add(VerdictWord::fail, lostTimeReason(s));
    const uint64_t behindExplained = std::min(m.behindInStalls, s.behindEpisodes);
    if (s.behindEpisodes > behindExplained)
        verdict.add(VerdictWord::fail, behindReason(s.behindEpisodes - behindExplained, s));
    if (beyondForgiven(behindExplained, s.switches))
        verdict.add(VerdictWord::inconclusive,
                    behindReason(behindExplained, s) + " in stalls of the machine");
    if (beyondForgiven(explained, s.switches))
        verdict.add(VerdictWord::inconclusive,
                    counted(explained, "late switch", "late switches") + " fell in stalls of the machine");
}

// The rate fitted over the steady stretches. Pauses too short to be told as lost time
// still pull it below the driver's clock, never above: a stream that ran slow and paused
// where the probe could not tell the machine's stalls from the driver's, or paused only
// in the machine's stalls long enough to explain the shortfall, is not judged on its
// rate. A fast clock, or a slow one without such pauses, fails.
void judgeRate(const RunFacts& facts, Verdict& verdict) {
    const SwitchSummary& s = facts.stats;
    const MachineFacts& m = facts.machine;
    if (!s.rateErrorPpm || std::fabs(*s.rateErrorPpm) <= rateErrorForgivenPpm) return;
    const std::string off = formatted("rate off by %.0f ppm", *s.rateErrorPpm);
    const uint64_t late = s.intervalUs.late;
    const bool slowWithPauses = *s.rateErrorPpm < 0 && (late > 0 || s.lostTimePauses > 0);
    const double shortfallMs = -*s.rateErrorPpm * 1e-6 * facts.seconds * 1e3;
    const bool inStallsOnly = m.lateSwitchesInStalls >= late && m.lostTimeInStalls >= s.lostTimePauses &&
                              shortfallMs <= m.longestStallMs * static_cast<double>(m.lateSwitchesInStalls);
    if (slowWithPauses && !m.probed)
        verdict.add(VerdictWord::inconclusive,
                    off + " not judged: the stream paused while the machine's stalls could not be resolved");
    else if (slowWithPauses && inStallsOnly)
        verdict.add(VerdictWord::inconclusive, off + " not judged: the stream paused in stalls of the machine");
    else
        verdict.add(VerdictWord::fail, off);
}

void judgeSwitches(const RunFacts& facts, Verdict& verdict) {
    const SwitchSummary& s = facts.stats;
    const VerdictWord fail = VerdictWord::fail;
    if (s.switches == 0) {
        verdict.add(fail, "no buffer switch came");
    } else {
        const uint64_t missing = missingSwitches(s);
        const uint64_t unexplained = missing - std::min(facts.machine.missingSwitchesInStalls, missing);
        if (unexplained > missingSwitchesForgivenIn(s))
            verdict.add(fail, counted(unexplained, "switch", "switches") + " missing (" +
                                  std::to_string(s.switches + s.hostLostRecords + s.overlaps) + " of " +
                                  std::to_string(s.expectedByDriverClock.value_or(s.expectedSwitches)) +
                                  " expected)");
    }
    if (s.gaps > 0) verdict.add(fail, counted(s.gaps, "gap", "gaps"));
    if (s.repeats > 0) verdict.add(fail, counted(s.repeats, "repeated buffer", "repeated buffers"));
    if (s.backwards > 0) verdict.add(fail, counted(s.backwards, "backward step", "backward steps"));
    if (s.shortSteps > 0) verdict.add(fail, counted(s.shortSteps, "short step", "short steps"));
    if (s.positionJumps > 0) verdict.add(fail, counted(s.positionJumps, "position jump", "position jumps"));
    if (s.halfErrors > 0) verdict.add(fail, counted(s.halfErrors, "half error", "half errors"));
    // The driver calls back one switch at a time, and not once its stop returned.
    if (s.overlaps > 0)
        verdict.add(fail, counted(s.overlaps, "switch", "switches") + " came while another was still inside");
    if (facts.switchesAfterStop > 0)
        verdict.add(fail, counted(facts.switchesAfterStop, "switch", "switches") +
                              " came after the driver's stop returned");
    judgeLateness(facts, verdict);
    judgeRate(facts, verdict);
}

void judgeCalls(const CallTimes& calls, Verdict& verdict) {
    const std::pair<const char*, std::optional<double>> timed[] = {
        {"start", calls.start}, {"stop", calls.stop}, {"disposeBuffers", calls.disposeBuffers}};
    for (const auto& [name, seconds] : timed)
        if (seconds && *seconds > longCallSeconds)
            verdict.add(VerdictWord::fail,
                        std::string("the driver's ") + name + formatted(" took %.1f s", *seconds));
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
    const uint64_t breaks =
        s.gaps + s.repeats + s.backwards + s.shortSteps + s.positionJumps + s.hostLostRecords + s.overlaps;
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

void judgeLatency(const LatencyResult& latency, const std::optional<ReportedLatency>& reported,
                  Verdict& verdict) {
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
    // Once the loop was found, every burst sent comes back: one that did not was lost on
    // the way (a dropout that swallowed it).
    if (latency.burstsFound > 0 && latency.burstsMissing > 0)
        verdict.add(fail, std::to_string(latency.burstsMissing) + " of " +
                              std::to_string(latency.burstsSent) + " bursts did not come back");
    if (latency.glitches > 0) verdict.add(fail, counted(static_cast<uint64_t>(latency.glitches), "glitch", "glitches"));
    if (reported && latency.burstsFound > 0 && !latency.lagAmbiguous &&
        checkReport(*reported, latency.lagMedian) != ReportCheck::within)
        verdict.add(fail, reportFaultText(*reported, latency.lagMedian, "the loop"));
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

uint64_t missingSwitches(const SwitchSummary& s) {
    // The host's own losses, and the switches turned away as they overlapped another, were
    // switches the driver did deliver.
    const uint64_t accounted = s.switches + s.hostLostRecords + s.overlaps + s.gapBuffers + s.lostTimeBuffers;
    const uint64_t expected = s.expectedByDriverClock.value_or(s.expectedSwitches);
    return expected > accounted ? expected - accounted : 0;
}

uint64_t missingSwitchesForgivenIn(const SwitchSummary& s) {
    if (s.expectedByDriverClock) return missingSwitchesForgiven;
    return missingSwitchesForgiven +
           static_cast<uint64_t>(
               std::ceil(rateErrorForgivenPpm * 1e-6 * static_cast<double>(s.expectedSwitches)));
}

bool machineStallsWeigh(const SwitchSummary& s, const MachineFacts& m) {
    return m.probed && m.lateSwitchesInStalls > 0 &&
           beyondForgiven(std::min(m.lateSwitchesInStalls, s.intervalUs.late), s.switches);
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
    judgeCalls(facts.calls, verdict);
    if (facts.latency) judgeLatency(*facts.latency, facts.reported, verdict);
    if (facts.channelMap) judgeChannelMap(*facts.channelMap, facts.reported, verdict);
    judgeCoverage(facts, verdict);
    for (const std::string& failure : facts.outputFailures)
        verdict.add(VerdictWord::error, failure);
    if (facts.interruptSignal != 0)
        verdict.add(VerdictWord::interrupted, "stopped by signal " + std::to_string(facts.interruptSignal));
    return verdict;
}

} // namespace measure
