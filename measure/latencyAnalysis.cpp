#include "measure/latencyAnalysis.h"

#include <algorithm>
#include <cmath>

#include "measure/sineGlitches.h"
#include "measure/statistics.h"

namespace measure {

namespace {

// Stretches cut short by the end of the input are checked when at least this many
// periods were recorded.
constexpr int64_t minPartialPeriods = 8;

double lagMedianOf(const std::vector<int64_t>& lags) {
    return median(std::vector<double>(lags.begin(), lags.end()));
}

// Whether the plan is one that makeLoopbackSignal gives; the analyser ignores others.
bool usablePlan(const LoopbackSignal& signal) {
    return signal.sequence.size() == size_t(signal.burstLength) && signal.sinePeriod >= 3 &&
           signal.cycleLength > 2 * signal.burstLength + 4 * signal.sinePeriod &&
           signal.cycleLength <= 500000;
}

// A transform at least as long as the search window of S - 1 samples.
size_t transformSize(const LoopbackSignal& signal) {
    return usablePlan(signal) ? nextPowerOfTwo(static_cast<size_t>(signal.cycleLength - 1)) : 2;
}

} // namespace

LatencyAnalyser::LatencyAnalyser(const LoopbackSignal& signal)
    : cycleLength_(signal.cycleLength), burstLength_(signal.burstLength), sinePeriod_(signal.sinePeriod),
      amplitude_(signal.amplitude), valid_(usablePlan(signal)), fft_(transformSize(signal)) {
    if (!valid_) return;
    window_.assign(fft_.size(), 0.0);
    std::copy(signal.sequence.begin(), signal.sequence.end(), window_.begin());
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
        // The buffer starts at the first cycle's start; what precedes the recording is a
        // placeholder that no search or check reads.
        started_ = true;
        recordedStart_ = from;
        cycle_ = from / cycleLength_;
        bufferStart_ = cycle_ * cycleLength_;
        buffer_.assign(static_cast<size_t>(from - bufferStart_), 0.0f);
    } else if (from > recordedEnd()) {
        append(nullptr, static_cast<size_t>(from - recordedEnd()));
    }
    append(samples + (from - position), static_cast<size_t>(end - from));
}

// Adds at most one cycle at a time before processing, so the buffer stays within about
// three cycles however much arrives at once.
void LatencyAnalyser::append(const float* samples, size_t count) {
    const size_t piece = static_cast<size_t>(cycleLength_);
    for (size_t done = 0; done < count;) {
        const size_t now = std::min(piece, count - done);
        if (samples)
            buffer_.insert(buffer_.end(), samples + done, samples + done + now);
        else
            buffer_.insert(buffer_.end(), now, 0.0f);
        done += now;
        process();
    }
}

void LatencyAnalyser::process() {
    for (;;) {
        const int64_t cycleStart = cycle_ * cycleLength_;
        if (burstPending_) {
            if (recordedEnd() < cycleStart + cycleLength_ - 1) return;
            cycleLagKnown_ = false;
            if (cycleStart >= recordedStart_) searchBurst(cycleStart);
            if (!cycleLagKnown_ && !result_.lags.empty()) {
                cycleLag_ = static_cast<int64_t>(lagMedianOf(result_.lags));
                cycleLagKnown_ = true;
            }
            burstPending_ = false;
        }
        if (cycleLagKnown_) {
            const int64_t end = cycleStart + cycleLength_ - sineMargin + cycleLag_;
            if (recordedEnd() < end) return;
            checkStretch(cycleStart + burstLength_ + sineMargin + cycleLag_, end);
        }
        nextCycle();
    }
}

void LatencyAnalyser::nextCycle() {
    ++cycle_;
    burstPending_ = true;
    cycleLagKnown_ = false;
    const int64_t drop = std::min(cycle_ * cycleLength_, recordedEnd()) - bufferStart_;
    if (drop > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + drop);
        bufferStart_ += drop;
    }
}

// Correlates the window with the sequence for every lag at once: the inverse transform of
// X · conj(Q) holds sum_i q[i] x[lag + i] at index lag, and the transform is at least as
// long as the window, so no lag wraps around.
void LatencyAnalyser::searchBurst(int64_t windowStart) {
    ++result_.burstsSent;
    const size_t width = static_cast<size_t>(cycleLength_ - 1);
    const float* x = &buffer_[static_cast<size_t>(windowStart - bufferStart_)];
    std::copy(x, x + width, window_.begin());
    std::fill(window_.begin() + static_cast<std::ptrdiff_t>(width), window_.end(), 0.0);
    fft_.forward(window_, spectrum_);
    for (size_t k = 0; k < spectrum_.size(); ++k)
        spectrum_[k] *= sequenceSpectrum_[k];
    fft_.inverse(spectrum_, correlation_);
    auto correlationAt = [this](int64_t lag) { return correlation_[static_cast<size_t>(lag)]; };

    const int64_t lagCount = cycleLength_ - burstLength_;
    int64_t peak = 0;
    for (int64_t lag = 1; lag < lagCount; ++lag)
        if (std::abs(correlationAt(lag)) > std::abs(correlationAt(peak))) peak = lag;
    const double peakValue = correlationAt(peak);

    double energy = 0.0;
    for (int64_t i = peak; i < peak + burstLength_; ++i)
        energy += double(x[i]) * x[i];
    double othersSquared = 0.0;
    int64_t others = 0;
    for (int64_t lag = 0; lag < lagCount; ++lag) {
        if (std::abs(lag - peak) <= burstPeakGuard) continue;
        othersSquared += correlationAt(lag) * correlationAt(lag);
        ++others;
    }
    if (energy <= 0.0 || peakValue == 0.0 || others == 0) return;
    const double correlation = std::abs(peakValue) / std::sqrt(double(burstLength_) * energy);
    const double othersRms = std::sqrt(othersSquared / double(others));
    if (correlation < burstMinCorrelation || std::abs(peakValue) < burstMinPeakToRms * othersRms) return;

    ++result_.burstsFound;
    result_.lags.push_back(peak);
    gains_.push_back(peakValue / (amplitude_ * double(burstLength_)));
    cycleLag_ = peak;
    cycleLagKnown_ = true;
}

void LatencyAnalyser::checkStretch(int64_t begin, int64_t end) {
    begin = std::max(begin, recordedStart_);
    if (end - begin < 2 * sinePeriod_) return;
    const SineGlitchFindings findings =
        findSineGlitches(&buffer_[static_cast<size_t>(begin - bufferStart_)],
                         static_cast<size_t>(end - begin), begin, sinePeriod_);
    result_.samplesChecked += end - begin;
    result_.glitches += static_cast<int64_t>(findings.eventStarts.size());
    for (int64_t position : findings.eventStarts)
        if (result_.glitchPositions.size() < maxGlitchPositions) result_.glitchPositions.push_back(position);
}

// The last cycle: its burst window was not complete, so only its stretch is left, as far
// as the input reached.
void LatencyAnalyser::finish() {
    finished_ = true;
    if (!started_) return;
    const int64_t cycleStart = cycle_ * cycleLength_;
    if (burstPending_ && !result_.lags.empty()) {
        cycleLag_ = static_cast<int64_t>(lagMedianOf(result_.lags));
        cycleLagKnown_ = true;
    }
    if (cycleLagKnown_) {
        const int64_t begin = cycleStart + burstLength_ + sineMargin + cycleLag_;
        const int64_t end = std::min(cycleStart + cycleLength_ - sineMargin + cycleLag_, recordedEnd());
        if (end - begin >= minPartialPeriods * sinePeriod_) checkStretch(begin, end);
    }

    LatencyResult& r = result_;
    r.integrityMeasured = r.samplesChecked > 0;
    if (r.lags.empty()) return;
    const auto [low, high] = std::minmax_element(r.lags.begin(), r.lags.end());
    r.lagMin = *low;
    r.lagMax = *high;
    r.lagMedian = static_cast<int64_t>(lagMedianOf(r.lags));
    r.lagConsistent = r.lagMin == r.lagMax;
    std::vector<double> magnitudes;
    size_t negative = 0;
    for (double gain : gains_) {
        magnitudes.push_back(std::abs(gain));
        negative += gain < 0.0 ? 1 : 0;
    }
    r.gainDb = 20.0 * std::log10(median(std::move(magnitudes)));
    r.inverted = 2 * negative > gains_.size();
}

LatencyResult LatencyAnalyser::result() {
    if (!finished_) finish();
    return result_;
}

} // namespace measure
