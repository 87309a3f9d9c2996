// The round trip and the integrity of a loopback, from the recorded input of the
// measurement signal (loopbackSignal.h).
//
// The analyser takes the input in arrival order, on the same position scale as the
// output (the first output buffer is q = 0). For each cycle k it searches the input
// window kS … kS + S - 2 for the burst: the cross-correlation with the sequence (through
// an FFT) gives, at lag D, the match of input kS + D … with output kS …, for D from 0 to
// S - N - 1. Then it checks the cycle's sine stretch, output q mod S from N + 64 to
// S - 64 (margins for an analog loop to settle), at input positions q + D, for
// discontinuities (sineGlitches.h). D is the cycle's own burst lag, or where that burst
// was not found the median of the lags found so far; stretches before the first found
// burst are not checked.
//
// Memory stays within a few cycles of input, so runs may last hours. None of this runs
// on the callback path.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measure/fft.h"
#include "measure/loopbackSignal.h"

namespace measure {

// A burst counts as found when the normalised correlation at the peak reaches this…
inline constexpr double burstMinCorrelation = 0.3;
// …and the peak is at least this many times the RMS of the correlation at the lags more
// than burstPeakGuard samples from the peak.
inline constexpr double burstMinPeakToRms = 6.0;
inline constexpr int64_t burstPeakGuard = 32;
// Samples left out of the sine check after each burst and before the next.
inline constexpr int64_t sineMargin = 64;
// At most this many glitch positions are kept.
inline constexpr size_t maxGlitchPositions = 100;

struct LatencyResult {
    // Cycles whose burst and its whole lag search window (S - 1 input samples from the
    // cycle's start) lie inside the recorded input.
    int64_t burstsSent = 0;
    // Of those, the bursts whose correlation peak met both criteria above.
    int64_t burstsFound = 0;
    // The lag of each found burst in order: the input position at which the burst's first
    // sample arrived minus the output position where it was played (the round trip in
    // samples).
    std::vector<int64_t> lags;
    // The smallest, median (lower middle for an even count) and largest of the lags; 0
    // without a found burst.
    int64_t lagMin = 0;
    int64_t lagMedian = 0;
    int64_t lagMax = 0;
    // True when bursts were found and all their lags are equal.
    bool lagConsistent = false;
    // 20 log10 of the loop's gain, the median over the found bursts of |peak| / (0.5 N)
    // (the peak of input = g × output is g × 0.5 × N); 0 without a found burst.
    double gainDb = 0.0;
    // True when most found bursts came back with a negative peak (the loop inverts).
    bool inverted = false;

    // False without a found burst: then there is no integrity figure.
    bool integrityMeasured = false;
    // Input samples of sine stretches that were checked.
    int64_t samplesChecked = 0;
    // Discontinuities found in the checked stretches (dropouts, repeated or skipped
    // blocks, clicks); each event counts once.
    int64_t glitches = 0;
    // Input position of each event's first outlying sample, the first maxGlitchPositions.
    std::vector<int64_t> glitchPositions;
};

class LatencyAnalyser {
  public:
    // Analyses input of this signal; a plan not made by makeLoopbackSignal is ignored
    // (the analyser then takes no input and finds nothing).
    explicit LatencyAnalyser(const LoopbackSignal& signal);

    // The next input samples, starting at `position`. Positions skipped since the
    // previous call (a driver's gap) count as silence; samples at positions already
    // given or below 0 are ignored.
    void addInput(int64_t position, const float* samples, size_t count);

    // Finishes what is pending (the last cycle's stretch as far as it was recorded) and
    // gives the figures. Call after the last input; later input is ignored.
    LatencyResult result();

  private:
    int64_t recordedEnd() const;                     // one past the last position received
    void append(const float* samples, size_t count); // nullptr: silence
    void process();
    void searchBurst(int64_t windowStart);
    void checkStretch(int64_t begin, int64_t end);
    void nextCycle();
    void finish();

    int64_t cycleLength_;
    int64_t burstLength_;
    int sinePeriod_;
    double amplitude_;
    bool valid_ = false;
    RealFft fft_;
    std::vector<std::complex<double>> sequenceSpectrum_; // conjugated
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> window_, correlation_;

    bool started_ = false;
    bool finished_ = false;
    int64_t recordedStart_ = 0;
    int64_t bufferStart_ = 0; // position of buffer_[0]
    std::vector<float> buffer_;

    int64_t cycle_ = 0;
    bool burstPending_ = true; // else the cycle's stretch is pending
    bool cycleLagKnown_ = false;
    int64_t cycleLag_ = 0;

    LatencyResult result_;
    std::vector<double> gains_; // signed, per found burst
};

} // namespace measure
