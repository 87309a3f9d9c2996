// What a channel map found: per input, the pairs it hears with their round trips, gain,
// polarity and integrity, how loud every output is in it, and the findings a verdict
// reads. Channels are counted from 1 throughout.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "measure/roundTripFigures.h"

namespace measure {

// Another output heard in an input at or above this level (relative to the level it is
// played at) is a mix, when it is also above the floor the measurement can see there.
// The converters' own crosstalk lies far below it; a driver that mixes channels puts
// an output in at a level a listener hears.
inline constexpr double mixMinDb = -40.0;

// One output heard in one input.
struct PairFigures {
    int output = 0, input = 0;
    // Bursts whose segment came in whole, and of those the ones found at the pair's lag.
    int64_t burstsSent = 0, burstsFound = 0;
    // The round trip of each found burst to a tenth of a sample (as the single-pair
    // analysis gives it), and the smallest, median and largest.
    std::vector<double> lags;
    double lagMin = 0.0, lagMedian = 0.0, lagMax = 0.0;
    // The whole cycles of the round trip could not be told (input before the first
    // burst was missing, or the pair was found only later in the run).
    bool lagAmbiguous = false;
    // Each found burst's delay to a fraction of a sample, its standard error and input
    // position, and the figures over them.
    std::vector<double> preciseLags, preciseErrors;
    std::vector<int64_t> precisePositions;
    RoundTripFigures precise;
    // The round trip changed: the tenths of two bursts lie a sample or more apart, or the
    // fitted change over the run is one (roundTripFigures.h).
    bool roundTripChanges = false;
    // 20 log10 of the median gain over the found bursts, and its sign.
    double gainDb = -std::numeric_limits<double>::infinity();
    bool inverted = false;
    // Integrity, for the pair an input hears loudest: bursts compared with the fitted
    // burst in the band, and the sine between bursts (sineGlitches.h).
    bool integrityMeasured = false;
    int64_t samplesChecked = 0;
    int64_t glitches = 0;                 // samples that are not numbers aside (InputFindings)
    std::vector<int64_t> glitchPositions; // the first ones, input positions
};

struct InputFindings {
    int input = 0;
    int expectedOutput = 0; // 0: none expected
    int heardOutput = 0;    // the output heard loudest; 0: none
    // The pairs this input hears, the loudest first (empty: it hears none).
    std::vector<PairFigures> pairs;
    // Per output (index output - 1): its level in this input at the input's round trip
    // (the loudest pair's, or for an input that hears none the median round trip of the
    // others) in dB relative to the level it is played at, and the floor below which the
    // measurement cannot tell it from noise (four standard deviations of the level, from
    // the residual once the heard pairs are taken out). NaN where not measured. A heard
    // pair's own level is its gain.
    std::vector<double> levelDb, floorDb;
    int64_t levelBursts = 0;
    // The loudest other output and its level and floor (NaN and 0 when none measured).
    int crosstalkOutput = 0;
    double crosstalkDb = std::numeric_limits<double>::quiet_NaN();
    double crosstalkFloorDb = std::numeric_limits<double>::quiet_NaN();
    // Runs of samples that were not numbers; each run is a glitch of the input.
    int64_t nonFiniteRuns = 0;
    // Burst windows searched in this input (received nearly whole): none, and whether it
    // hears anything could not be told.
    int64_t windowsSearched = 0;

    // Findings.
    bool hearsNothing = false;     // an output was expected and none is heard
    bool hearsWrongOutput = false; // the loudest output is not the expected one (or none was expected)
    bool hearsTwo = false;         // another output above mixMinDb and its floor, or a second pair found
    bool roundTripChanges = false; // of the loudest pair
    int64_t glitches = 0;          // of the loudest pair, non-numbers included
    int64_t burstsMissing = 0;     // of the loudest pair: sent, placed, and not found
};

struct ChannelMapResult {
    int inputs = 0, outputs = 0;
    double sampleRate = 0.0;
    double bandLowHz = 0.0, bandHighHz = 0.0; // where the precise round trip is measured
    std::vector<InputFindings> findings;      // one per input, in order

    // Wrong outputs read as a whole: every input that hears a wrong output hears the
    // expected output + slipBy (two or more such inputs, the same shift); or pairs of
    // inputs that hear each other's outputs.
    int slipBy = 0;
    std::vector<std::pair<int, int>> swappedInputs;
    // The loudest pairs' round trips (precise means) from the fastest to the slowest
    // input; they differ when apart by more than both intervals and 0.1 sample.
    int fastestInput = 0, slowestInput = 0;
    double fastestRoundTrip = 0.0, slowestRoundTrip = 0.0;
    double slowestHalfWidth = 0.0; // of the slowest round trip's 95 % interval
    bool roundTripsDiffer = false;

    int64_t unknownSamples = 0; // per input: samples the host lost (not judged)
    int64_t rebases = 0;
};

// Completes what the analysis gathered: each pair's lags and precise figures, each
// input's heard output, crosstalk and findings, and the map's slips, swaps and spread of
// round trips. Pairs and levels must be filled in; a heard pair's level is set to its
// gain.
void deriveFindings(ChannelMapResult& result);

} // namespace measure
