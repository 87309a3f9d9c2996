// The channel map on synthetic inputs built the way the reference wire builds them:
// straight pairs with fractional delays to a hundredth and one pair slower than the rest,
// a swap, a slip by one of 8, mixes at the same round trip and at another, crosstalk
// below the mix level, an inverted pair, noise, a wire that drifts, lost input, a dropout
// inside a burst and samples that are not numbers, a loop longer than a cycle, and
// nothing connected.
#include <gtest/gtest.h>

#include <cmath>

#include "measure/channelMap/channelMap.h"
#include "measure/channelMap/wiring.h"
#include "syntheticWires.h"

using namespace measure;
using synthetic::Wire;

namespace {

constexpr double rate = 24000.0; // a cycle of 12000 samples keeps the tests short

ChannelSignals signalsFor(int outputs) {
    auto signals = makeChannelSignals(rate, outputs);
    EXPECT_TRUE(signals);
    return *signals;
}

std::vector<int> straight(int count) {
    std::string error;
    return *expectedOutputs(count, count, std::nullopt, error);
}

// Feeds every input in blocks of `block`, with `lose` (position, count) given as lost.
ChannelMapResult mapOf(const ChannelSignals& signals, const std::vector<std::vector<float>>& inputs,
                       const std::vector<int>& expected, int64_t firstPosition = 0,
                       std::pair<int64_t, int64_t> lose = {-1, 0}) {
    ChannelMapAnalyser analyser(signals, int(inputs.size()), expected);
    const size_t block = 256;
    std::vector<const float*> channels(inputs.size());
    for (size_t at = size_t(firstPosition); at < inputs[0].size(); at += block) {
        const size_t count = std::min(block, inputs[0].size() - at);
        if (int64_t(at) >= lose.first && int64_t(at) < lose.first + lose.second) {
            analyser.addLoss(int64_t(at), count);
            continue;
        }
        for (size_t i = 0; i < inputs.size(); ++i)
            channels[i] = inputs[i].data() + at;
        analyser.addInput(int64_t(at), channels.data(), count);
    }
    return analyser.result();
}

const int64_t fourCycles = 4 * 12000 + 6000;

TEST(ChannelMap, EveryInputHearsItsOutputToAHundredthAndTheSlowPortIsNamed) {
    const ChannelSignals signals = signalsFor(8);
    const std::vector<double> delays = {96.37, 97.12, 98.5, 99.01, 100.77, 101.33, 140.26, 102.95};
    const auto inputs = synthetic::wireInputs(signals, 8, synthetic::straightWires(delays), fourCycles);
    const ChannelMapResult map = mapOf(signals, inputs, straight(8));
    ASSERT_EQ(map.findings.size(), 8u);
    for (const InputFindings& input : map.findings) {
        SCOPED_TRACE("input " + std::to_string(input.input));
        const double truth = delays[size_t(input.input - 1)];
        EXPECT_EQ(input.heardOutput, input.input);
        EXPECT_FALSE(input.hearsNothing || input.hearsWrongOutput || input.hearsTwo ||
                     input.roundTripChanges);
        EXPECT_EQ(input.glitches, 0);
        EXPECT_EQ(input.burstsMissing, 0);
        ASSERT_EQ(input.pairs.size(), 1u);
        const PairFigures& pair = input.pairs[0];
        EXPECT_EQ(pair.burstsFound, 4);
        EXPECT_TRUE(pair.integrityMeasured);
        EXPECT_NEAR(pair.precise.mean, truth, 0.02);
        EXPECT_EQ(pair.precise.decimals, 2);
        EXPECT_NEAR(pair.lagMedian, truth, 0.15); // between neighbours: a tenth, give or take
        EXPECT_NEAR(pair.gainDb, 0.0, 0.05);
        EXPECT_FALSE(pair.inverted);
        // Every other output is far below the mix level, at or below its floor.
        for (int output = 1; output <= 8; ++output) {
            if (output == input.input) continue;
            EXPECT_LT(input.levelDb[size_t(output - 1)], -60.0) << output;
        }
    }
    EXPECT_TRUE(map.roundTripsDiffer);
    EXPECT_EQ(map.slowestInput, 7);
    EXPECT_EQ(map.fastestInput, 1);
    EXPECT_NEAR(map.slowestRoundTrip, 140.26, 0.02);
    EXPECT_EQ(map.slipBy, 0);
    EXPECT_TRUE(map.swappedInputs.empty());
}

TEST(ChannelMap, ASwapIsFoundAndPassesWhenTheWiringSaysSo) {
    const ChannelSignals signals = signalsFor(4);
    std::vector<Wire> wires = {{2, 1, 96.5}, {1, 2, 96.5}, {3, 3, 96.5}, {4, 4, 96.5}};
    const auto inputs = synthetic::wireInputs(signals, 4, wires, fourCycles);
    const ChannelMapResult found = mapOf(signals, inputs, straight(4));
    EXPECT_EQ(found.findings[0].heardOutput, 2);
    EXPECT_EQ(found.findings[1].heardOutput, 1);
    EXPECT_TRUE(found.findings[0].hearsWrongOutput && found.findings[1].hearsWrongOutput);
    EXPECT_FALSE(found.findings[2].hearsWrongOutput || found.findings[3].hearsWrongOutput);
    ASSERT_EQ(found.swappedInputs.size(), 1u);
    EXPECT_EQ(found.swappedInputs[0], std::make_pair(1, 2));
    EXPECT_EQ(found.slipBy, 0); // two shifts, +1 and -1: no slip

    std::string error;
    const auto stated = parseWiring("2:1,1:2,3:3,4:4", error);
    ASSERT_TRUE(stated) << error;
    const ChannelMapResult expected = mapOf(signals, inputs, *expectedOutputs(4, 4, stated, error));
    for (const InputFindings& input : expected.findings)
        EXPECT_FALSE(input.hearsWrongOutput || input.hearsNothing || input.hearsTwo) << input.input;
    EXPECT_TRUE(expected.swappedInputs.empty());
}

TEST(ChannelMap, ASlipByOneOfEight) {
    const ChannelSignals signals = signalsFor(8);
    std::vector<Wire> wires;
    for (int k = 1; k <= 7; ++k)
        wires.push_back({k, k + 1, 200.0});
    const auto inputs = synthetic::wireInputs(signals, 8, wires, fourCycles);
    const ChannelMapResult map = mapOf(signals, inputs, straight(8));
    EXPECT_TRUE(map.findings[0].hearsNothing);
    EXPECT_EQ(map.findings[0].heardOutput, 0);
    for (int k = 2; k <= 8; ++k) {
        EXPECT_EQ(map.findings[size_t(k - 1)].heardOutput, k - 1);
        EXPECT_TRUE(map.findings[size_t(k - 1)].hearsWrongOutput);
        EXPECT_NEAR(map.findings[size_t(k - 1)].pairs[0].precise.mean, 200.0, 0.02);
    }
    EXPECT_EQ(map.slipBy, -1);
    EXPECT_TRUE(map.swappedInputs.empty());
}

TEST(ChannelMap, MixesAreHeardAtTheSameRoundTripAndAtAnotherButCrosstalkIsNot) {
    const ChannelSignals signals = signalsFor(8);
    std::vector<Wire> wires =
        synthetic::straightWires({96.37, 96.37, 96.37, 96.37, 96.37, 96.37, 96.37, 96.37});
    wires.push_back({5, 3, 96.37, -6.0});  // into input 3, at its round trip
    wires.push_back({2, 6, 396.37, -3.0}); // into input 6, 300 samples later
    wires.push_back({7, 4, 96.37, -50.0}); // crosstalk into input 4
    const auto inputs = synthetic::wireInputs(signals, 8, wires, fourCycles);
    const ChannelMapResult map = mapOf(signals, inputs, straight(8));

    const InputFindings& sameLag = map.findings[2];
    EXPECT_EQ(sameLag.heardOutput, 3);
    EXPECT_TRUE(sameLag.hearsTwo);
    EXPECT_NEAR(sameLag.levelDb[4], -6.0, 0.1);
    EXPECT_EQ(sameLag.crosstalkOutput, 5);
    EXPECT_NEAR(sameLag.pairs[0].precise.mean, 96.37, 0.02); // the other burst taken out

    const InputFindings& otherLag = map.findings[5];
    EXPECT_EQ(otherLag.heardOutput, 6);
    EXPECT_TRUE(otherLag.hearsTwo);
    ASSERT_EQ(otherLag.pairs.size(), 2u);
    EXPECT_EQ(otherLag.pairs[1].output, 2);
    EXPECT_NEAR(otherLag.pairs[1].precise.mean, 396.37, 0.02);
    EXPECT_NEAR(otherLag.pairs[1].gainDb, -3.0, 0.1);

    const InputFindings& crosstalk = map.findings[3];
    EXPECT_FALSE(crosstalk.hearsTwo);
    EXPECT_EQ(crosstalk.crosstalkOutput, 7);
    EXPECT_NEAR(crosstalk.crosstalkDb, -50.0, 1.0);
    EXPECT_LT(crosstalk.crosstalkFloorDb, -70.0);

    for (int input : {1, 2, 5, 7, 8})
        EXPECT_FALSE(map.findings[size_t(input - 1)].hearsTwo) << input;
}

TEST(ChannelMap, AnInvertedPairAndItsGain) {
    const ChannelSignals signals = signalsFor(2);
    std::vector<Wire> wires = {{1, 1, 250.25}, {2, 2, 250.25, -6.0, true}};
    const auto inputs = synthetic::wireInputs(signals, 2, wires, fourCycles);
    const ChannelMapResult map = mapOf(signals, inputs, straight(2));
    const PairFigures& inverted = map.findings[1].pairs.at(0);
    EXPECT_TRUE(inverted.inverted);
    EXPECT_NEAR(inverted.gainDb, -6.0, 0.05);
    EXPECT_NEAR(inverted.precise.mean, 250.25, 0.02);
    EXPECT_EQ(map.findings[1].glitches, 0);
    EXPECT_FALSE(map.findings[0].pairs.at(0).inverted);
}

TEST(ChannelMap, NoiseWidensTheIntervalWhichStillHoldsTheTruth) {
    const ChannelSignals signals = signalsFor(8);
    const std::vector<double> delays = {96.37, 97.12, 98.5, 99.01, 100.77, 101.33, 102.26, 102.95};
    const auto wires = synthetic::straightWires(delays);
    const ChannelMapResult clean =
        mapOf(signals, synthetic::wireInputs(signals, 8, wires, fourCycles), straight(8));
    const ChannelMapResult noisy =
        mapOf(signals, synthetic::wireInputs(signals, 8, wires, fourCycles, -40.0, 7), straight(8));
    int held = 0;
    for (size_t i = 0; i < 8; ++i) {
        const RoundTripFigures& c = clean.findings[i].pairs.at(0).precise;
        const RoundTripFigures& n = noisy.findings[i].pairs.at(0).precise;
        EXPECT_GT(n.halfWidth95, 10.0 * c.halfWidth95) << i;
        EXPECT_EQ(n.decimals, 2) << i;
        const double miss = std::abs(n.mean - delays[i]);
        EXPECT_LT(miss, 1.5 * n.halfWidth95) << i;
        held += miss <= n.halfWidth95 ? 1 : 0;
        EXPECT_FALSE(noisy.findings[i].roundTripChanges || noisy.findings[i].hearsTwo) << i;
        EXPECT_EQ(noisy.findings[i].glitches, 0) << i;
    }
    EXPECT_GE(held, 6); // 95 % intervals: about one in twenty misses
}

TEST(ChannelMap, AWireThatDriftsIsAChangingRoundTripNotAWiderInterval) {
    const ChannelSignals signals = signalsFor(2);
    const int64_t length = 8 * 12000 + 6000;
    std::vector<Wire> wires = {{1, 1, 96.37, 0.0, false, 0.5}, {2, 2, 96.37}};
    const ChannelMapResult map =
        mapOf(signals, synthetic::wireInputs(signals, 2, wires, length), straight(2));
    const PairFigures& drifting = map.findings[0].pairs.at(0);
    EXPECT_TRUE(map.findings[0].roundTripChanges);
    EXPECT_TRUE(drifting.precise.changing);
    // Over the bursts from the first to the eighth: 7 of the 8.5 cycles the wire drifts.
    EXPECT_NEAR(drifting.precise.change, 0.5 * 7.0 * 12000.0 / double(length), 0.03);
    EXPECT_LT(drifting.precise.halfWidth95, 0.02);
    EXPECT_FALSE(map.findings[1].roundTripChanges);
}

TEST(ChannelMap, LostInputIsUnknownAndADropoutOrNonNumbersAreGlitches) {
    const ChannelSignals signals = signalsFor(2);
    auto inputs = synthetic::wireInputs(signals, 2, synthetic::straightWires({96.0, 96.0}), fourCycles);
    // 300 samples of silence in the middle of input 1's third burst.
    for (int64_t p = 2 * 12000 + 96 + 2000; p < 2 * 12000 + 96 + 2300; ++p)
        inputs[0][size_t(p)] = 0.0f;
    // Three samples of input 2 that are not numbers, in the sine of the third cycle.
    for (int64_t p = 30000; p < 30003; ++p)
        inputs[1][size_t(p)] = NAN;
    // The host loses 512 samples of both inputs in the sine of the second cycle.
    const ChannelMapResult map = mapOf(signals, inputs, straight(2), 0, {12000 + 7936, 512});
    EXPECT_EQ(map.unknownSamples, 512);
    EXPECT_GE(map.findings[0].glitches, 1);
    ASSERT_FALSE(map.findings[0].pairs.at(0).glitchPositions.empty());
    const int64_t at = map.findings[0].pairs[0].glitchPositions[0];
    EXPECT_GE(at, 2 * 12000 + 96 + 1990);
    EXPECT_LE(at, 2 * 12000 + 96 + 2310);
    EXPECT_EQ(map.findings[1].nonFiniteRuns, 1);
    EXPECT_EQ(map.findings[1].glitches, 1); // the run that is not a number, nothing else
    EXPECT_EQ(map.findings[1].burstsMissing, 0);
}

TEST(ChannelMap, ALoopLongerThanACycleIsPlacedByEmptyCyclesUnlessTheStartIsMissing) {
    const ChannelSignals signals = signalsFor(2);
    const int64_t length = 5 * 12000 + 6000;
    const auto inputs =
        synthetic::wireInputs(signals, 2, synthetic::straightWires({15600.25, 300.5}), length);
    const ChannelMapResult whole = mapOf(signals, inputs, straight(2));
    EXPECT_FALSE(whole.findings[0].pairs.at(0).lagAmbiguous);
    EXPECT_NEAR(whole.findings[0].pairs[0].precise.mean, 15600.25, 0.02);
    EXPECT_NEAR(whole.findings[1].pairs.at(0).precise.mean, 300.5, 0.02);
    const ChannelMapResult late = mapOf(signals, inputs, straight(2), 5120);
    EXPECT_TRUE(late.findings[0].pairs.at(0).lagAmbiguous);
    EXPECT_EQ(late.findings[0].pairs[0].precise.bursts, 0u);
}

TEST(ChannelMap, NothingConnected) {
    const ChannelSignals signals = signalsFor(4);
    const auto inputs = synthetic::wireInputs(signals, 4, {}, fourCycles, -60.0);
    const ChannelMapResult map = mapOf(signals, inputs, straight(4));
    for (const InputFindings& input : map.findings) {
        EXPECT_TRUE(input.hearsNothing);
        EXPECT_TRUE(input.pairs.empty());
        EXPECT_EQ(input.levelBursts, 0);
    }
    EXPECT_EQ(map.fastestInput, 0);
}

} // namespace
