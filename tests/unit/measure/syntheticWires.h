// Inputs built the way the reference driver's wire builds them (testdriver/wireLoop.h):
// each wire takes one output's signal, delays it by whole samples and, for a fraction,
// by the wire's own windowed sinc, applies gain and polarity, and adds into its input;
// noise is added per input. A wire may drift: its delay moves linearly over the input.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "measure/channelSignals.h"

namespace synthetic {

struct Wire {
    int output = 1, input = 1; // 1-based
    double delay = 0.0;        // samples; a fraction needs at least 16
    double gainDb = 0.0;
    bool invert = false;
    double drift = 0.0; // samples the delay grows by from the first sample to the last
};

// `inputs` channels of `length` samples; noise in dB relative to full scale (RMS).
std::vector<std::vector<float>> wireInputs(const measure::ChannelSignals& signals, int inputs,
                                           const std::vector<Wire>& wires, int64_t length,
                                           double noiseDb = -std::numeric_limits<double>::infinity(),
                                           uint32_t seed = 1);

// Output k to input k, each with the delay given.
std::vector<Wire> straightWires(const std::vector<double>& delays);

} // namespace synthetic
