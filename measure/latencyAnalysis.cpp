#include "measure/latencyAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "measure/sineGlitches.h"
#include "measure/statistics.h"

namespace measure {

namespace {

// Stretches cut short by the end of the input are checked when at least this many
// periods were recorded.
constexpr int64_t minPartialPeriods = 8;
// Lags on each side of the peak kept for the report.
constexpr int64_t reportedPeakReach = 32;
// Taps on each side of the fractional-delay filter that shapes the expected burst.
constexpr int fractionTaps = 12;

const float unknownSample = std::numeric_limits<float>::quiet_NaN();

bool usablePlan(const LoopbackSignal& signal) {
    return signal.sequence.size() == size_t(signal.burstLength) && signal.sinePeriod >= 3 &&
           signal.cycleLength > 2 * signal.burstLength + 4 * signal.sinePeriod &&
           signal.cycleLength <= 500000;
}

// A transform at least as long as a search window of S + N - 1 samples.
size_t transformSize(const LoopbackSignal& signal) {
    return usablePlan(signal) ? nextPowerOfTwo(static_cast<size_t>(signal.cycleLength + signal.burstLength - 1)) : 2;
}

double tenthOf(double value) {
    return std::round(value * 10.0) / 10.0;
}

// A windowed sinc that delays by `fraction` (0 to 1) of a sample: tap j weighs the
// sample j before the one being made.
std::vector<double> fractionalDelayTaps(double fraction) {
    std::vector<double> taps(2 * fractionTaps + 1);
    for (int j = -fractionTaps; j <= fractionTaps; ++j) {
        const double x = j - fraction;
        const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double window = 0.5 + 0.5 * std::cos(std::numbers::pi * x / (fractionTaps + 1));
        taps[size_t(j + fractionTaps)] = sinc * window;
    }
    return taps;
}

} // namespace

LatencyAnalyser::LatencyAnalyser(const LoopbackSignal& signal)
    : cycleLength_(signal.cycleLength), burstLength_(signal.burstLength), sinePeriod_(signal.sinePeriod),
      amplitude_(signal.amplitude), valid_(usablePlan(signal)), fft_(transformSize(signal)),
      sequence_(signal.sequence), delayFit_(signal.burstLength) {
    if (!valid_) return;
    window_.assign(fft_.size(), 0.0);
    std::copy(sequence_.begin(), sequence_.end(), window_.begin());
    fft_.forward(window_, sequenceSpectrum_);
    for (auto& value : sequenceSpectrum_)
        value = std::conj(value);
}

int64_t LatencyAnalyser::recordedEnd() const {
    return bufferStart_ + static_cast<int64_t>(buffer_.size());
}

void LatencyAnalyser::addInput(int64_t position, const float* samples, size_t count) {
    if (finished_ || !valid_ || count == 0) return;
    const int64_t end = position + static_cast<int64_t>(count);
    int64_t from = std::max<int64_t>(position, 0);
    if (started_) from = std::max(from, recordedEnd());
    if (from >= end) return;
    if (!started_) {
        started_ = true;
        recordedStart_ = from;
        bufferStart_ = from;
        buffer_.clear();
        // Windows that began before the input did cannot be searched.
        nextWindow_ = (from + cycleLength_ - 1) / cycleLength_;
        cleanSinceStart_ = from == 0 && !restarted_;
        if (!loopKnown_) {
            nextCheckCycle_ = nextWindow_;
        } else if (!result_.lags.empty()) {
            // After a re-base: the first cycle whose stretch comes back after this input began.
            nextCheckCycle_ = std::max<int64_t>((from - std::llround(median(result_.lags))) / cycleLength_, 0);
        }
    } else {
        fillSilenceTo(from);
    }
    append(samples + (from - position), static_cast<size_t>(end - from), false);
}

// Positions the driver skipped: silence is what came back for them.
void LatencyAnalyser::fillSilenceTo(int64_t position) {
    if (position <= recordedEnd()) return;
    const std::vector<float> silence(static_cast<size_t>(std::min<int64_t>(position - recordedEnd(), cycleLength_)),
                                     0.0f);
    while (recordedEnd() < position) {
        const size_t now = static_cast<size_t>(std::min<int64_t>(position - recordedEnd(), cycleLength_));
        append(silence.data(), now, false);
    }
}

void LatencyAnalyser::addLoss(int64_t position, size_t count) {
    if (finished_ || !valid_ || count == 0 || !started_) {
        // Before any input arrived there is no place to put it: the start then shows
        // as input that began late.
        if (!started_) cleanSinceStart_ = false;
        return;
    }
    const int64_t end = position + static_cast<int64_t>(count);
    fillSilenceTo(position);
    const int64_t from = std::max(position, recordedEnd());
    if (from >= end) return;
    result_.unknownSamples += end - from;
    append(nullptr, static_cast<size_t>(end - from), true);
}

void LatencyAnalyser::rebase(int64_t position) {
    if (finished_ || !valid_) return;
    ++result_.rebases;
    finishPending();
    started_ = false;
    restarted_ = true;
    buffer_.clear();
    bufferStart_ = std::max<int64_t>(position, 0);
}

// Adds at most one cycle at a time before processing, so the buffer stays within a few
// cycles however much arrives at once. A null `samples` adds unknown samples.
void LatencyAnalyser::append(const float* samples, size_t count, bool unknown) {
    const size_t piece = static_cast<size_t>(cycleLength_);
    for (size_t done = 0; done < count;) {
        const size_t now = std::min(piece, count - done);
        for (size_t i = 0; i < now; ++i) {
            if (unknown) {
                buffer_.push_back(unknownSample);
                lastNonFinite_ = false;
                continue;
            }
            const float value = samples[done + i];
            if (std::isfinite(value)) {
                buffer_.push_back(value);
                lastNonFinite_ = false;
                continue;
            }
            // Not a number: a glitch of its own, kept out of every other figure.
            buffer_.push_back(unknownSample);
            if (!lastNonFinite_) {
                ++result_.nonFiniteRuns;
                noteGlitch(recordedEnd() - 1);
            }
            lastNonFinite_ = true;
        }
        done += now;
        process();
    }
}

void LatencyAnalyser::process() {
    const int64_t windowLength = cycleLength_ + burstLength_ - 1;
    for (;;) {
        bool progressed = false;
        const int64_t windowStart = nextWindow_ * cycleLength_;
        if (recordedEnd() >= windowStart + windowLength) {
            searchWindow(nextWindow_);
            ++nextWindow_;
            progressed = true;
        }
        if (loopKnown_ && !result_.lags.empty() && nextWindow_ > nextCheckCycle_ + loopCycles_) {
            // The cycle's own burst has been searched for: its stretch is checked at its lag.
            const int64_t lag = lagOfCycle(nextCheckCycle_);
            const int64_t end = nextCheckCycle_ * cycleLength_ + cycleLength_ - sineMargin + lag;
            if (recordedEnd() >= end) {
                checkCycleStretch(nextCheckCycle_, false);
                ++nextCheckCycle_;
                progressed = true;
            }
        } else if (!loopKnown_ && nextWindow_ - nextCheckCycle_ > maxLoopCycles) {
            // No burst for longer than any loop placed: the stretches of those early cycles
            // will never be checked, so their input need not be kept.
            nextCheckCycle_ = nextWindow_ - maxLoopCycles;
            progressed = true;
        }
        if (!progressed) break;
    }
    fitPendingBursts(false);
    discardUnneeded();
}

int64_t LatencyAnalyser::lagOfCycle(int64_t cycle) {
    while (!cycleLags_.empty() && cycleLags_.front().first < cycle) cycleLags_.pop_front();
    if (!cycleLags_.empty() && cycleLags_.front().first == cycle) return std::llround(cycleLags_.front().second);
    return std::llround(median(result_.lags));
}

void LatencyAnalyser::discardUnneeded() {
    int64_t keepFrom = nextWindow_ * cycleLength_;
    const int64_t lag = loopKnown_ && !result_.lags.empty() ? std::llround(median(result_.lags)) : 0;
    keepFrom = std::min(keepFrom, nextCheckCycle_ * cycleLength_ + lag);
    keepFrom = std::min(keepFrom, recordedEnd());
    // A burst's segment reaches its margins before the burst.
    keepFrom = std::min(keepFrom, nextWindow_ * cycleLength_ - delayFit_.burstOffset());
    if (!pendingBursts_.empty())
        keepFrom = std::min(keepFrom, pendingBursts_.front().inputStart - delayFit_.burstOffset());
    // Drop whole cycles at a time: erasing from the front moves what is kept.
    if (keepFrom - bufferStart_ < cycleLength_) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + (keepFrom - bufferStart_));
    bufferStart_ = keepFrom;
}

// Correlates the window with the sequence for every lag at once: the inverse transform of
// X · conj(Q) holds sum_i q[i] x[lag + i] at index lag, and the transform is at least as
// long as the window, so no lag wraps around.
void LatencyAnalyser::searchWindow(int64_t window) {
    const int64_t start = window * cycleLength_;
    const size_t width = static_cast<size_t>(cycleLength_ + burstLength_ - 1);
    if (start < bufferStart_) {
        if (!loopKnown_) cleanSinceStart_ = false;
        return;
    }
    size_t unknown = 0;
    for (size_t i = 0; i < width; ++i) {
        const float value = at(start + int64_t(i));
        const bool known = !std::isnan(value);
        unknown += known ? 0 : 1;
        window_[i] = known ? value : 0.0;
    }
    if (double(unknown) > maxUnknownShare * double(width)) {
        if (!loopKnown_) cleanSinceStart_ = false;
        return;
    }
    ++result_.burstsSent;
    std::fill(window_.begin() + static_cast<std::ptrdiff_t>(width), window_.end(), 0.0);
    fft_.forward(window_, spectrum_);
    for (size_t k = 0; k < spectrum_.size(); ++k)
        spectrum_[k] *= sequenceSpectrum_[k];
    fft_.inverse(spectrum_, correlation_);
    auto c = [this](int64_t lag) { return correlation_[static_cast<size_t>(lag)]; };

    const int64_t lagCount = cycleLength_;
    int64_t peak = 0;
    for (int64_t lag = 1; lag < lagCount; ++lag)
        if (std::abs(c(lag)) > std::abs(c(peak))) peak = lag;
    const double peakValue = c(peak);

    double energy = 0.0;
    for (int64_t i = peak; i < peak + burstLength_; ++i)
        energy += window_[size_t(i)] * window_[size_t(i)];
    double othersSquared = 0.0;
    int64_t others = 0;
    for (int64_t lag = 0; lag < lagCount; ++lag) {
        if (std::abs(lag - peak) <= burstPeakGuard) continue;
        othersSquared += c(lag) * c(lag);
        ++others;
    }
    const double correlation =
        energy > 0.0 ? std::abs(peakValue) / std::sqrt(double(burstLength_) * energy) : 0.0;
    const double othersRms = others > 0 ? std::sqrt(othersSquared / double(others)) : 0.0;
    if (peakValue == 0.0 || others == 0 || correlation < burstMinCorrelation ||
        std::abs(peakValue) < burstMinPeakToRms * othersRms) {
        // Before the first burst the loop's own travel; after it, a burst lost on the way.
        if (loopKnown_) ++result_.burstsMissing;
        return;
    }

    // The first burst places the loop: whole cycles in which nothing came back before it.
    if (!loopKnown_) {
        loopKnown_ = true;
        loopCycles_ = window;
        if (!cleanSinceStart_ || window > maxLoopCycles) result_.lagAmbiguous = true;
    }

    // Between samples: for a band-limited loop the peak's two largest neighbours share it
    // in proportion to how far the delay lies towards each.
    const double here = std::abs(peakValue);
    const double before = peak > 0 ? std::abs(c(peak - 1)) : 0.0;
    const double after = peak + 1 < lagCount ? std::abs(c(peak + 1)) : 0.0;
    double fraction = after >= before ? after / (here + after) : -before / (here + before);
    const double lagInWindow = tenthOf(double(peak) + fraction);

    ++result_.burstsFound;
    const double lag = double(loopCycles_ * cycleLength_) + lagInWindow;
    result_.lags.push_back(lag);
    result_.burstPositions.push_back(start + peak);
    cycleLags_.emplace_back(window - loopCycles_, lag);
    pendingBursts_.push_back({start + peak, (window - loopCycles_) * cycleLength_, lagInWindow - double(peak)});
    if (result_.peakCorrelation.empty()) {
        result_.peakFirstLag = loopCycles_ * cycleLength_ + std::max<int64_t>(peak - reportedPeakReach, 0);
        for (int64_t lag = std::max<int64_t>(peak - reportedPeakReach, 0);
             lag <= std::min<int64_t>(peak + reportedPeakReach, lagCount - 1); ++lag)
            result_.peakCorrelation.push_back(c(lag) / (amplitude_ * double(burstLength_)));
    }
    const int64_t whole = static_cast<int64_t>(std::floor(lagInWindow));
    gains_.push_back(checkBurst(start + whole, lagInWindow - double(whole)));
}

// The burst as it should have come back (the sequence, delayed by the lag's fraction and
// scaled by the gain that fits it best) against what came: samples far from it are a
// dropout or a click. Returns that gain (signed).
double LatencyAnalyser::checkBurst(int64_t begin, double fraction) {
    expected_.assign(size_t(burstLength_), 0.0);
    if (fraction < 0.05 || fraction > 0.95) {
        const int64_t shift = fraction > 0.95 ? 1 : 0;
        for (int64_t i = shift; i < burstLength_; ++i)
            expected_[size_t(i)] = sequence_[size_t(i - shift)];
    } else {
        const std::vector<double> taps = fractionalDelayTaps(fraction);
        for (int64_t i = 0; i < burstLength_; ++i) {
            double value = 0.0;
            for (int j = -fractionTaps; j <= fractionTaps; ++j) {
                const int64_t k = i - j;
                if (k >= 0 && k < burstLength_) value += taps[size_t(j + fractionTaps)] * sequence_[size_t(k)];
            }
            expected_[size_t(i)] = value;
        }
    }
    // The gain most samples show: the median ratio of what came to what was expected,
    // where the expected burst is large. A least-squares gain would follow a dropout down
    // and hide it in the residuals; the median holds while less than half the burst is
    // disturbed, and when more is, the intact samples stray from it instead.
    std::vector<double> ratios;
    ratios.reserve(size_t(burstLength_));
    for (int64_t i = 0; i < burstLength_; ++i) {
        const float value = at(begin + i);
        if (std::isnan(value) || std::abs(expected_[size_t(i)]) < 0.5) continue;
        ratios.push_back(value / (amplitude_ * expected_[size_t(i)]));
    }
    if (ratios.empty()) return 0.0;
    const double gain = median(std::move(ratios));
    std::vector<double> residuals;
    residuals.reserve(size_t(burstLength_));
    for (int64_t i = 0; i < burstLength_; ++i) {
        const float value = at(begin + i);
        if (std::isnan(value)) continue;
        residuals.push_back(std::abs(value - gain * amplitude_ * expected_[size_t(i)]));
    }
    if (residuals.size() < size_t(burstLength_) / 2) return gain;
    const double sigma = 1.4826 * median(residuals);
    const double threshold = std::max({8.0 * sigma, 0.25 * std::abs(gain) * amplitude_, 1e-4});
    result_.samplesChecked += static_cast<int64_t>(residuals.size());
    int64_t lastOutlier = -1;
    for (int64_t i = 0; i < burstLength_; ++i) {
        const float value = at(begin + i);
        if (std::isnan(value) || std::abs(value - gain * amplitude_ * expected_[size_t(i)]) <= threshold) continue;
        if (lastOutlier < 0 || i - lastOutlier >= sinePeriod_) noteGlitch(begin + i);
        lastOutlier = i;
    }
    return gain;
}

void LatencyAnalyser::checkCycleStretch(int64_t cycle, bool partial) {
    if (!loopKnown_ || result_.lags.empty()) return;
    const int64_t lag = lagOfCycle(cycle);
    const int64_t cycleStart = cycle * cycleLength_;
    const int64_t begin = std::max({cycleStart + burstLength_ + sineMargin + lag, bufferStart_, recordedStart_});
    int64_t end = cycleStart + cycleLength_ - sineMargin + lag;
    if (partial) {
        end = std::min(end, recordedEnd());
        if (end - begin < minPartialPeriods * sinePeriod_) return;
    }
    checkStretch(begin, end);
}

// A stretch of the steady sine: each run of known samples is fitted on its own.
void LatencyAnalyser::checkStretch(int64_t begin, int64_t end) {
    int64_t runStart = begin;
    for (int64_t p = begin; p <= end; ++p) {
        const bool known = p < end && !std::isnan(at(p));
        if (known) continue;
        if (p - runStart >= 2 * sinePeriod_) {
            const SineGlitchFindings findings = findSineGlitches(
                &buffer_[static_cast<size_t>(runStart - bufferStart_)], static_cast<size_t>(p - runStart), runStart,
                sinePeriod_);
            result_.samplesChecked += p - runStart;
            if (p - runStart >= minPartialPeriods * sinePeriod_) sineAmplitudes_.push_back(findings.amplitude);
            for (int64_t position : findings.eventStarts)
                noteGlitch(position);
        }
        runStart = p + 1;
    }
}

void LatencyAnalyser::noteGlitch(int64_t position) {
    ++result_.glitches;
    if (result_.glitchPositions.size() < maxGlitchPositions) result_.glitchPositions.push_back(position);
    if (result_.glitchSnapshots.size() >= maxGlitchSnapshots) return;
    GlitchSnapshot snapshot;
    snapshot.position = position;
    snapshot.firstPosition = std::max(position - glitchSnapshotHalfWidth, bufferStart_);
    const int64_t end = std::min(position + glitchSnapshotHalfWidth, recordedEnd());
    const bool known = loopKnown_ && !result_.lags.empty() && !gains_.empty();
    const int64_t lag = known ? std::llround(median(result_.lags)) : 0;
    const double gain = known ? median(gains_) : 0.0;
    // The expected input: the signal one round trip earlier, at the loop's gain.
    LoopbackSignal signal;
    signal.cycleLength = cycleLength_;
    signal.burstLength = static_cast<int>(burstLength_);
    signal.sinePeriod = sinePeriod_;
    signal.amplitude = amplitude_;
    signal.sequence = sequence_;
    for (int64_t p = snapshot.firstPosition; p < end; ++p) {
        snapshot.recorded.push_back(at(p));
        snapshot.expected.push_back(known ? static_cast<float>(gain * signal.signalAt(p - lag)) : unknownSample);
    }
    result_.glitchSnapshots.push_back(std::move(snapshot));
}

// The delay of each found burst to a fraction of a sample, once its segment is in: the
// received segment against the output's own signal over the same positions. A burst
// whose segment reaches before the input kept, or touches unknown input, has none.
void LatencyAnalyser::fitPendingBursts(bool finishing) {
    const int64_t length = delayFit_.segmentLength(), offset = delayFit_.burstOffset();
    LoopbackSignal reference;
    reference.cycleLength = cycleLength_;
    reference.burstLength = static_cast<int>(burstLength_);
    reference.amplitude = amplitude_;
    reference.sequence = sequence_;
    segment_.resize(static_cast<size_t>(length));
    while (!pendingBursts_.empty()) {
        const PendingBurst burst = pendingBursts_.front();
        const int64_t first = burst.inputStart - offset;
        if (first + length > recordedEnd() && !finishing) return;
        pendingBursts_.pop_front();
        if (first < bufferStart_ || first + length > recordedEnd()) continue;
        bool whole = true;
        for (int64_t i = 0; i < length && whole; ++i) {
            segment_[static_cast<size_t>(i)] = at(first + i);
            whole = !std::isnan(segment_[static_cast<size_t>(i)]);
        }
        if (!whole) continue;
        delayFit_.spectrum(segment_.data(), receivedSpectrum_);
        for (int64_t i = 0; i < length; ++i)
            segment_[static_cast<size_t>(i)] = reference.signalAt(burst.outputStart - offset + i);
        delayFit_.spectrum(segment_.data(), referenceSpectrum_);
        const DelayFit fit = delayFit_.fit(receivedSpectrum_, referenceSpectrum_, burst.guess);
        if (!fit.ok) continue;
        result_.preciseLags.push_back(double(burst.inputStart - burst.outputStart) + fit.delay);
        result_.preciseErrors.push_back(fit.standardError);
        result_.precisePositions.push_back(burst.inputStart);
    }
}

// What is pending when the input ends (or jumps): the stretches of the cycles up to the
// end of what was received, as far as it reached.
void LatencyAnalyser::finishPending() {
    fitPendingBursts(true);
    if (!started_ || !loopKnown_ || result_.lags.empty()) return;
    const int64_t lag = std::llround(median(result_.lags));
    while (nextCheckCycle_ * cycleLength_ + burstLength_ + sineMargin + lag < recordedEnd()) {
        checkCycleStretch(nextCheckCycle_, true);
        ++nextCheckCycle_;
    }
}

LatencyResult LatencyAnalyser::result() {
    if (finished_) return result_;
    finishPending();
    finished_ = true;

    LatencyResult& r = result_;
    r.integrityMeasured = r.samplesChecked > 0 && r.burstsFound > 0;
    if (r.lags.empty()) return r;
    const auto [low, high] = std::minmax_element(r.lags.begin(), r.lags.end());
    r.lagMin = *low;
    r.lagMax = *high;
    r.lagMedian = median(r.lags);
    r.lagConsistent = r.lagMax - r.lagMin < 1.0;
    // The gain at the sine's frequency, in the loop's pass band, where stretches were
    // fitted; the bursts' own fit where none was. The sign from the bursts.
    std::vector<double> magnitudes;
    size_t negative = 0;
    for (double gain : gains_) {
        magnitudes.push_back(std::abs(gain));
        negative += gain < 0.0 ? 1 : 0;
    }
    const double gain = sineAmplitudes_.empty() ? median(std::move(magnitudes)) : median(sineAmplitudes_) / amplitude_;
    r.gainDb = gain > 0.0 ? 20.0 * std::log10(gain) : -std::numeric_limits<double>::infinity();
    r.inverted = 2 * negative > gains_.size();
    if (r.lagAmbiguous) {
        r.preciseLags.clear();
        r.preciseErrors.clear();
        r.precisePositions.clear();
    }
    const std::vector<double> times(r.precisePositions.begin(), r.precisePositions.end());
    r.precise = roundTripFigures(r.preciseLags, r.preciseErrors, times);
    return r;
}

} // namespace measure
