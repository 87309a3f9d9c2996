// The measurement signals of a channel map: every output plays at once, each with a
// burst of its own.
//
// Output k (1-based) plays the loopback signal (loopbackSignal.h) with the burst's
// sequence multiplied, sample by sample, by Walsh function k - 1 of length 4096:
// s_k[n] = m[n] · (-1)^popcount((k - 1) & n) for the maximum-length sequence m. Output 1
// (Walsh function 0, all ones) therefore plays exactly the single-pair signal. The
// bursts start together at every cycle and the sine between them is the same on every
// output, so an input that hears two outputs carries one sine and the glitch check
// reads it as it reads a single loop.
//
// Why these sequences: rows of a Walsh matrix are orthogonal, and multiplying each by
// the same ±1 sequence keeps them so, so two outputs' bursts that arrive with the same
// round trip are apart by the whole burst: their correlation is ±1 of 4095 (-72 dB).
// The product with the maximum-length sequence keeps every burst's spectrum flat (as
// white as the sequence), which the delay fit over a band needs. At other lags the
// bursts correlate like random sequences: within the first 64 outputs at most -24 dB
// at any lag (computed over every pair and lag; the tests check it), about -36 dB on
// average. Bursts staggered in time would need 64 × 4095 samples in a half-second
// cycle, which holds 24000 at 48000 Hz.
//
// Up to 4096 outputs get a sequence of their own; the plan is made on the main thread
// and render() is safe on the callback path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "measure/loopbackSignal.h"

namespace measure {

// Outputs that get a sequence of their own: the rows of the Walsh matrix of order 4096.
inline constexpr int maxSignalOutputs = 1 << sequenceOrder;

struct ChannelSignals {
    LoopbackSignal base; // output 1's signal, as a single pair plays it
    int outputs = 0;

    // Value i (0 … 4094) of output `output`'s ±1 sequence; 0 for an output without one.
    float sequenceValue(int output, int i) const;
    // The whole ±1 sequence of output `output` (empty for an output without one).
    std::vector<float> sequence(int output) const;
    // The exact value output `output` plays at position q (0 before q = 0).
    double signalAt(int output, int64_t q) const;
    // Writes output `output`'s values of positions q … q + count - 1 (silence for an
    // output without a sequence). Reads the tables only and allocates nothing.
    void render(int output, int64_t q, float* target, size_t count) const;
};

// The signals of `outputs` outputs (1 to maxSignalOutputs) at this rate; nothing where
// the single-pair signal has none (makeLoopbackSignal) or for another count.
std::optional<ChannelSignals> makeChannelSignals(double sampleRate, int outputs);

} // namespace measure
