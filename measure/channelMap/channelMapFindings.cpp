#include <algorithm>
#include <cmath>
#include <map>

#include "measure/channelMap/channelMapResult.h"
#include "measure/statistics.h"

namespace measure {

namespace {

void completePair(PairFigures& pair) {
    if (!pair.lags.empty()) {
        const auto [low, high] = std::minmax_element(pair.lags.begin(), pair.lags.end());
        pair.lagMin = *low;
        pair.lagMax = *high;
        pair.lagMedian = median(pair.lags);
    }
    if (pair.lagAmbiguous) {
        pair.preciseLags.clear();
        pair.preciseErrors.clear();
        pair.precisePositions.clear();
    }
    const std::vector<double> times(pair.precisePositions.begin(), pair.precisePositions.end());
    pair.precise = roundTripFigures(pair.preciseLags, pair.preciseErrors, times);
    pair.roundTripChanges = (!pair.lags.empty() && pair.lagMax - pair.lagMin >= 1.0) || pair.precise.changing;
}

} // namespace

void deriveFindings(ChannelMapResult& result) {
    for (InputFindings& input : result.findings) {
        for (PairFigures& pair : input.pairs)
            completePair(pair);
        // A pair heard is one whose bursts were found; the first is the loudest.
        std::vector<int> heard;
        for (const PairFigures& pair : input.pairs)
            if (pair.burstsFound > 0) heard.push_back(pair.output);
        input.heardOutput = heard.empty() ? 0 : heard.front();
        for (const PairFigures& pair : input.pairs)
            if (pair.burstsFound > 0 && pair.output >= 1 && size_t(pair.output) <= input.levelDb.size())
                input.levelDb[size_t(pair.output - 1)] = pair.gainDb;

        input.crosstalkOutput = 0;
        bool otherHeard = false;
        for (size_t j = 0; j < input.levelDb.size(); ++j) {
            const int output = int(j) + 1;
            if (output == input.heardOutput || std::isnan(input.levelDb[j])) continue;
            if (std::find(heard.begin(), heard.end(), output) != heard.end()) otherHeard = true;
            if (input.crosstalkOutput == 0 || input.levelDb[j] > input.crosstalkDb) {
                input.crosstalkOutput = output;
                input.crosstalkDb = input.levelDb[j];
                input.crosstalkFloorDb = input.floorDb[j];
            }
            if (input.levelDb[j] >= mixMinDb && !(input.levelDb[j] <= input.floorDb[j])) otherHeard = true;
        }

        input.hearsNothing = input.expectedOutput != 0 && input.heardOutput == 0;
        input.hearsWrongOutput = input.heardOutput != 0 && input.heardOutput != input.expectedOutput;
        input.hearsTwo = heard.size() >= 2 || (input.heardOutput != 0 && otherHeard);
        if (!input.pairs.empty() && input.heardOutput != 0) {
            const PairFigures& loudest = input.pairs.front();
            input.roundTripChanges = loudest.roundTripChanges;
            input.glitches = loudest.glitches + input.nonFiniteRuns;
            input.burstsMissing = loudest.lagAmbiguous ? 0 : loudest.burstsSent - loudest.burstsFound;
        } else {
            input.glitches = input.nonFiniteRuns;
        }
    }

    // Wrong outputs read together: one shift for all (a slip), or inputs that hear each
    // other's outputs (a swap).
    std::map<int, int> shifts;
    int wrong = 0;
    for (const InputFindings& input : result.findings) {
        if (!input.hearsWrongOutput || input.expectedOutput == 0) continue;
        ++wrong;
        ++shifts[input.heardOutput - input.expectedOutput];
    }
    result.slipBy = wrong >= 2 && shifts.size() == 1 ? shifts.begin()->first : 0;
    result.swappedInputs.clear();
    for (size_t a = 0; a < result.findings.size(); ++a)
        for (size_t b = a + 1; b < result.findings.size(); ++b) {
            const InputFindings &x = result.findings[a], &y = result.findings[b];
            if (x.hearsWrongOutput && y.hearsWrongOutput && x.expectedOutput != 0 && y.expectedOutput != 0 &&
                x.heardOutput == y.expectedOutput && y.heardOutput == x.expectedOutput)
                result.swappedInputs.emplace_back(x.input, y.input);
        }

    // The spread of the loudest pairs' round trips: reported, a property of the ports.
    result.fastestInput = result.slowestInput = 0;
    double fastestWidth = 0.0, slowestWidth = 0.0;
    result.slowestHalfWidth = 0.0;
    for (const InputFindings& input : result.findings) {
        if (input.heardOutput == 0 || input.pairs.empty()) continue;
        const RoundTripFigures& precise = input.pairs.front().precise;
        if (precise.bursts == 0) continue;
        if (result.fastestInput == 0 || precise.mean < result.fastestRoundTrip) {
            result.fastestInput = input.input;
            result.fastestRoundTrip = precise.mean;
            fastestWidth = precise.halfWidth95;
        }
        if (result.slowestInput == 0 || precise.mean > result.slowestRoundTrip) {
            result.slowestInput = input.input;
            result.slowestRoundTrip = precise.mean;
            slowestWidth = precise.halfWidth95;
        }
    }
    result.slowestHalfWidth = slowestWidth;
    const double apart = result.slowestRoundTrip - result.fastestRoundTrip;
    result.roundTripsDiffer =
        result.fastestInput != 0 && apart >= minRoundTripChange && apart > fastestWidth + slowestWidth;
}

} // namespace measure
