// The round trip to a hundredth of a sample: the figures over a run's bursts, and the
// single-pair analysis's extra figures on the reference wire's fractional delays.
#include <gtest/gtest.h>

#include "measure/channelMap/wiring.h"
#include "measure/latencyAnalysis.h"
#include "measure/roundTripFigures.h"
#include "syntheticWires.h"

using namespace measure;

namespace {

TEST(RoundTripFigures, IntervalTrendAndText) {
    // Ten bursts scattered ±0.004 around 696.37: to a hundredth, no change.
    std::vector<double> delays, errors(10, 0.001), times;
    for (int i = 0; i < 10; ++i) {
        delays.push_back(696.37 + (i % 2 ? 0.004 : -0.004));
        times.push_back(24000.0 * i);
    }
    RoundTripFigures f = roundTripFigures(delays, errors, times);
    EXPECT_NEAR(f.mean, 696.37, 1e-9);
    EXPECT_FALSE(f.changing);
    EXPECT_EQ(f.decimals, 2);
    EXPECT_LT(f.halfWidth95, 0.01);
    EXPECT_EQ(roundTripText(f), "696.37 ± 0.01");
    // The same bursts on a line rising by 0.5: a change, and the interval as narrow.
    for (int i = 0; i < 10; ++i)
        delays[size_t(i)] += 0.5 * i / 9.0;
    f = roundTripFigures(delays, errors, times);
    EXPECT_TRUE(f.changing);
    EXPECT_NEAR(f.change, 0.5, 0.01);
    EXPECT_LT(f.halfWidth95, 0.01);
    // A rise of 0.05 is below what counts as a change, however sure.
    for (int i = 0; i < 10; ++i)
        delays[size_t(i)] = 696.37 + 0.05 * i / 9.0;
    EXPECT_FALSE(roundTripFigures(delays, errors, times).changing);
    // Wide scatter: a tenth, then whole samples.
    f = roundTripFigures({10.0, 10.2, 9.8, 10.1}, {0.1, 0.1, 0.1, 0.1}, {0, 1, 2, 3});
    EXPECT_EQ(f.decimals, 1);
    f = roundTripFigures({10.0, 12.0, 9.0}, {0.1, 0.1, 0.1}, {0, 1, 2});
    EXPECT_EQ(f.decimals, 0);
    EXPECT_EQ(roundTripFigures({}, {}, {}).bursts, 0u);
    EXPECT_NEAR(studentT95(1), 12.706, 1e-9);
    EXPECT_NEAR(studentT95(1000), 1.962, 0.001);
}

LatencyResult singlePair(double delay, double noiseDb, double drift, int64_t cycles) {
    const auto signals = makeChannelSignals(48000.0, 1);
    EXPECT_TRUE(signals);
    const int64_t length = cycles * signals->base.cycleLength + 6000;
    synthetic::Wire wire{1, 1, delay, 0.0, false, drift};
    const auto input = synthetic::wireInputs(*signals, 1, {wire}, length, noiseDb, 5)[0];
    LatencyAnalyser analyser(signals->base);
    for (size_t at = 0; at < input.size(); at += 512)
        analyser.addInput(int64_t(at), &input[at], std::min<size_t>(512, input.size() - at));
    return analyser.result();
}

TEST(SinglePairPrecision, FractionalDelaysToAHundredthWithAnIntervalThatHoldsUnderNoise) {
    const LatencyResult clean = singlePair(96.37, -INFINITY, 0.0, 5);
    ASSERT_EQ(clean.burstsFound, 5);
    EXPECT_EQ(clean.precise.bursts, 4u); // the first burst's margins reach before the input began
    EXPECT_NEAR(clean.precise.mean, 96.37, 0.02);
    EXPECT_EQ(clean.precise.decimals, 2);
    EXPECT_NEAR(clean.lagMedian, 96.4, 1e-9); // today's figure, to a tenth, as before
    const LatencyResult noisy = singlePair(96.37, -40.0, 0.0, 5);
    EXPECT_GT(noisy.precise.halfWidth95, 10.0 * clean.precise.halfWidth95);
    EXPECT_LE(std::abs(noisy.precise.mean - 96.37), noisy.precise.halfWidth95);
    EXPECT_FALSE(noisy.precise.changing);
    const LatencyResult drifting = singlePair(200.25, -INFINITY, 0.5, 8);
    EXPECT_TRUE(drifting.precise.changing);
    EXPECT_GT(drifting.precise.change, 0.3);
    EXPECT_TRUE(drifting.lagConsistent); // within a sample: today's figure does not see it
}

TEST(Wiring, StatedPairsAndTheirMistakes) {
    std::string error;
    const auto pairs = parseWiring("1:2, 2:1,3:3", error);
    ASSERT_TRUE(pairs) << error;
    ASSERT_EQ(pairs->size(), 3u);
    EXPECT_EQ((*pairs)[1].output, 2);
    EXPECT_EQ((*pairs)[1].input, 1);
    const auto expected = expectedOutputs(4, 3, pairs, error);
    ASSERT_TRUE(expected);
    EXPECT_EQ(*expected, (std::vector<int>{2, 1, 3, 0}));
    EXPECT_EQ(*expectedOutputs(4, 3, std::nullopt, error), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_TRUE(parseWiring("1:1,1:2", error)); // one output into two inputs
    for (const char* bad : {"", "1", "1:", ":2", "0:1", "1:x", "1:2,", "1:2,3:2", "-1:2"}) {
        EXPECT_FALSE(parseWiring(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(expectedOutputs(2, 2, parseWiring("3:1", error), error));
    EXPECT_NE(error.find("3:1"), std::string::npos);
}

} // namespace
