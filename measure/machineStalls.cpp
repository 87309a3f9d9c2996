#include "measure/machineStalls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace measure {

namespace {

constexpr int64_t longestWakeIntervalNs = 1'000'000;
constexpr int64_t longestStallThresholdNs = 500'000;
// Below this the probe's own wake-ups, at the driver's priority, would take much of a
// processor's time from everything else.
constexpr int64_t shortestWakeIntervalNs = 100'000;

} // namespace

ProbePlan probePlanFor(double periodNs) {
    ProbePlan plan;
    if (!(periodNs > 0) || !std::isfinite(periodNs)) return plan;
    const auto quarter = static_cast<int64_t>(periodNs / 4);
    plan.wakeIntervalNs = std::clamp(quarter, shortestWakeIntervalNs, longestWakeIntervalNs);
    plan.stallThresholdNs = std::clamp<int64_t>(quarter, 1, longestStallThresholdNs);
    plan.usableMedianNs = plan.stallThresholdNs / 2;
    plan.periodTooShort = quarter < shortestWakeIntervalNs;
    return plan;
}

bool stallIsOwn(int64_t latenessNs, int64_t ownCpuNs) {
    return 4 * ownCpuNs >= 3 * latenessNs;
}

StallLog::StallLog(int64_t stallThresholdNs, size_t capacity)
    : thresholdNs_(stallThresholdNs), capacity_(capacity) {
    stalls_.reserve(capacity);
}

void StallLog::add(const ProbeWake& wake) {
    const bool cpuKnown = wake.processCpuNs >= 0 && wake.toolCpuNs >= 0;
    if (!cpuKnown) cpuTimeKnown_ = false;
    const int64_t ownCpuNs = (wake.processCpuNs - processCpuNs_) - (wake.toolCpuNs - toolCpuNs_);
    const bool counted = started_;
    started_ = true;
    processCpuNs_ = wake.processCpuNs;
    toolCpuNs_ = wake.toolCpuNs;
    const int64_t latenessNs = wake.wokeNs - wake.dueNs;
    if (!counted || latenessNs <= thresholdNs_) return;
    if (cpuTimeKnown_ && stallIsOwn(latenessNs, ownCpuNs)) {
        ++ownStalls_;
        return;
    }
    ++machineStalls_;
    longestNs_ = std::max(longestNs_, latenessNs);
    if (stalls_.size() < capacity_)
        stalls_.push_back({wake.dueNs, wake.wokeNs});
    else if (notKept_++ == 0)
        firstNotKeptNs_ = wake.wokeNs;
}

std::string whyStallsNotJudged(const ProbePlan& plan, double periodNs, const ProbeHealth& health) {
    char text[256];
    if (plan.periodTooShort) {
        std::snprintf(text, sizeof text,
                      "the %.0f us period is too short for the machine probe: it wakes at most every %.0f us",
                      periodNs / 1e3, double(plan.wakeIntervalNs) / 1e3);
        return text;
    }
    if (!health.started) return "the machine probe's threads could not be started";
    if (health.medianLatenessNs < 0) return "the machine probe never woke";
    if (health.medianLatenessNs > plan.usableMedianNs) {
        std::snprintf(
            text, sizeof text,
            "the machine probe woke %.0f us late at the median: too coarse for stalls of %.0f us at a "
            "%.0f us period",
            double(health.medianLatenessNs) / 1e3, double(plan.stallThresholdNs) / 1e3, periodNs / 1e3);
        return text;
    }
    if (health.stallsNotKept > 0) {
        std::snprintf(text, sizeof text, "the machine probe's room for %zu stalls was full at %.1f s",
                      health.storeCapacity, health.storeFullAtSeconds);
        return text;
    }
    return {};
}

uint64_t lateIntervalsInStalls(const std::vector<LateInterval>& late, const std::vector<Stall>& stalls,
                               double periodNs) {
    uint64_t explained = 0;
    size_t first = 0; // the first stall that may still overlap a later interval
    for (const LateInterval& interval : late) {
        while (first < stalls.size() && stalls[first].endNs <= interval.startNs)
            ++first;
        double overlapNs = 0;
        for (size_t k = first; k < stalls.size() && stalls[k].startNs < interval.endNs; ++k)
            overlapNs += double(std::min(stalls[k].endNs, interval.endNs) -
                                std::max(stalls[k].startNs, interval.startNs));
        const double latenessNs = double(interval.endNs - interval.startNs) - periodNs;
        if (latenessNs > 0 && overlapNs >= 0.5 * latenessNs) ++explained;
    }
    return explained;
}

} // namespace measure
