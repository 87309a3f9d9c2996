// The loopback cables inside the driver. After the host's callback for a switch, the
// block it left in each wired output channel is taken into a delay line indexed by
// sample position; a wired input channel then carries, at position p, the output
// written at position p - (2 × buffer size + the path's delay): two buffers of the
// driver's own path (played during the next period, recorded, handed over one switch
// later) plus the configured delay. Positions never written count as 0. Samples travel
// as values at full scale 1.0 (sampleFormat.h) with gain, inversion and noise applied on
// the way. A delay with a fraction of a sample is made by interpolating between the
// written samples with a windowed sinc (wireKernel.h), as a resampling converter delays.
//
// One wire (WireFrom to WireTo) or a channel map (WireMap): paths from any output to
// any input, each with its own delay, gain, polarity and drift; paths into the same
// input add up (a mix), and one output may feed several inputs. A drifting path's delay
// grows linearly with the stream's position (samples per minute), for at most an hour.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "testdriver/bufferSet.h"
#include "testdriver/driverConfig.h"
#include "testdriver/pseudoRandom.h"
#include "testdriver/wireKernel.h"

namespace refdrv {

class WireLoop {
  public:
    // Sets the wires up for a run over `buffers` at `sampleRate`, with empty delay lines.
    // False, and every wire off, when a path names a channel without buffers (or a
    // WireMap was malformed) or the delay lines cannot be had.
    bool prepare(const BufferSet& buffers, const WireConfig& config, uint32_t seed,
                 double sampleRate = 48000.0);
    bool active() const { return !paths_.empty(); }
    // Whether `buffer` is an input the wires replace.
    bool feeds(const ChannelBuffer& buffer) const;

    // Writes the block at `position` into half `half` of wired input `buffer`: all zeros
    // with `dropout`. Stream thread.
    void fillInput(const ChannelBuffer& buffer, int32_t half, int64_t position, bool dropout) noexcept;
    // Takes the blocks the host left in half `half` of the wired outputs for `position`.
    // Stream thread.
    void takeOutput(int32_t half, int64_t position) noexcept;

  private:
    struct Line {
        const ChannelBuffer* output = nullptr;
        std::unique_ptr<double[]> values;     // output values by position modulo length_
        std::unique_ptr<int64_t[]> positions; // the position each slot holds
    };
    struct Path {
        size_t line = 0;
        const ChannelBuffer* input = nullptr;
        double extra = 0.0;          // delay beyond the two buffers, at position 0
        double driftPerSample = 0.0; // delay grown per sample of position…
        double driftUntil = 0.0;     // …up to this position
        double gain = 1.0;
        // The taps for the delay they were made for (recomputed when a drift moves it).
        double tapsExtra = -1.0;
        int64_t whole = 0; // whole samples of the total delay
        bool fractional = false;
        std::array<double, fractionTapCount> taps{};
    };
    void setDelay(Path& path, double extra) noexcept;
    double written(const Line& line, int64_t source) const noexcept;

    std::vector<Line> lines_;
    std::vector<Path> paths_;
    int32_t frames_ = 0;
    int64_t length_ = 0;      // samples in each delay line
    std::vector<double> mix_; // one block of one input
    double noisePeak_ = 0.0;  // uniform noise in ±noisePeak_
    PseudoRandom noise_;
};

} // namespace refdrv
