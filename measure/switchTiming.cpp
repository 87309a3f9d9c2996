#include "measure/switchTiming.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace measure {

namespace {

constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();

// Nonsense records (clocks or positions far apart) must not overflow: differences and sums
// saturate at the ends of the range instead.
int64_t saturatingDifference(int64_t a, int64_t b) {
    int64_t result = 0;
    if (__builtin_sub_overflow(a, b, &result)) return a > b ? int64Max : int64Min;
    return result;
}

int64_t saturatingSum(int64_t a, int64_t b) {
    int64_t result = 0;
    if (__builtin_add_overflow(a, b, &result)) return b > 0 ? int64Max : int64Min;
    return result;
}

// Nearest whole microsecond of a non-negative duration.
int64_t roundedMicroseconds(int64_t ns) {
    return ns / 1000 + (ns % 1000 >= 500 ? 1 : 0);
}

bool isHalfIndex(int32_t half) {
    return half == 0 || half == 1;
}

bool sensibleRate(double rate) {
    return rate > 0 && std::isfinite(rate);
}

// floor(seconds × rate / bufferSize); long double keeps the product of nanoseconds and
// rate exact for hours-long runs where it can.
uint64_t expectedSwitchCount(int64_t durationNs, double rate, int64_t bufferSize) {
    if (durationNs <= 0 || !sensibleRate(rate) || bufferSize <= 0) return 0;
    const long double count = static_cast<long double>(durationNs) * static_cast<long double>(rate) /
                              (static_cast<long double>(bufferSize) * 1e9L);
    constexpr long double ceiling = 18446744073709549568.0L; // below 2^64, a valid conversion
    if (!(count < ceiling)) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(std::floor(count));
}

// One interval into a histogram of whole microseconds and the map of longer ones.
void countInterval(std::vector<uint64_t>& histogram, std::map<int64_t, uint64_t>& longer, int64_t intervalNs) {
    // A clock that ran backwards counts in the lowest bin.
    const int64_t us = intervalNs > 0 ? roundedMicroseconds(intervalNs) : 0;
    if (us < SwitchTiming::histogramMicroseconds)
        ++histogram[static_cast<size_t>(us)];
    else
        ++longer[us];
}

} // namespace

namespace {

double periodOf(int32_t bufferSize, double rate) {
    return bufferSize > 0 && sensibleRate(rate) ? static_cast<double>(bufferSize) * 1e9 / rate : 0.0;
}

} // namespace

SwitchTiming::SwitchTiming(int32_t bufferSize, double reportedRate)
    : bufferSize_(bufferSize), reportedRate_(reportedRate),
      intervalHistogram_(static_cast<size_t>(histogramMicroseconds), 0),
      lostTime_(periodOf(bufferSize, reportedRate), bufferSize),
      clockLag_(periodOf(bufferSize, reportedRate), bufferSize) {
    if (bufferSize > 0 && sensibleRate(reportedRate)) {
        periodNs_ = static_cast<double>(bufferSize) * 1e9 / reportedRate;
        lateThresholdNs_ = 1.5e9 * static_cast<double>(bufferSize) / reportedRate;
        cutBinMinimum_ =
            std::max<uint32_t>(1, static_cast<uint32_t>(std::min(0.5 * rateBinNs / *periodNs_, 1e6)));
    }
    const double limit = sensibleRate(reportedRate) ? jumpLimitSeconds * reportedRate : double(1 << 20);
    jumpLimitSamples_ = static_cast<int64_t>(std::min(limit, 1e15));
    lateIntervals_.reserve(maxLateIntervals);
}

void SwitchTiming::add(const SwitchRecord& record) {
    if (switches_ == 0) {
        firstEntryNs_ = record.entryNs;
        if (!originSet_) originNs_ = record.entryNs;
        originSet_ = true;
    }
    if (!record.positionValid) ++positionless_;

    std::optional<int64_t> intervalNs;
    bool continuous = false, late = false;
    if (record.hostLostBefore > 0 || record.overlapsBefore > 0) {
        // Switches the host could not note, or turned away because they came while another
        // was inside, lie between this one and the previous: nothing is judged across
        // them, and the rate fit starts a new stretch.
        hostLost_ += record.hostLostBefore;
        overlaps_ += record.overlapsBefore;
        if (record.hostLostBefore > 0)
            addEvent(record.entryNs, SwitchEventKind::hostLoss, record.hostLostBefore);
        breakRateStretch();
        if (!isHalfIndex(record.half)) ++halfErrors_;
    } else if (switches_ > 0) {
        continuous = addContinuity(record);
        intervalNs = saturatingDifference(record.entryNs, previous_.entryNs);
        late = addInterval(*intervalNs, record.entryNs);
    } else if (!isHalfIndex(record.half)) {
        ++halfErrors_;
    }
    if (!isHalfIndex(record.half)) addEvent(record.entryNs, SwitchEventKind::halfError, record.half);

    const int64_t hostNs =
        record.hostNs >= 0 ? record.hostNs : std::max<int64_t>(saturatingDifference(record.exitNs, record.entryNs), 0);
    hostSumNs_ = saturatingSum(hostSumNs_, hostNs);
    if (switches_ == 0 || hostNs > hostMaxNs_) hostMaxNs_ = hostNs;

    addToTimeline(record, hostNs, intervalNs);
    // Time lost for good moves the driver's clock on with it.
    if (followLostTime(record, continuous, late)) clockLag_.restart();
    clockLag_.add(record.entryNs, record.position, continuous, late);
    addRatePoint(record);
    previous_ = record;
    ++switches_;
}

void SwitchTiming::addEvent(int64_t atNs, SwitchEventKind kind, int64_t value) {
    if (events_.size() < maxEvents) events_.push_back({atNs, kind, value});
}

bool SwitchTiming::addContinuity(const SwitchRecord& record) {
    const bool bothValid = previous_.positionValid && record.positionValid;
    const int64_t d = bothValid ? saturatingDifference(record.position, previous_.position) : 0;
    bool jumped = false;
    if (bothValid) {
        const int64_t off = saturatingDifference(d, bufferSize_);
        if (off > jumpLimitSamples_ || off < -jumpLimitSamples_) {
            jumped = true;
            ++jumps_;
            addEvent(record.entryNs, SwitchEventKind::positionJump, d);
        } else if (d > bufferSize_) {
            ++gaps_;
            samplesLost_ = saturatingSum(samplesLost_, off);
            addEvent(record.entryNs, SwitchEventKind::gap, off);
        } else if (d == 0) {
            ++repeats_;
            addEvent(record.entryNs, SwitchEventKind::repeat, 0);
        } else if (d < 0) {
            ++backwards_;
            addEvent(record.entryNs, SwitchEventKind::backward, d);
        } else if (d < bufferSize_) {
            ++shortSteps_;
            addEvent(record.entryNs, SwitchEventKind::shortStep, d);
        }
        if (d != bufferSize_) breakRateStretch();
    } else {
        breakRateStretch();
    }

    const bool continuous = bothValid && d == bufferSize_;
    if (!isHalfIndex(record.half)) {
        ++halfErrors_;
        return continuous;
    }
    // The halves alternate once per buffer the position moved: an odd number of whole
    // buffers must flip the half, an even number (a repeat included) must keep it.
    if (!bothValid || jumped || !isHalfIndex(previous_.half) || bufferSize_ <= 0 || d < 0 || d % bufferSize_ != 0)
        return continuous;
    const bool oddBuffers = (d / bufferSize_) % 2 != 0;
    const bool changed = record.half != previous_.half;
    if (oddBuffers != changed) {
        ++halfErrors_;
        addEvent(record.entryNs, SwitchEventKind::halfError, record.half);
    }
    return continuous;
}

bool SwitchTiming::addInterval(int64_t intervalNs, int64_t endNs) {
    if (intervals_ == 0 || intervalNs < intervalMinNs_) intervalMinNs_ = intervalNs;
    if (intervals_ == 0 || intervalNs > intervalMaxNs_) intervalMaxNs_ = intervalNs;
    intervalSumNs_ = saturatingSum(intervalSumNs_, intervalNs);
    ++intervals_;
    const bool late = lateThresholdNs_ && static_cast<double>(intervalNs) > *lateThresholdNs_;
    if (late) {
        ++late_;
        if (lateIntervals_.size() < maxLateIntervals)
            lateIntervals_.push_back({saturatingDifference(endNs, intervalNs), endNs});
        addEvent(endNs, SwitchEventKind::late, roundedMicroseconds(intervalNs));
    }
    countInterval(intervalHistogram_, longIntervals_, intervalNs);
    return late;
}

void SwitchTiming::addToTimeline(const SwitchRecord& record, int64_t hostNs, std::optional<int64_t> intervalNs) {
    const int64_t since = saturatingDifference(record.entryNs, originNs_);
    if (since < 0) return;
    const int64_t bin = since / timelineBinNs;
    // Bins are kept for a day of run at most.
    if (bin >= 24 * 3600 * 10) return;
    if (static_cast<size_t>(bin) >= timeline_.size()) timeline_.resize(static_cast<size_t>(bin) + 1);
    TimelineBin& b = timeline_[static_cast<size_t>(bin)];
    ++b.switches;
    const double hostUs = static_cast<double>(hostNs) / 1e3;
    b.hostSumUs += hostUs;
    b.hostMaxUs = std::max(b.hostMaxUs, hostUs);
    if (intervalNs) {
        const double us = static_cast<double>(*intervalNs) / 1e3;
        b.intervalMinUs = b.intervals == 0 ? us : std::min(b.intervalMinUs, us);
        b.intervalMaxUs = b.intervals == 0 ? us : std::max(b.intervalMaxUs, us);
        b.intervalSumUs += us;
        ++b.intervals;
    }
}

void SwitchTiming::RateFit::add(double x, double y) {
    ++count;
    const double n = static_cast<double>(count);
    const double dx = x - meanX;
    meanX += dx / n;
    meanY += (y - meanY) / n;
    comomentXX += dx * (x - meanX);
    comomentXY += dx * (y - meanY);
}

void SwitchTiming::RateFit::merge(const RateFit& other) {
    if (other.count == 0) return;
    if (count == 0) {
        *this = other;
        return;
    }
    const double n1 = static_cast<double>(count), n2 = static_cast<double>(other.count);
    const double n = n1 + n2;
    const double dx = other.meanX - meanX, dy = other.meanY - meanY;
    comomentXX += other.comomentXX + dx * dx * n1 * n2 / n;
    comomentXY += other.comomentXY + dx * dy * n1 * n2 / n;
    meanX += dx * n2 / n;
    meanY += dy * n2 / n;
    count += other.count;
}

namespace {
constexpr uint64_t minimumStretchPoints = 3;
} // namespace

void SwitchTiming::pool(const RateFit& stretch) {
    // Within a stretch the comoments are the sums of squares about its own means: adding
    // them up fits one slope with an intercept per stretch. A stretch of fewer than three
    // 100 ms points says nothing of the clock: the positions broke too soon, and its two
    // earliest switches may both be late (a driver that falls behind between its gaps).
    if (stretch.count < minimumStretchPoints) return;
    pooledXX_ += stretch.comomentXX;
    pooledXY_ += stretch.comomentXY;
    pooledPoints_ += stretch.count;
}

void SwitchTiming::breakRateStretch() {
    if (afterCandidate_) {
        // A pause not yet told: what came after it is left out.
        afterCandidate_ = false;
        pendingFit_ = RateFit{};
        binHasPoint_ = false;
    }
    closeBin(stretch_, false);
    pool(stretch_);
    stretch_ = RateFit{};
    stretchStarted_ = false;
}

void SwitchTiming::closeBin(RateFit& into, bool cut) {
    if (!binHasPoint_) return;
    // A bin a pause cut short holds too few switches for its earliest to be on time: with
    // fewer than half a bin's worth it is left out (a driver that pauses often would
    // otherwise have every stretch end, or begin, on a late point).
    if (!(cut || binCut_) || binSwitches_ >= cutBinMinimum_) into.add(binX_, binY_);
    binHasPoint_ = false;
}

bool SwitchTiming::followLostTime(const SwitchRecord& record, bool continuous, bool late) {
    const LostTimeTracker::Step step = lostTime_.add(record.entryNs, record.position, continuous, late);
    if (afterCandidate_ && step.settled != LostTimeTracker::Outcome::none) {
        afterCandidate_ = false;
        if (step.settled == LostTimeTracker::Outcome::lost) {
            pool(stretch_);
            stretch_ = pendingFit_;
        } else {
            stretch_.merge(pendingFit_);
        }
        pendingFit_ = RateFit{};
    }
    if (step.candidate) {
        // The open bin's point lies before this late switch; its own begins a new one.
        closeBin(openFit(), true);
        nextBinCut_ = true;
        afterCandidate_ = true;
    }
    return step.settled == LostTimeTracker::Outcome::lost;
}

void SwitchTiming::addRatePoint(const SwitchRecord& record) {
    constexpr int64_t settleNs = 500'000'000;
    constexpr int64_t binNs = rateBinNs;
    if (!record.positionValid || saturatingDifference(record.entryNs, firstEntryNs_) < settleNs) return;

    if (!rateStarted_) {
        rateStarted_ = true;
        rateOriginNs_ = record.entryNs;
    }
    if (!stretchStarted_) {
        stretchStarted_ = true;
        stretchOriginPosition_ = record.position;
    }
    const int64_t sinceOrigin = saturatingDifference(record.entryNs, rateOriginNs_);
    const double x = static_cast<double>(sinceOrigin) * 1e-9;
    const double y = static_cast<double>(saturatingDifference(record.position, stretchOriginPosition_));
    // How late this switch came against the reported clock; only comparisons within a bin
    // and a stretch use it, so a rate that is a little off does not matter.
    const double lag = sensibleRate(reportedRate_) ? x - y / reportedRate_ : 0.0;
    const int64_t bin = sinceOrigin / binNs;
    if (binHasPoint_ && bin != binIndex_) closeBin(openFit(), false);
    if (!binHasPoint_) {
        binSwitches_ = 0;
        binCut_ = nextBinCut_;
        nextBinCut_ = false;
    }
    ++binSwitches_;
    if (!binHasPoint_ || lag < binLag_) {
        binIndex_ = bin;
        binHasPoint_ = true;
        binEntryNs_ = record.entryNs;
        binX_ = x;
        binY_ = y;
        binLag_ = lag;
    }
    if (!fitSpanStarted_ || record.entryNs < fitMinEntryNs_) fitMinEntryNs_ = record.entryNs;
    if (!fitSpanStarted_ || record.entryNs > fitMaxEntryNs_) fitMaxEntryNs_ = record.entryNs;
    fitSpanStarted_ = true;
}

double SwitchTiming::intervalPercentile99(const std::vector<uint64_t>& histogram,
                                          const std::map<int64_t, uint64_t>& longer, uint64_t intervals) const {
    if (intervals == 0) return 0;
    // Rank ceil(0.99 × n) in integers: the value at that rank of the sorted intervals.
    const uint64_t rank = (99 * intervals + 99) / 100;
    uint64_t seen = 0;
    for (size_t us = 0; us < histogram.size(); ++us) {
        seen += histogram[us];
        if (seen >= rank) return static_cast<double>(us);
    }
    for (const auto& [us, count] : longer) {
        seen += count;
        if (seen >= rank) return static_cast<double>(us);
    }
    return 0; // not reached: the counts add up to intervals
}

std::vector<LateInterval> SwitchTiming::lateIntervals(int64_t runEndNs) const {
    std::vector<LateInterval> late = lateIntervals_;
    if (switches_ > 0 && lateThresholdNs_ && late.size() < maxLateIntervals &&
        static_cast<double>(saturatingDifference(runEndNs, previous_.entryNs)) > *lateThresholdNs_)
        late.push_back({previous_.entryNs, runEndNs});
    return late;
}

SwitchSummary SwitchTiming::summary(int64_t runStartNs, int64_t runEndNs) const {
    SwitchSummary s;
    s.switches = switches_;
    const int64_t startup =
        switches_ > 0 ? std::clamp<int64_t>(saturatingDifference(firstEntryNs_, runStartNs), 0, startupForgivenNs) : 0;
    const int64_t countedNs = saturatingDifference(runEndNs, runStartNs) - startup;
    s.expectedSwitches = expectedSwitchCount(countedNs, reportedRate_, bufferSize_);
    s.gaps = gaps_;
    s.samplesLost = samplesLost_;
    s.repeats = repeats_;
    s.backwards = backwards_;
    s.shortSteps = shortSteps_;
    s.positionJumps = jumps_;
    s.halfErrors = halfErrors_;
    s.positionless = positionless_;
    s.hostLostRecords = hostLost_;
    s.overlaps = overlaps_;

    // The quiet time from the last switch to the end of the run is an interval of its own
    // once it is longer than a period: a driver that went quiet delivered it late.
    uint64_t intervals = intervals_, late = late_;
    int64_t sumNs = intervalSumNs_, minNs = intervalMinNs_, maxNs = intervalMaxNs_;
    const std::vector<uint64_t>* histogram = &intervalHistogram_;
    const std::map<int64_t, uint64_t>* longer = &longIntervals_;
    std::vector<uint64_t> histogramWithTrail;
    std::map<int64_t, uint64_t> longerWithTrail;
    const int64_t trailNs = switches_ > 0 ? saturatingDifference(runEndNs, previous_.entryNs) : 0;
    if (switches_ > 0 && periodNs_ && static_cast<double>(trailNs) > *periodNs_) {
        s.trailingIntervalCounted = true;
        minNs = intervals == 0 ? trailNs : std::min(minNs, trailNs);
        maxNs = intervals == 0 ? trailNs : std::max(maxNs, trailNs);
        sumNs = saturatingSum(sumNs, trailNs);
        ++intervals;
        if (lateThresholdNs_ && static_cast<double>(trailNs) > *lateThresholdNs_) ++late;
        histogramWithTrail = intervalHistogram_;
        longerWithTrail = longIntervals_;
        countInterval(histogramWithTrail, longerWithTrail, trailNs);
        histogram = &histogramWithTrail;
        longer = &longerWithTrail;
    }
    if (intervals > 0) {
        s.intervalsKnown = true;
        s.intervalUs.min = static_cast<double>(minNs) / 1e3;
        s.intervalUs.max = static_cast<double>(maxNs) / 1e3;
        s.intervalUs.mean = static_cast<double>(sumNs) / static_cast<double>(intervals) / 1e3;
        s.intervalUs.p99 = intervalPercentile99(*histogram, *longer, intervals);
        s.intervalUs.late = late;
    }

    if (switches_ > 0) {
        s.hostTimeKnown = true;
        const double meanHostNs = static_cast<double>(hostSumNs_) / static_cast<double>(switches_);
        s.hostUs.mean = meanHostNs / 1e3;
        s.hostUs.max = static_cast<double>(hostMaxNs_) / 1e3;
        if (periodNs_) s.hostLoad = meanHostNs / *periodNs_;
    }

    constexpr int64_t minimumSpanNs = 100'000'000;
    // What came after a pause that cannot be told yet is left out.
    RateFit last = stretch_;
    if (binHasPoint_ && !afterCandidate_ && (!binCut_ || binSwitches_ >= cutBinMinimum_))
        last.add(binX_, binY_); // the bin still open
    if (last.count < minimumStretchPoints) last = RateFit{};
    const double xx = pooledXX_ + last.comomentXX;
    const double xy = pooledXY_ + last.comomentXY;
    const uint64_t points = pooledPoints_ + last.count;
    if (points >= 3 && saturatingDifference(fitMaxEntryNs_, fitMinEntryNs_) >= minimumSpanNs && xx > 0) {
        const double rate = xy / xx;
        s.measuredRate = rate;
        if (sensibleRate(reportedRate_)) s.rateErrorPpm = (rate / reportedRate_ - 1.0) * 1e6;
        s.expectedByDriverClock = expectedSwitchCount(countedNs, rate, bufferSize_);
    }

    if (bufferSize_ > 0)
        s.gapBuffers = static_cast<uint64_t>(std::max<int64_t>(samplesLost_, 0) / bufferSize_);
    s.lostTimePauses = lostTime_.count();
    s.lostTimeMs = static_cast<double>(lostTime_.totalLostNs()) / 1e6;
    if (periodNs_)
        s.lostTimeBuffers = static_cast<uint64_t>(std::llround(double(lostTime_.totalLostNs()) / *periodNs_));
    for (const LostTime& pause : lostTime_.pauses()) {
        if (s.lostTime.size() >= maxListedLostTime) break;
        s.lostTime.push_back({static_cast<double>(saturatingDifference(pause.fromNs, runStartNs)) / 1e9,
                              static_cast<double>(pause.lostNs) / 1e6});
    }
    s.behindEpisodes = clockLag_.count();
    s.behindWorstMs = static_cast<double>(clockLag_.worstNs()) / 1e6;
    for (const BehindClock& episode : clockLag_.episodes()) {
        if (s.behind.size() >= maxListedLostTime) break;
        s.behind.push_back({static_cast<double>(saturatingDifference(episode.atNs, runStartNs)) / 1e9,
                            static_cast<double>(episode.worstNs) / 1e6});
    }
    return s;
}

std::vector<LateInterval> SwitchTiming::behindIntervals() const {
    std::vector<LateInterval> intervals;
    for (const BehindClock& episode : clockLag_.episodes())
        intervals.push_back({episode.dueNs, episode.atNs});
    return intervals;
}

std::vector<LateInterval> SwitchTiming::lostTimeIntervals() const {
    std::vector<LateInterval> intervals;
    for (const LostTime& pause : lostTime_.pauses())
        intervals.push_back({pause.fromNs, pause.lastNs});
    return intervals;
}

std::optional<int64_t> SwitchTiming::firstEntryNs() const {
    if (switches_ == 0) return std::nullopt;
    return firstEntryNs_;
}

} // namespace measure
