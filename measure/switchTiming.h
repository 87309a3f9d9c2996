// Health statistics of a run's buffer switches: continuity of the driver's sample
// positions and buffer halves, the spacing of the callbacks, the host's time inside
// them, and the sample rate the positions actually advance at.
//
// Records are fed in order after (or during) the run on the main thread. Memory stays
// bounded for runs of many hours: the intervals are kept as a histogram of whole
// microseconds, not one by one, and nothing is allocated per switch in steady state.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace measure {

// What the host noted about one buffer switch.
struct SwitchRecord {
    int64_t entryNs = 0;        // steady clock at callback entry, nanoseconds
    int64_t exitNs = 0;         // steady clock when the host's work for the switch ended
    int64_t position = 0;       // the driver's sample position of this buffer
    bool positionValid = false; // false: the driver gave no usable position for this switch
    int32_t half = 0;           // buffer-half index exactly as the driver passed it
};

// Spacing of consecutive callback entries, in microseconds.
struct SwitchIntervals {
    double min = 0;
    double mean = 0;
    double max = 0;
    double p99 = 0;    // nearest rank, resolution 1 µs
    uint64_t late = 0; // intervals longer than 1.5 buffer periods
};

// Host time inside the callback (exit − entry), in microseconds.
struct HostTime {
    double mean = 0;
    double max = 0;
};

// The figures of a run. With no records every figure is 0 (expectedSwitches still follows
// the run's duration) and the optionals are empty; with one record the intervals are 0.
struct SwitchSummary {
    uint64_t switches = 0;         // records added
    uint64_t expectedSwitches = 0; // floor(run seconds × reported rate / buffer size)

    // From consecutive records whose positions are both valid, d = position step, B = buffer size.
    uint64_t gaps = 0;       // d > B
    int64_t samplesLost = 0; // sum of d − B over the gaps
    uint64_t repeats = 0;    // d == 0
    uint64_t backwards = 0;  // d < 0
    uint64_t shortSteps = 0; // 0 < d < B
    uint64_t halfErrors = 0; // half index not 0 or 1, or its parity contradicts d

    SwitchIntervals intervalUs;
    HostTime hostUs;
    double hostLoad = 0; // mean host time / buffer period (0.01 = 1 %)

    // The rate the positions advance at against the host clock, from 0.5 s after the first
    // switch: the least-squares slope through the earliest switch of every 100 ms. A
    // callback can come late, never early, so the earliest ones trace the driver's
    // clock, and a stall of the machine (late callbacks that then follow in a burst)
    // does not bend the line.
    std::optional<double> measuredRate;
    std::optional<double> rateErrorPpm; // (measured / reported − 1) × 10^6
};

class SwitchTiming {
  public:
    // bufferSize: samples per buffer; reportedRate: Hz as the driver reports it. Nonsense
    // values (not positive, not finite) leave the expected switches, late intervals, host
    // load and rate error at 0 or empty, and skip the half parity check.
    SwitchTiming(int32_t bufferSize, double reportedRate);

    void add(const SwitchRecord& record);

    // runStartNs/runEndNs: the host's clock when the driver was started and stopped.
    SwitchSummary summary(int64_t runStartNs, int64_t runEndNs) const;

    // Whole microseconds the fixed histogram of intervals covers; longer intervals are kept
    // exactly in a map of value to count (rare: one distinct entry per distinct value).
    static constexpr int64_t histogramMicroseconds = 65536;

  private:
    void addContinuity(const SwitchRecord& record);
    void addInterval(int64_t intervalNs);
    void addRatePoint(const SwitchRecord& record);
    // The running least-squares sums, and one more point added to them.
    struct RateFit {
        uint64_t count = 0;
        double meanX = 0, meanY = 0, comomentXX = 0, comomentXY = 0;
        int64_t minEntryNs = 0, maxEntryNs = 0;
        void add(int64_t entryNs, double x, double y);
    };
    double intervalPercentile99() const;

    int64_t bufferSize_;
    double reportedRate_;
    std::optional<double> periodNs_;        // empty for a nonsense size or rate
    std::optional<double> lateThresholdNs_; // 1.5 periods

    uint64_t switches_ = 0;
    int64_t firstEntryNs_ = 0;
    SwitchRecord previous_;

    // Continuity and halves.
    uint64_t gaps_ = 0, repeats_ = 0, backwards_ = 0, shortSteps_ = 0, halfErrors_ = 0;
    int64_t samplesLost_ = 0;

    // Intervals between entries, in nanoseconds, and the histogram for the percentile.
    uint64_t intervals_ = 0, late_ = 0;
    int64_t intervalSumNs_ = 0, intervalMinNs_ = 0, intervalMaxNs_ = 0;
    std::vector<uint64_t> intervalHistogram_;   // count per whole microsecond below the limit
    std::map<int64_t, uint64_t> longIntervals_; // whole microseconds at or above it, to count

    // Host time, nanoseconds.
    int64_t hostSumNs_ = 0, hostMaxNs_ = 0;

    // Rate fit: running means and co-moments of x = seconds and y = samples since the
    // first point used, updated one point at a time (Welford), so large clocks and
    // positions never meet in a sum of squares. Points go in one per 100 ms bin: the
    // bin's earliest switch (the smallest x − y / rate) once the bin is over.
    bool rateStarted_ = false;
    int64_t rateOriginNs_ = 0, rateOriginPosition_ = 0;
    int64_t binIndex_ = 0;
    bool binHasPoint_ = false;
    int64_t binEntryNs_ = 0;
    double binX_ = 0, binY_ = 0, binLag_ = 0;
    RateFit rateFit_;
};

} // namespace measure
