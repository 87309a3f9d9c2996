// What a sweep over rates and buffer sizes runs, and what its rows add up to.
//
// The rates are the standard ones the driver says it can do; the sizes are every legal
// size when there are at most twelve, otherwise min, preferred, max and the powers of two
// between them (for a driver whose sizes go in steps, the legal size nearest each), at
// most twelve in all (those nearest the preferred size kept first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "measure/bufferSizes.h"
#include "measure/verdict.h"

namespace measure {

// The rates hosts offer, from 8000 to 768000 Hz, ascending.
const std::vector<double>& standardSampleRates();

inline constexpr size_t sweepMostSizes = 12;

// The sizes a sweep runs at, ascending; empty when no size is legal.
std::vector<int32_t> sweepBufferSizes(const BufferSizeRule& rule, size_t most = sweepMostSizes);

// One setting as the sweep ended it: refused by the driver, or run with a verdict.
struct SweepSettingOutcome {
    double rate = 0;
    int32_t buffer = 0;
    bool accepted = false;
    VerdictWord verdict = VerdictWord::error;
    bool advertised = false; // the driver offers the setting (its rate and a legal size)
};

// The smallest buffer size that passed at each rate; a rate where none passed is absent.
std::map<double, int32_t> smallestPassingSizes(const std::vector<SweepSettingOutcome>& settings);

// The sweep's verdict word: the worst of the settings the driver accepted and of those
// it offers and then refused (a fault: fail); error when no setting counts (it accepted
// none, and refused only what it does not offer).
VerdictWord sweepVerdictWord(const std::vector<SweepSettingOutcome>& settings);

} // namespace measure
