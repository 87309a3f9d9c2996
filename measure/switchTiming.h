// Health statistics of a run's buffer switches: continuity of the driver's sample
// positions and buffer halves, the spacing of the callbacks, the host's time inside
// them, and the sample rate the positions actually advance at.
//
// Records are fed in order after (or during) the run on the main thread. Memory stays
// bounded for runs of many hours: the intervals are kept as a histogram of whole
// microseconds, not one by one; the timeline keeps one small entry per 100 ms, and the
// lists of late intervals and events are capped.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "measure/clockLag.h"
#include "measure/lostTime.h"

namespace measure {

// What the host noted about one buffer switch.
struct SwitchRecord {
    int64_t entryNs = 0;        // steady clock at callback entry, nanoseconds
    int64_t exitNs = 0;         // steady clock when the host's work for the switch ended
    int64_t position = 0;       // the driver's sample position of this buffer
    bool positionValid = false; // false: the driver gave no usable position for this switch
    int32_t half = 0;           // buffer-half index exactly as the driver passed it
    int64_t hostNs = -1;        // the host's own work in the switch; -1: exitNs - entryNs
    uint32_t hostLostBefore = 0; // records the host had no room for just before this one
    // Switches that came while another was still inside, since the switch before this one:
    // only counted, so nothing is judged across them.
    uint32_t overlapsBefore = 0;
};

// Spacing of consecutive callback entries, in microseconds.
struct SwitchIntervals {
    double min = 0;
    double mean = 0;
    double max = 0;
    double p99 = 0;    // nearest rank, resolution 1 µs
    uint64_t late = 0; // intervals longer than 1.5 buffer periods
};

// Host time inside the callback, in microseconds.
struct HostTime {
    double mean = 0;
    double max = 0;
};

// A late interval: from the switch before to the late switch (the end of the run for a
// driver that went quiet), steady clock nanoseconds.
struct LateInterval {
    int64_t startNs = 0;
    int64_t endNs = 0;
};

// What a run's records showed at a moment of the run, for the report's marks.
enum class SwitchEventKind { gap, repeat, backward, shortStep, halfError, positionJump, late, hostLoss };
struct SwitchEvent {
    int64_t atNs = 0; // steady clock of the switch that showed it
    SwitchEventKind kind = SwitchEventKind::gap;
    int64_t value = 0; // samples lost, the step of a jump, the late interval in µs, records lost
};

// A pause that lost time, as the summary lists it.
struct LostTimeAt {
    double atSeconds = 0; // the last switch before the pause, from the run's start
    double ms = 0;        // the time lost
};

// One 100 ms stretch of the run (by the entry of its switches).
struct TimelineBin {
    uint32_t switches = 0;
    uint32_t intervals = 0; // intervals that ended in the bin
    double intervalMinUs = 0, intervalMaxUs = 0, intervalSumUs = 0;
    double hostMaxUs = 0, hostSumUs = 0;
};

// The figures of a run. With no records every figure is 0 (expectedSwitches still follows
// the run's duration) and the optionals are empty.
struct SwitchSummary {
    uint64_t switches = 0;         // records added
    uint64_t expectedSwitches = 0; // floor(run seconds × reported rate / buffer size), the run
                                   // counted from the first switch when it came within
                                   // startupForgivenNs of the start

    // From consecutive records whose positions are both valid, d = position step, B = buffer size.
    uint64_t gaps = 0;          // B < d, within the jump limit
    int64_t samplesLost = 0;    // sum of d − B over the gaps
    uint64_t repeats = 0;       // d == 0
    uint64_t backwards = 0;     // d < 0, within the jump limit
    uint64_t shortSteps = 0;    // 0 < d < B
    uint64_t positionJumps = 0; // |d − B| beyond the jump limit: the driver re-based its positions
    uint64_t halfErrors = 0;    // half index not 0 or 1, or its parity contradicts d
    uint64_t positionless = 0;  // switches that came without a usable position
    uint64_t hostLostRecords = 0; // switches the host could not note (nothing is judged across them)
    uint64_t overlaps = 0;        // switches that came while another was still inside (likewise)
    uint64_t gapBuffers = 0;      // the buffers the gaps skipped: samplesLost / B

    // Pauses after which the positions went on by one buffer although the time of more
    // had passed (lostTime.h): how many, all the time they lost and the buffers it holds,
    // and the first maxListedLostTime of them.
    uint64_t lostTimePauses = 0;
    double lostTimeMs = 0;
    uint64_t lostTimeBuffers = 0;
    std::vector<LostTimeAt> lostTime;

    // Episodes in which the switches fell over a period behind the driver's clock with no
    // late interval (clockLag.h): how many, the most any fell behind, and the first
    // maxListedLostTime of them (when the first switch of each came, and its worst).
    uint64_t behindEpisodes = 0;
    double behindWorstMs = 0;
    std::vector<LostTimeAt> behind;

    SwitchIntervals intervalUs; // with the quiet time from the last switch to the run's end
    // True when that quiet time counts as an interval (longer than a buffer period).
    bool trailingIntervalCounted = false;
    bool intervalsKnown = false; // at least one interval was measured
    HostTime hostUs;
    double hostLoad = 0; // mean host time / buffer period (0.01 = 1 %)
    bool hostTimeKnown = false;

    // The rate the positions advance at against the host clock, from 0.5 s after the first
    // switch: the least-squares slope through the earliest switch of every 100 ms, with
    // every steady stretch (between discontinuities of the positions: gaps, jumps,
    // repeats, a host loss; and pauses that lost time) fitted with an intercept of its
    // own; stretches of fewer than three such points are left out (empty when none is
    // left). A callback can come late, never early, so the earliest ones trace the
    // driver's clock, and a stall of the machine (late callbacks that then follow in a
    // burst) does not bend the line.
    std::optional<double> measuredRate;
    std::optional<double> rateErrorPpm; // (measured / reported − 1) × 10^6
    // expectedSwitches at the measured rate: what the driver's own clock calls for.
    std::optional<uint64_t> expectedByDriverClock;
};

inline constexpr size_t maxListedLostTime = 100;

// The time a driver may take from its start to its first switch before the switches it
// did not deliver meanwhile count as missing: starting a stream thread and filling the
// first buffers takes a few periods, longer on a loaded machine.
inline constexpr int64_t startupForgivenNs = 100'000'000;

class SwitchTiming {
  public:
    // bufferSize: samples per buffer; reportedRate: Hz as the driver reports it. Nonsense
    // values (not positive, not finite) leave the expected switches, late intervals, host
    // load and rate error at 0 or empty, and skip the half parity check.
    SwitchTiming(int32_t bufferSize, double reportedRate);

    // The host's clock when the driver was started; the timeline counts from it.
    void setOrigin(int64_t runStartNs) { originNs_ = runStartNs; }

    void add(const SwitchRecord& record);

    // runStartNs/runEndNs: the host's clock when the driver was started and stopped.
    SwitchSummary summary(int64_t runStartNs, int64_t runEndNs) const;

    // The late intervals in order (the first maxLateIntervals of them), the trailing one
    // of summary's run end included when it is late.
    std::vector<LateInterval> lateIntervals(int64_t runEndNs) const;
    // Every 100 ms of the run from the origin, up to the last switch.
    const std::vector<TimelineBin>& timeline() const { return timeline_; }
    // The first maxEvents events of the run in order.
    const std::vector<SwitchEvent>& events() const { return events_; }
    // The pauses that lost time, each from the switch before it to its last late switch,
    // in order (the first LostTimeTracker::maxListed of them).
    std::vector<LateInterval> lostTimeIntervals() const;
    // Each episode behind the driver's clock from when its first switch was due to when
    // it came, in order (the first ClockLagTracker::maxListed of them).
    std::vector<LateInterval> behindIntervals() const;
    // The steady clock of the first switch; empty before it.
    std::optional<int64_t> firstEntryNs() const;
    // The buffer period and the late threshold in nanoseconds; empty for nonsense figures.
    std::optional<double> periodNs() const { return periodNs_; }
    std::optional<double> lateThresholdNs() const { return lateThresholdNs_; }
    // Count per whole microsecond of the intervals below histogramMicroseconds, and the
    // longer ones exactly.
    const std::vector<uint64_t>& intervalHistogram() const { return intervalHistogram_; }
    const std::map<int64_t, uint64_t>& longIntervals() const { return longIntervals_; }

    // Whole microseconds the fixed histogram of intervals covers; longer intervals are kept
    // exactly in a map of value to count (rare: one distinct entry per distinct value).
    static constexpr int64_t histogramMicroseconds = 65536;
    static constexpr size_t maxLateIntervals = 4096;
    static constexpr size_t maxEvents = 10000;
    static constexpr int64_t timelineBinNs = 100'000'000;
    // A position step this far from one buffer (in seconds of samples at the reported
    // rate) is a re-base of the driver's positions, not a gap or a step back.
    static constexpr double jumpLimitSeconds = 4.0;

  private:
    // Each returns whether the switch is one buffer after the previous (both with
    // positions), and whether its interval was late.
    bool addContinuity(const SwitchRecord& record);
    bool addInterval(int64_t intervalNs, int64_t endNs);
    void addToTimeline(const SwitchRecord& record, int64_t hostNs, std::optional<int64_t> intervalNs);
    void addRatePoint(const SwitchRecord& record);
    void addEvent(int64_t atNs, SwitchEventKind kind, int64_t value);
    // Ends the rate fit's current stretch (a discontinuity of the positions).
    void breakRateStretch();
    // Running least-squares sums of one stretch, one point at a time (Welford), and the
    // pooled sums of the stretches before it.
    struct RateFit {
        uint64_t count = 0;
        double meanX = 0, meanY = 0, comomentXX = 0, comomentXY = 0;
        void add(double x, double y);
        // Both sets of points as one.
        void merge(const RateFit& other);
    };
    // Adds a finished stretch's sums to the pooled ones when it is long enough.
    void pool(const RateFit& stretch);
    // The rate fit follows the lost-time tracker: the points after a candidate wait apart
    // until it is settled, then join the stretch (the driver caught up) or begin one of
    // their own (the time was lost).
    // Returns whether a pause was told to have lost time at this switch.
    bool followLostTime(const SwitchRecord& record, bool continuous, bool late);
    RateFit& openFit() { return afterCandidate_ ? pendingFit_ : stretch_; }
    // Adds the open bin's point to `into`; `cut`: a pause ends the bin here.
    void closeBin(RateFit& into, bool cut);
    static constexpr int64_t rateBinNs = 100'000'000;
    double intervalPercentile99(const std::vector<uint64_t>& histogram, const std::map<int64_t, uint64_t>& longer,
                                uint64_t intervals) const;

    int64_t bufferSize_;
    double reportedRate_;
    std::optional<double> periodNs_;        // empty for a nonsense size or rate
    std::optional<double> lateThresholdNs_; // 1.5 periods
    int64_t jumpLimitSamples_;

    uint64_t switches_ = 0;
    int64_t firstEntryNs_ = 0;
    int64_t originNs_ = 0;
    bool originSet_ = false;
    SwitchRecord previous_;

    // Continuity and halves.
    uint64_t gaps_ = 0, repeats_ = 0, backwards_ = 0, shortSteps_ = 0, jumps_ = 0, halfErrors_ = 0;
    uint64_t positionless_ = 0, hostLost_ = 0, overlaps_ = 0;
    int64_t samplesLost_ = 0;

    // Intervals between entries, in nanoseconds, and the histogram for the percentile.
    uint64_t intervals_ = 0, late_ = 0;
    int64_t intervalSumNs_ = 0, intervalMinNs_ = 0, intervalMaxNs_ = 0;
    std::vector<uint64_t> intervalHistogram_;   // count per whole microsecond below the limit
    std::map<int64_t, uint64_t> longIntervals_; // whole microseconds at or above it, to count
    std::vector<LateInterval> lateIntervals_;

    // Host time, nanoseconds.
    int64_t hostSumNs_ = 0, hostMaxNs_ = 0;

    std::vector<TimelineBin> timeline_;
    std::vector<SwitchEvent> events_;

    // Rate fit: x = seconds since the first point used, y = samples since the current
    // stretch's first point. Points go in one per 100 ms bin: the bin's earliest switch
    // (the smallest x − y / rate) once the bin is over.
    bool rateStarted_ = false;
    int64_t rateOriginNs_ = 0;
    bool stretchStarted_ = false;
    int64_t stretchOriginPosition_ = 0;
    int64_t binIndex_ = 0;
    bool binHasPoint_ = false;
    int64_t binEntryNs_ = 0;
    double binX_ = 0, binY_ = 0, binLag_ = 0;
    uint32_t binSwitches_ = 0;
    bool binCut_ = false, nextBinCut_ = false; // the bin began (the next one begins) at a pause
    uint32_t cutBinMinimum_ = 1;               // half a bin's switches
    RateFit stretch_;
    bool afterCandidate_ = false; // the points go to pendingFit_ until the candidate is settled
    RateFit pendingFit_;
    LostTimeTracker lostTime_;
    ClockLagTracker clockLag_;
    double pooledXX_ = 0, pooledXY_ = 0;
    uint64_t pooledPoints_ = 0;
    bool fitSpanStarted_ = false;
    int64_t fitMinEntryNs_ = 0, fitMaxEntryNs_ = 0;
};

} // namespace measure
