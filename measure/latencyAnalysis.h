// The round trip and the integrity of a loopback, from the recorded input of the
// measurement signal (loopbackSignal.h).
//
// The analyser takes the input in arrival order, on the same position scale as the
// output (the first output buffer is q = 0). Window k of the input, kS … kS + S + N - 2,
// holds the burst of some cycle at a lag l from 0 to S - 1 when it came back: the
// cross-correlation with the sequence (through an FFT) gives the lag, refined between
// samples from the peak's neighbours, and the gain from the energy of the peak. A loop
// longer than a cycle shows up as windows with nothing in them before the first burst:
// the first window with a burst, m, says that the round trip is m S + l, provided the
// input was received whole from q = 0 up to it; otherwise the round trip cannot be told
// apart and is reported as such, never guessed.
//
// Integrity: every found burst is compared with the expected burst at its lag and at the
// gain most of its samples show (a dropout inside a burst shows as samples far from it),
// a window without its burst once the loop was placed is a burst missing, and every
// cycle's sine stretch,
// output q mod S from N + 64 to S - 64, at the input positions one round trip later,
// is checked for discontinuities (sineGlitches.h). Samples that are not numbers (NaN,
// infinity) are glitches of their own and take part in nothing else. Input the host
// lost is marked unknown: it is neither silence nor a glitch, and what it touches is
// not judged.
//
// Memory stays within a few cycles of input (up to the longest loop it places), so runs
// may last hours. None of this runs on the callback path.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "measure/fft.h"
#include "measure/loopbackSignal.h"
#include "measure/roundTripFigures.h"
#include "measure/subsampleDelay.h"

namespace measure {

// A burst counts as found when the normalised correlation at the peak reaches this…
inline constexpr double burstMinCorrelation = 0.3;
// …and the peak is at least this many times the RMS of the correlation at the lags more
// than burstPeakGuard samples from the peak.
inline constexpr double burstMinPeakToRms = 6.0;
inline constexpr int64_t burstPeakGuard = 32;
// Samples left out of the sine check after each burst and before the next.
inline constexpr int64_t sineMargin = 64;
// At most this many glitch positions, and snapshots of the waveform around them, are kept.
inline constexpr size_t maxGlitchPositions = 100;
inline constexpr size_t maxGlitchSnapshots = 8;
inline constexpr int64_t glitchSnapshotHalfWidth = 96;
// The longest loop placed: this many cycles (seconds: cycles / 2).
inline constexpr int64_t maxLoopCycles = 8;
// A burst window with more than this share of unknown samples is not searched.
inline constexpr double maxUnknownShare = 0.1;

// The recorded and the expected waveform around one glitch.
struct GlitchSnapshot {
    int64_t position = 0;      // the glitch's first outlying sample
    int64_t firstPosition = 0; // of the window below
    std::vector<float> recorded, expected; // expected: NaN where unknown
};

struct LatencyResult {
    // Windows searched: the burst's window was received (nearly) whole.
    int64_t burstsSent = 0;
    // Of those, the bursts whose correlation peak met both criteria above.
    int64_t burstsFound = 0;
    // Windows searched after the first burst placed the loop in which no burst was found:
    // bursts that were sent and did not come back.
    int64_t burstsMissing = 0;
    // The round trip of each found burst in order, in samples, to a tenth of a sample:
    // the input position at which the burst's first sample arrived minus the output
    // position where it was played.
    std::vector<double> lags;
    // The input position (on the output's scale) at which each found burst arrived.
    std::vector<int64_t> burstPositions;
    // The smallest, median (lower middle for an even count) and largest of the lags; 0
    // without a found burst.
    double lagMin = 0, lagMedian = 0, lagMax = 0;
    // True when bursts were found and all their lags lie within one sample.
    bool lagConsistent = false;
    // True when bursts came back but how many whole cycles the loop spans cannot be
    // told (input before the first burst was missing): the lags are then not reported.
    bool lagAmbiguous = false;
    // 20 log10 of the loop's gain (the median over the found bursts), 0 without one.
    double gainDb = 0.0;
    // True when most found bursts came back with a negative peak (the loop inverts).
    bool inverted = false;
    // The normalised correlation of the first found burst at lags around its peak, from
    // lag peakFirstLag on (for the report).
    std::vector<double> peakCorrelation;
    int64_t peakFirstLag = 0;

    // False without a found burst: then there is no integrity figure.
    bool integrityMeasured = false;
    // Input samples of bursts and sine stretches that were checked.
    int64_t samplesChecked = 0;
    // Discontinuities found (dropouts, repeated or skipped blocks, clicks, samples that
    // are not numbers); each event counts once.
    int64_t glitches = 0;
    // Of those, runs of samples that are not numbers.
    int64_t nonFiniteRuns = 0;
    // Input position of each event's first outlying sample, the first maxGlitchPositions.
    std::vector<int64_t> glitchPositions;
    std::vector<GlitchSnapshot> glitchSnapshots;

    // Input samples the host lost (unknown, not judged).
    int64_t unknownSamples = 0;
    // Times the positions jumped so far that the analysis started over.
    int64_t rebases = 0;

    // The round trip to a small fraction of a sample (subsampleDelay.h): of each found
    // burst whose segment was received whole, the delay, its standard error and the
    // input position of the burst; and the figures over them (roundTripFigures.h).
    // Empty while the lags are ambiguous. None of the figures above depends on them.
    std::vector<double> preciseLags, preciseErrors;
    std::vector<int64_t> precisePositions;
    RoundTripFigures precise;
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
    // `count` samples from `position` on that the host lost: unknown.
    void addLoss(int64_t position, size_t count);
    // The positions jumped (a driver that re-based them): what is pending is finished as
    // far as it was received, and the analysis goes on from `position` with the round
    // trip it knows.
    void rebase(int64_t position);

    // Finishes what is pending and gives the figures. Call after the last input; later
    // input is ignored.
    LatencyResult result();

  private:
    int64_t recordedEnd() const; // one past the last position received
    void append(const float* samples, size_t count, bool unknown);
    void fillSilenceTo(int64_t position);
    void process();
    void searchWindow(int64_t window);
    double checkBurst(int64_t begin, double fraction);
    int64_t lagOfCycle(int64_t cycle); // the cycle's own burst's lag, else the median
    void checkCycleStretch(int64_t cycle, bool partial);
    void checkStretch(int64_t begin, int64_t end);
    void noteGlitch(int64_t position);
    void discardUnneeded();
    void finishPending();
    float at(int64_t position) const { return buffer_[static_cast<size_t>(position - bufferStart_)]; }
    void fitPendingBursts(bool finishing);

    int64_t cycleLength_;
    int64_t burstLength_;
    int sinePeriod_;
    double amplitude_;
    bool valid_ = false;
    RealFft fft_;
    std::vector<float> sequence_;
    std::vector<std::complex<double>> sequenceSpectrum_; // conjugated
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> window_, correlation_;
    std::vector<double> expected_;

    bool started_ = false;
    bool finished_ = false;
    int64_t recordedStart_ = 0; // first position received since the (re)start
    int64_t bufferStart_ = 0;   // position of buffer_[0]
    std::vector<float> buffer_; // NaN: unknown
    bool lastNonFinite_ = false;

    int64_t nextWindow_ = 0;      // the next window to search
    int64_t nextCheckCycle_ = 0;  // the next cycle whose sine stretch is to be checked
    bool cleanSinceStart_ = true; // every window since the start was searched, nothing found
    bool loopKnown_ = false;
    int64_t loopCycles_ = 0;      // m: whole cycles of the round trip
    bool restarted_ = false;      // after a re-base: windows start wherever input begins

    LatencyResult result_;
    std::vector<double> gains_;          // signed, per found burst
    std::vector<double> sineAmplitudes_; // of the sine stretches fitted
    std::deque<std::pair<int64_t, double>> cycleLags_; // cycle and lag of found bursts not yet checked

    // Found bursts waiting for the rest of their segment before their delay is fitted.
    struct PendingBurst {
        int64_t inputStart;  // input position of the burst's whole-sample start
        int64_t outputStart; // output position where it was played
        double guess;        // the fraction found between samples
    };
    std::deque<PendingBurst> pendingBursts_;
    SubsampleDelay delayFit_;
    std::vector<double> segment_;
    std::vector<std::complex<double>> receivedSpectrum_, referenceSpectrum_;
};

} // namespace measure
