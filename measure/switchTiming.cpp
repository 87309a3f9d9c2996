#include "measure/switchTiming.h"

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

// floor(seconds × rate / bufferSize); long double keeps the product of nanoseconds and
// rate exact for hours-long runs where it can.
uint64_t expectedSwitchCount(int64_t durationNs, double rate, int64_t bufferSize) {
    if (durationNs <= 0 || !(rate > 0) || !std::isfinite(rate) || bufferSize <= 0) return 0;
    const long double count = static_cast<long double>(durationNs) * static_cast<long double>(rate) /
                              (static_cast<long double>(bufferSize) * 1e9L);
    constexpr long double ceiling = 18446744073709549568.0L; // below 2^64, a valid conversion
    if (!(count < ceiling)) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(std::floor(count));
}

} // namespace

SwitchTiming::SwitchTiming(int32_t bufferSize, double reportedRate)
    : bufferSize_(bufferSize), reportedRate_(reportedRate),
      intervalHistogram_(static_cast<size_t>(histogramMicroseconds), 0) {
    if (bufferSize > 0 && reportedRate > 0 && std::isfinite(reportedRate)) {
        periodNs_ = static_cast<double>(bufferSize) * 1e9 / reportedRate;
        lateThresholdNs_ = 1.5e9 * static_cast<double>(bufferSize) / reportedRate;
    }
}

void SwitchTiming::add(const SwitchRecord& record) {
    if (switches_ > 0) {
        addContinuity(record);
        addInterval(saturatingDifference(record.entryNs, previous_.entryNs));
    } else if (!isHalfIndex(record.half)) {
        ++halfErrors_;
    }

    const int64_t hostNs = saturatingDifference(record.exitNs, record.entryNs);
    hostSumNs_ = saturatingSum(hostSumNs_, hostNs);
    if (switches_ == 0 || hostNs > hostMaxNs_) hostMaxNs_ = hostNs;

    addRatePoint(record);
    previous_ = record;
    ++switches_;
}

void SwitchTiming::addContinuity(const SwitchRecord& record) {
    const bool bothValid = previous_.positionValid && record.positionValid;
    const int64_t d = bothValid ? saturatingDifference(record.position, previous_.position) : 0;
    if (bothValid) {
        if (d > bufferSize_) {
            ++gaps_;
            samplesLost_ = saturatingSum(samplesLost_, saturatingDifference(d, bufferSize_));
        } else if (d == 0) {
            ++repeats_;
        } else if (d < 0) {
            ++backwards_;
        } else if (d < bufferSize_) {
            ++shortSteps_;
        }
    }

    if (!isHalfIndex(record.half)) {
        ++halfErrors_;
        return;
    }
    // The halves alternate once per buffer the position moved: an odd number of whole
    // buffers must flip the half, an even number (a repeat included) must keep it.
    if (!bothValid || !isHalfIndex(previous_.half) || bufferSize_ <= 0 || d < 0 || d % bufferSize_ != 0)
        return;
    const bool oddBuffers = (d / bufferSize_) % 2 != 0;
    const bool changed = record.half != previous_.half;
    if (oddBuffers != changed) ++halfErrors_;
}

void SwitchTiming::addInterval(int64_t intervalNs) {
    if (intervals_ == 0 || intervalNs < intervalMinNs_) intervalMinNs_ = intervalNs;
    if (intervals_ == 0 || intervalNs > intervalMaxNs_) intervalMaxNs_ = intervalNs;
    intervalSumNs_ = saturatingSum(intervalSumNs_, intervalNs);
    ++intervals_;
    if (lateThresholdNs_ && static_cast<double>(intervalNs) > *lateThresholdNs_) ++late_;

    // A clock that ran backwards counts in the lowest bin.
    const int64_t us = intervalNs > 0 ? roundedMicroseconds(intervalNs) : 0;
    if (us < histogramMicroseconds)
        ++intervalHistogram_[static_cast<size_t>(us)];
    else
        ++longIntervals_[us];
}

void SwitchTiming::RateFit::add(int64_t entryNs, double x, double y) {
    ++count;
    const double n = static_cast<double>(count);
    const double dx = x - meanX;
    meanX += dx / n;
    meanY += (y - meanY) / n;
    comomentXX += dx * (x - meanX);
    comomentXY += dx * (y - meanY);
    if (count == 1 || entryNs < minEntryNs) minEntryNs = entryNs;
    if (count == 1 || entryNs > maxEntryNs) maxEntryNs = entryNs;
}

void SwitchTiming::addRatePoint(const SwitchRecord& record) {
    constexpr int64_t settleNs = 500'000'000;
    constexpr int64_t binNs = 100'000'000;
    if (switches_ == 0) firstEntryNs_ = record.entryNs;
    if (!record.positionValid || saturatingDifference(record.entryNs, firstEntryNs_) < settleNs) return;

    if (!rateStarted_) {
        rateStarted_ = true;
        rateOriginNs_ = record.entryNs;
        rateOriginPosition_ = record.position;
    }
    const int64_t sinceOrigin = saturatingDifference(record.entryNs, rateOriginNs_);
    const double x = static_cast<double>(sinceOrigin) * 1e-9;
    const double y = static_cast<double>(saturatingDifference(record.position, rateOriginPosition_));
    // How late this switch came against the reported clock; only comparisons within a bin
    // use it, so a rate that is a little off does not matter.
    const double lag = reportedRate_ > 0 && std::isfinite(reportedRate_) ? x - y / reportedRate_ : 0.0;
    const int64_t bin = sinceOrigin / binNs;
    if (binHasPoint_ && bin != binIndex_) {
        rateFit_.add(binEntryNs_, binX_, binY_);
        binHasPoint_ = false;
    }
    if (!binHasPoint_ || lag < binLag_) {
        binIndex_ = bin;
        binHasPoint_ = true;
        binEntryNs_ = record.entryNs;
        binX_ = x;
        binY_ = y;
        binLag_ = lag;
    }
}

double SwitchTiming::intervalPercentile99() const {
    if (intervals_ == 0) return 0;
    // Rank ceil(0.99 × n) in integers: the value at that rank of the sorted intervals.
    const uint64_t rank = (99 * intervals_ + 99) / 100;
    uint64_t seen = 0;
    for (size_t us = 0; us < intervalHistogram_.size(); ++us) {
        seen += intervalHistogram_[us];
        if (seen >= rank) return static_cast<double>(us);
    }
    for (const auto& [us, count] : longIntervals_) {
        seen += count;
        if (seen >= rank) return static_cast<double>(us);
    }
    return 0; // not reached: the counts add up to intervals_
}

SwitchSummary SwitchTiming::summary(int64_t runStartNs, int64_t runEndNs) const {
    SwitchSummary s;
    s.switches = switches_;
    s.expectedSwitches =
        expectedSwitchCount(saturatingDifference(runEndNs, runStartNs), reportedRate_, bufferSize_);
    s.gaps = gaps_;
    s.samplesLost = samplesLost_;
    s.repeats = repeats_;
    s.backwards = backwards_;
    s.shortSteps = shortSteps_;
    s.halfErrors = halfErrors_;

    if (intervals_ > 0) {
        s.intervalUs.min = static_cast<double>(intervalMinNs_) / 1e3;
        s.intervalUs.max = static_cast<double>(intervalMaxNs_) / 1e3;
        s.intervalUs.mean = static_cast<double>(intervalSumNs_) / static_cast<double>(intervals_) / 1e3;
        s.intervalUs.p99 = intervalPercentile99();
        s.intervalUs.late = late_;
    }

    if (switches_ > 0) {
        const double meanHostNs = static_cast<double>(hostSumNs_) / static_cast<double>(switches_);
        s.hostUs.mean = meanHostNs / 1e3;
        s.hostUs.max = static_cast<double>(hostMaxNs_) / 1e3;
        if (periodNs_) s.hostLoad = meanHostNs / *periodNs_;
    }

    constexpr int64_t minimumSpanNs = 100'000'000;
    RateFit fit = rateFit_;
    if (binHasPoint_) fit.add(binEntryNs_, binX_, binY_); // the bin still open
    if (fit.count >= 3 && saturatingDifference(fit.maxEntryNs, fit.minEntryNs) >= minimumSpanNs &&
        fit.comomentXX > 0) {
        const double rate = fit.comomentXY / fit.comomentXX;
        s.measuredRate = rate;
        if (reportedRate_ > 0 && std::isfinite(reportedRate_))
            s.rateErrorPpm = (rate / reportedRate_ - 1.0) * 1e6;
    }
    return s;
}

} // namespace measure
