#include "app/html/plotData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

report::EventKind kindOf(measure::SwitchEventKind kind) {
    switch (kind) {
    case measure::SwitchEventKind::gap:
        return report::EventKind::gap;
    case measure::SwitchEventKind::repeat:
        return report::EventKind::repeat;
    case measure::SwitchEventKind::backward:
        return report::EventKind::backwardStep;
    case measure::SwitchEventKind::shortStep:
        return report::EventKind::shortStep;
    case measure::SwitchEventKind::halfError:
        return report::EventKind::halfError;
    case measure::SwitchEventKind::positionJump:
        return report::EventKind::positionRebase;
    case measure::SwitchEventKind::late:
        return report::EventKind::lateSwitch;
    case measure::SwitchEventKind::hostLoss:
        return report::EventKind::hostLoss;
    }
    return report::EventKind::gap;
}

std::string detailOf(const measure::SwitchEvent& event) {
    const std::string value = std::to_string(event.value);
    switch (event.kind) {
    case measure::SwitchEventKind::gap:
        return value + " samples lost";
    case measure::SwitchEventKind::backward:
    case measure::SwitchEventKind::shortStep:
    case measure::SwitchEventKind::positionJump:
        return "position step " + value;
    case measure::SwitchEventKind::late:
        return "interval " + value + " us";
    case measure::SwitchEventKind::hostLoss:
        return value + " records lost";
    case measure::SwitchEventKind::repeat:
        return "position repeated";
    case measure::SwitchEventKind::halfError:
        return "half index " + value;
    }
    return value;
}

double secondsFrom(int64_t originNs, int64_t atNs) {
    return static_cast<double>(atNs - originNs) / 1e9;
}

constexpr double binSeconds = static_cast<double>(measure::SwitchTiming::timelineBinNs) / 1e9;

} // namespace

report::TimingData timingPlotFrame(const measure::SwitchTiming& timing) {
    report::TimingData data;
    data.periodUs = timing.periodNs().value_or(0.0) / 1000.0;
    data.lateThresholdUs = timing.lateThresholdNs().value_or(0.0) / 1000.0;
    data.binSeconds = binSeconds;
    return data;
}

report::TimelineBin timelineBinOf(const measure::TimelineBin& bin, size_t index) {
    report::TimelineBin entry;
    entry.t = static_cast<double>(index) * binSeconds;
    entry.switches = bin.switches;
    entry.intervals = bin.intervals;
    if (bin.intervals > 0) {
        entry.intervalMinUs = bin.intervalMinUs;
        entry.intervalMaxUs = bin.intervalMaxUs;
        entry.intervalMeanUs = bin.intervalSumUs / bin.intervals;
    }
    if (bin.switches > 0) {
        entry.hostMaxUs = bin.hostMaxUs;
        entry.hostMeanUs = bin.hostSumUs / bin.switches;
    }
    return entry;
}

report::TimingEvent timingEventOf(const measure::SwitchEvent& event, int64_t originNs) {
    return {secondsFrom(originNs, event.atNs), kindOf(event.kind), detailOf(event)};
}

std::array<uint64_t, report::eventKindCount> eventTotalsOf(const measure::SwitchSummary& summary) {
    std::array<uint64_t, report::eventKindCount> totals{};
    totals[size_t(report::EventKind::gap)] = summary.gaps;
    totals[size_t(report::EventKind::repeat)] = summary.repeats;
    totals[size_t(report::EventKind::backwardStep)] = summary.backwards;
    totals[size_t(report::EventKind::shortStep)] = summary.shortSteps;
    totals[size_t(report::EventKind::halfError)] = summary.halfErrors;
    totals[size_t(report::EventKind::lateSwitch)] = summary.intervalUs.late;
    totals[size_t(report::EventKind::hostLoss)] = summary.hostLostRecords;
    totals[size_t(report::EventKind::positionRebase)] = summary.positionJumps;
    return totals;
}

report::TimingData timingPlotData(const measure::SwitchTiming& timing, const measure::SwitchSummary& summary,
                                  int64_t originNs, const std::vector<measure::Stall>& stalls) {
    report::TimingData data = timingPlotFrame(timing);
    const std::vector<measure::TimelineBin>& bins = timing.timeline();
    data.timeline.reserve(bins.size());
    for (size_t i = 0; i < bins.size(); ++i)
        data.timeline.push_back(timelineBinOf(bins[i], i));
    data.intervalCounts = timing.intervalHistogram();
    data.longIntervals = timing.longIntervals();

    for (const measure::SwitchEvent& event : timing.events())
        data.events.push_back(timingEventOf(event, originNs));
    // The machine's stalls that could make a switch late: half a buffer or longer.
    uint64_t stallsShown = 0;
    for (const measure::Stall& stall : stalls) {
        const double ms = static_cast<double>(stall.endNs - stall.startNs) / 1e6;
        if (ms * 1000.0 < data.periodUs / 2) continue;
        char detail[48];
        std::snprintf(detail, sizeof detail, "stalled %.1f ms", ms);
        data.events.push_back(
            {secondsFrom(originNs, stall.startNs), report::EventKind::machineStall, detail});
        ++stallsShown;
    }
    std::stable_sort(data.events.begin(), data.events.end(),
                     [](const report::TimingEvent& a, const report::TimingEvent& b) { return a.t < b.t; });

    data.eventTotals = eventTotalsOf(summary);
    data.eventTotals[size_t(report::EventKind::machineStall)] = stallsShown;
    return data;
}

void addLatencyPlotData(report::LatencyData& data, const measure::LatencyFacts& facts) {
    const measure::LatencyResult& result = facts.result;
    for (size_t i = 0; i < result.peakCorrelation.size(); ++i)
        data.correlation.push_back(
            {static_cast<double>(result.peakFirstLag + static_cast<int64_t>(i)), result.peakCorrelation[i]});
    data.foundLag = result.lagMedian;
    const double rate = facts.sampleRate > 0 ? facts.sampleRate : 1.0;
    for (size_t i = 0; i < result.lags.size() && i < result.burstPositions.size(); ++i)
        data.bursts.push_back({static_cast<double>(result.burstPositions[i]) / rate, result.lags[i]});
    for (const measure::GlitchSnapshot& glitch : result.glitchSnapshots) {
        report::GlitchSnapshot snapshot;
        snapshot.position = glitch.position;
        snapshot.t = static_cast<double>(glitch.position) / rate;
        snapshot.windowStart = glitch.firstPosition;
        snapshot.recorded = glitch.recorded;
        snapshot.expected = glitch.expected;
        data.glitchSnapshots.push_back(std::move(snapshot));
    }
}
