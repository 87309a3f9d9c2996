#include "measure/verdict.h"

#include <cmath>
#include <cstdio>

namespace measure {

std::string counted(uint64_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

Verdict judgeRun(const RunFacts& facts) {
    Verdict verdict;
    auto fault = [&verdict](const std::string& reason) {
        verdict.pass = false;
        verdict.reasons.push_back(reason);
    };
    const SwitchSummary& stats = facts.stats;
    if (stats.switches == 0) fault("no buffer switch came");
    if (stats.gaps > 0) fault(counted(stats.gaps, "gap", "gaps"));
    if (stats.repeats > 0) fault(counted(stats.repeats, "repeated buffer", "repeated buffers"));
    if (stats.backwards > 0) fault(counted(stats.backwards, "backward step", "backward steps"));
    if (stats.shortSteps > 0) fault(counted(stats.shortSteps, "short step", "short steps"));
    if (stats.halfErrors > 0) fault(counted(stats.halfErrors, "half error", "half errors"));
    const uint64_t late = stats.intervalUs.late;
    if (late > lateSwitchesForgiven && static_cast<double>(late) > lateShareForgiven * static_cast<double>(stats.switches))
        fault(counted(late, "late switch", "late switches"));
    if (stats.rateErrorPpm && std::fabs(*stats.rateErrorPpm) > rateErrorForgivenPpm) {
        char text[64];
        std::snprintf(text, sizeof text, "rate off by %.0f ppm", *stats.rateErrorPpm);
        fault(text);
    }
    if (facts.resetRequests > 0) fault(counted(facts.resetRequests, "reset request", "reset requests"));
    if (facts.stopFailure) fault("the driver's stop failed with error code " + *facts.stopFailure);
    if (facts.latency) {
        const LatencyResult& latency = *facts.latency;
        if (latency.burstsFound == 0)
            fault("no measurement burst came back");
        else if (!latency.lagConsistent)
            fault("the round trip changed between bursts");
        if (latency.glitches > 0) fault(counted(static_cast<uint64_t>(latency.glitches), "glitch", "glitches"));
    }
    return verdict;
}

} // namespace measure
