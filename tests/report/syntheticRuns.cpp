#include "tests/report/syntheticRuns.h"

#include <algorithm>
#include <cmath>

using namespace report;

namespace samples {

namespace {

// A small deterministic generator for the jitter of a run.
struct Jitter {
    uint64_t state;
    double next(double amplitude) { // uniform in −amplitude … amplitude
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (double((state >> 11) & 0xFFFFF) / double(0xFFFFF) * 2 - 1) * amplitude;
    }
};

} // namespace

TimingData simulateTiming(double seconds, const std::vector<Special>& specials, uint64_t seed) {
    TimingData timing;
    timing.periodUs = periodUs;
    timing.lateThresholdUs = 1.5 * periodUs;
    timing.intervalCounts.assign(65536, 0);
    const int64_t switches = int64_t(seconds * rate / buffer);
    const size_t bins = size_t(std::ceil(seconds / timing.binSeconds));
    timing.timeline.resize(bins);
    for (size_t b = 0; b < bins; ++b)
        timing.timeline[b].t = double(b) * timing.binSeconds;

    Jitter jitter{seed};
    std::vector<double> delay(size_t(switches), 0.0);
    for (const Special& special : specials)
        if (special.kind == EventKind::lateSwitch && special.switchIndex + 1 < switches) {
            delay[size_t(special.switchIndex)] = 1.6 * periodUs;
            delay[size_t(special.switchIndex + 1)] = 0.8 * periodUs;
        }
    double previousUs = 0;
    for (int64_t i = 0; i < switches; ++i) {
        const bool exact = delay[size_t(i)] != 0 || (i > 0 && delay[size_t(i - 1)] != 0);
        const double entryUs = double(i) * periodUs + delay[size_t(i)] + (exact ? 0 : jitter.next(40));
        const double hostUs = 150 + jitter.next(20) + (i % 9973 == 5000 ? 900 : 0);
        const size_t b = std::min(bins - 1, size_t(entryUs / 1e6 / timing.binSeconds));
        TimelineBin& bin = timing.timeline[b];
        bin.hostMeanUs = (bin.hostMeanUs * bin.switches + hostUs) / (bin.switches + 1);
        bin.hostMaxUs = std::max(bin.hostMaxUs, hostUs);
        ++bin.switches;
        if (i > 0) {
            const double interval = entryUs - previousUs;
            if (bin.intervals == 0) bin.intervalMinUs = bin.intervalMaxUs = interval;
            bin.intervalMinUs = std::min(bin.intervalMinUs, interval);
            bin.intervalMaxUs = std::max(bin.intervalMaxUs, interval);
            bin.intervalMeanUs = (bin.intervalMeanUs * bin.intervals + interval) / (bin.intervals + 1);
            ++bin.intervals;
            ++timing.intervalCounts[size_t(interval)];
        }
        previousUs = entryUs;
    }
    for (const Special& special : specials) {
        TimingEvent event;
        event.t = double(special.switchIndex) * periodUs / 1e6 + delay[size_t(special.switchIndex)] / 1e6;
        event.kind = special.kind;
        switch (special.kind) {
        case EventKind::gap:
            event.detail = "300 samples lost";
            break;
        case EventKind::lateSwitch:
            event.detail = "interval 16250 us";
            break;
        case EventKind::repeat:
            event.detail = "position did not move";
            break;
        default:
            break;
        }
        timing.events.push_back(event);
        ++timing.eventTotals[size_t(special.kind)];
    }
    return timing;
}

ReportData baseReport(const std::string& commandLine) {
    ReportData data;
    data.tool = {"1.4.0", 64, "2026-12-07 14:00 (synthetic data)", commandLine};
    data.driver = DriverFacts{1,
                              "Echoprobe Reference Loopback <&> \"test\"",
                              "{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4A32}",
                              std::string("Echoprobe Reference"),
                              3,
                              std::string("")};
    data.figures = DriverFigures{2, 2, 2, 32, 2048, 300, buffer, 0, rate, 300, 300};
    for (int direction = 0; direction < 2; ++direction)
        for (int32_t i = 1; i <= 2; ++i)
            data.channels.push_back({i, direction == 0, (direction == 0 ? "In " : "Out ") + std::to_string(i),
                                     "ASIOSTFloat32LSB", 0, true});
    return data;
}

ReportData hourReport() {
    ReportData data = baseReport("echoprobe /index=1 /seconds=3600 /latency /skipcp /html=hour.html");
    std::vector<Special> specials;
    const int64_t switches = int64_t(3600 * rate / buffer);
    for (int64_t i = 700; i + 2 < switches; i += 193)
        specials.push_back({i, i % 5 == 0 ? EventKind::gap : EventKind::lateSwitch});
    data.timing = simulateTiming(3600, specials, 3);
    LatencyData latency;
    latency.sampleRate = rate;
    latency.output = latency.input = 1;
    for (int k = 0; k < 7200; ++k)
        latency.bursts.push_back({0.5 * k, 696.0 + (k % 1000 == 0 ? 1 : 0)});
    latency.roundTripSamples = 696;
    latency.reportedSamples = 600;
    data.latency = latency;
    data.verdict = Outcome::fail;
    data.reasons = {std::to_string(data.timing->eventTotals[size_t(EventKind::gap)]) + " gaps",
                    std::to_string(data.timing->eventTotals[size_t(EventKind::lateSwitch)]) +
                        " late switches"};
    return data;
}

} // namespace samples
