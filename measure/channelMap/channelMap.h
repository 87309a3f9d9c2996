// The channel map: every input correlated against every output's burst, to tell which
// output each input hears, with the round trip, gain, polarity and integrity of each
// pair heard and how loud every other output is in it.
//
// Contract for the program that runs it (`/latency=all`):
//
// Output side (callback thread). Before the driver starts, make the signals once with
// makeChannelSignals(rate, outputs) (channelSignals.h) on the main thread. In each
// buffer switch, for every output buffer k (1-based as the report counts), call
// signals.render(k, q, values, frames) into a float buffer of one block made before the
// start (one for all outputs will do) and encode it into the driver's format; q counts
// output positions from the run's first buffer (q = 0), exactly as the single-pair run
// plays output 1. render() reads tables only: nothing is allocated, locked or called.
//
// Input side (a thread of the analysis's own, never the callback). Make the analyser
// with the same signals, the input count, and expectedOutputs() (wiring.h) for the
// expected output of each input. Feed it, in arrival order, every block of every
// input at once on the output's position scale (the same `sinceOrigin` positions the
// single-pair analysis gets): addInput(position, channels, frames) with channels[i]
// the decoded float samples of input i + 1 (every input, frames values each). Blocks
// the host lost go to addLoss(position, frames): unknown, never silence. Positions the
// driver skipped become silence by themselves. A jump of the positions (the driver
// re-based them) goes to rebase(position) before the block that follows it. Then call
// result() once after the last block; later input is ignored.
//
// What it costs: addInput() does the analysis of each burst as its input is complete,
// so it takes the time of the bursts it completes (bench/README.md has the figures: at
// 64 × 64 and 96000 Hz a burst's analysis takes a fraction of the half second between
// bursts; finding the loops at the start takes longer, once). Memory: a few cycles of
// input per input, 64 KB per output for its burst's spectrum.
//
// How it works. Each input is searched, at every lag of a half-second window, against
// every output's sequence (8192-point transforms, overlap-save), window after window
// until something is found or as long as the single-pair analysis places loops; the
// first window with a burst places the loops as there (the cycles that came back empty
// before it), or leaves them ambiguous. Every output found with a clear peak is a pair
// the input hears. From then on each burst of each heard pair is read in a segment
// around its known lag (subsampleDelay.h): its lag to a tenth from the correlation
// peak, its delay to a fraction of a sample and its gain from the phase fit in the band,
// and, with every heard pair's fitted burst taken out of the input's band, the level of
// every other output at the input's round trip and the floor under it. The loudest
// pair's burst residual and the sine between bursts are checked for glitches. A pair
// not found in two bursts in a row is searched for again over the whole window, and
// every fourth window one input is searched again in turn, so an output that starts to be
// heard later is found (its whole cycles then placed next to the input's round trip).
//
// The result (channelMapResult.h) holds the pairs, the levels and the findings; the
// program's verdict words them.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "measure/channelMap/channelMapResult.h"
#include "measure/channelSignals.h"
#include "measure/fft.h"
#include "measure/subsampleDelay.h"

namespace measure {

class ChannelMapAnalyser {
  public:
    // `expectedOutput[i]`: the output input i + 1 should hear, 0 for none (wiring.h).
    // Signals not made by makeChannelSignals or no inputs: the analyser takes nothing.
    ChannelMapAnalyser(const ChannelSignals& signals, int inputs, std::vector<int> expectedOutput);
    ~ChannelMapAnalyser();

    // The next `count` samples of every input from `position` on: channels[i] for input
    // i + 1. Positions skipped since the previous call are silence; positions already
    // given or below 0 are ignored.
    void addInput(int64_t position, const float* const* channels, size_t count);
    // `count` samples from `position` on that the host lost, of every input: unknown.
    void addLoss(int64_t position, size_t count);
    // The positions jumped: what is pending is finished as far as it came, and the
    // analysis goes on from `position` with the round trips it knows.
    void rebase(int64_t position);

    ChannelMapResult result();

  private:
    struct PairState;
    struct InputState;

    int64_t recordedEnd() const { return bufferStart_ + bufferLength_; }
    float at(int input, int64_t position) const {
        return samples_[static_cast<size_t>(input)][static_cast<size_t>(position - bufferStart_)];
    }
    void append(const float* const* channels, size_t count, bool unknown);
    void fillSilenceTo(int64_t position);
    void process();
    void searchWindow(int64_t window);
    void searchInput(int input, int64_t window);
    struct Found {
        int output;
        int64_t lag; // in the window
        double peak;
    };
    void placeFound(int input, int64_t window, std::vector<Found>& found);
    bool burstReady(const InputState& state, int64_t cycle) const;
    struct Fitted {
        bool ok = false;
        double delay = 0.0, gain = 0.0; // relative to the pair's whole-sample lag
    };
    void subtractFitted(const InputState& state, const std::vector<Fitted>& fits, size_t upTo, size_t frame,
                        int64_t cycle, std::vector<std::complex<double>>& spectrum);
    void processBurst(int input, int64_t cycle);
    void listen(int input, int64_t cycle, double lag);
    void addLevels(InputState& state, const std::vector<std::complex<double>>& residual, double burstAt);
    bool readSegment(int input, int64_t first, std::vector<double>& segment) const;
    // The windowed spectrum of what `output` played over a segment from `first` on.
    void referenceAt(int output, int64_t first, std::vector<std::complex<double>>& out);
    void checkStretch(int input, int64_t cycle);
    void noteGlitch(InputState& state, int64_t position);
    double referenceLag() const; // -1 while no input hears a pair
    int64_t keepFrom() const;
    void finishPending();
    void buildFindings(ChannelMapResult& result) const;

    ChannelSignals signals_;
    bool valid_ = false;
    int inputs_ = 0;
    int64_t cycle_ = 0, burst_ = 0;
    std::vector<InputState> states_;

    // Per output: the spectrum of its ±1 sequence at the segment's start (transform of
    // 8192 points), and its energy in the band.
    std::vector<std::vector<std::complex<double>>> sequenceSpectra_;
    std::vector<std::vector<double>> sequenceBands_; // the band's real parts, imaginary parts, powers
    std::vector<double> bandEnergy_;
    SubsampleDelay delay_;
    RealFft fft_; // of the same 8192 points

    // Input kept, all inputs alike: NaN is unknown.
    bool started_ = false, finished_ = false, restarted_ = false;
    int64_t recordedStart_ = 0, bufferStart_ = 0, bufferLength_ = 0;
    std::vector<std::vector<float>> samples_;
    std::vector<uint8_t> lastNonFinite_;
    int64_t nextWindow_ = 0;
    int64_t firstWindow_ = 0; // the first window searched since the (re)start
    int64_t unknownSamples_ = 0, rebases_ = 0;

    // Scratch, reused.
    std::vector<double> segment_, timeWork_, correlation_, residualBand_;
    std::vector<std::complex<double>> product_, reference_, residual_, cleaned_, rotations_;
    std::vector<std::vector<std::complex<double>>> blockSpectra_, pairSpectra_;
};

} // namespace measure
