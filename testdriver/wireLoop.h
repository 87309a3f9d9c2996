// The loopback cable inside the driver. After the host's callback for a switch, the
// block it left in the wire's output channel is taken into a delay line indexed by
// sample position; the wire's input channel then carries, at position p, the output
// written at position p - (2 × buffer size + WireDelay): two buffers of the driver's own
// path (played during the next period, recorded, handed over one switch later) plus the
// configured delay. Positions never written count as 0. Samples travel as values at
// full scale 1.0 (sampleFormat.h) with gain, inversion and noise applied on the way. A
// delay with a fraction of a sample is made by interpolating between the written
// samples with a windowed sinc, as a resampling converter delays.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "testdriver/bufferSet.h"
#include "testdriver/driverConfig.h"
#include "testdriver/pseudoRandom.h"

namespace refdrv {

class WireLoop {
  public:
    // Sets the wire up for a run over `buffers`, with an empty delay line. False, and the
    // wire off, when WireFrom or WireTo names no channel with buffers or the delay line
    // cannot be had.
    bool prepare(const BufferSet& buffers, const WireConfig& config, uint32_t seed);
    bool active() const { return input_ != nullptr; }
    // The input buffer whose signal the wire replaces; null when off.
    const ChannelBuffer* inputBuffer() const { return input_; }

    // Writes the block at `position` into half `half` of the wire's input: all zeros with
    // `dropout`. Stream thread.
    void fillInput(int32_t half, int64_t position, bool dropout) noexcept;
    // Takes the block the host left in half `half` of the wire's output for `position`.
    // Stream thread.
    void takeOutput(int32_t half, int64_t position) noexcept;

    // Total delay from output to input, in whole samples (the fraction aside).
    int64_t delay() const { return delay_; }

  private:
    size_t slotOf(int64_t position) const;

    const ChannelBuffer* output_ = nullptr;
    const ChannelBuffer* input_ = nullptr;
    int32_t frames_ = 0;
    int64_t delay_ = 0;                    // whole samples of the delay
    std::vector<double> fractionTaps_;     // a delay between samples: the windowed sinc; empty for none
    int64_t length_ = 0;                   // samples in the delay line
    std::unique_ptr<double[]> values_;     // output values by position modulo length_
    std::unique_ptr<int64_t[]> positions_; // the position each slot holds
    double gain_ = 1.0;
    double noisePeak_ = 0.0; // uniform noise in ±noisePeak_
    PseudoRandom noise_;
};

} // namespace refdrv
