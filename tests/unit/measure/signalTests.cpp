// The measurement signal: the sequence's defining properties, the plan's figures and
// limits, and the callback's rendering against the exact values. (The FFT is checked
// end to end by the exact lags and gains of the loopback analysis.)
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "measure/loopbackSignal.h"

using namespace measure;

namespace {

TEST(MaximumLengthSequence, LengthBalanceAndTwoValuedAutocorrelation) {
    const std::vector<float> sequence = maximumLengthSequence();
    ASSERT_EQ(sequence.size(), 4095u);
    int sum = 0;
    for (float value : sequence) {
        ASSERT_TRUE(value == 1.0f || value == -1.0f);
        sum += int(value);
    }
    EXPECT_EQ(std::abs(sum), 1); // 2048 of one value, 2047 of the other
    // Circular autocorrelation: 4095 at shift 0, -1 at every other shift.
    const size_t n = sequence.size();
    for (size_t shift = 0; shift < n; ++shift) {
        int correlation = 0;
        for (size_t i = 0; i < n; ++i)
            correlation += int(sequence[i]) * int(sequence[(i + shift) % n]);
        ASSERT_EQ(correlation, shift == 0 ? 4095 : -1) << "shift " << shift;
    }
}

TEST(LoopbackSignalPlan, CycleLengthAndRejectedRates) {
    struct Case {
        double rate;
        int64_t cycle; // 0: rejected
    };
    // The cycle must exceed 2 × 4095 + 4 × 48 = 8382 samples.
    const Case cases[] = {{44100, 22050},    {48000, 24000}, {96000, 48000}, {192000, 96000},
                          {1000000, 500000}, {16800, 8400},  {16764, 0},     {8000, 0},
                          {7999, 0},         {1000001, 0},   {-48000, 0},    {NAN, 0}};
    for (const Case& c : cases) {
        const auto signal = makeLoopbackSignal(c.rate);
        ASSERT_EQ(signal.has_value(), c.cycle != 0) << c.rate;
        if (!signal) continue;
        EXPECT_EQ(signal->cycleLength, c.cycle);
        EXPECT_EQ(signal->cycleTable.size(), size_t(c.cycle));
        EXPECT_EQ(signal->burstLength, 4095);
        EXPECT_EQ(signal->sinePeriod, 48);
    }
}

TEST(LoopbackSignalPlan, BurstThenOneContinuousSine) {
    const auto signal = makeLoopbackSignal(44100); // a cycle of 22050: no multiple of 48
    ASSERT_TRUE(signal);
    const std::vector<float> sequence = maximumLengthSequence();
    const int64_t s = signal->cycleLength;
    for (int64_t cycle = 0; cycle < 3; ++cycle) {
        for (int64_t i : {0, 1, 2000, 4094})
            EXPECT_EQ(signal->signalAt(cycle * s + i), 0.5 * sequence[size_t(i)]);
        // The sine's phase is that of q itself, in every cycle.
        for (int64_t i : {4095, 4096, 10000, 22049}) {
            const int64_t q = cycle * s + i;
            EXPECT_NEAR(signal->signalAt(q), 0.5 * std::sin(2 * std::numbers::pi * double(q % 48) / 48),
                        1e-12);
        }
    }
    EXPECT_EQ(signal->signalAt(-1), 0.0);
    // Peak of the sine: 0.5 at a quarter period.
    EXPECT_NEAR(signal->signalAt(2 * s + 4095 + (48 - (2 * s + 4095) % 48) + 12), 0.5, 1e-12);
}

TEST(LoopbackSignalPlan, RenderMatchesTheExactValuesAcrossCycles) {
    for (double rate : {44100.0, 48000.0}) {
        const auto signal = makeLoopbackSignal(rate);
        ASSERT_TRUE(signal);
        const int64_t total = 3 * signal->cycleLength + 500;
        // Blocks of an awkward size, so block edges fall everywhere in the cycle.
        std::vector<float> rendered(static_cast<size_t>(total));
        for (int64_t q = 0; q < total; q += 333)
            signal->render(q, &rendered[size_t(q)], size_t(std::min<int64_t>(333, total - q)));
        for (int64_t q = 0; q < total; ++q)
            ASSERT_EQ(rendered[size_t(q)], float(signal->signalAt(q))) << rate << " Hz, q " << q;
        for (int64_t q = 0; q < signal->cycleLength; ++q)
            ASSERT_EQ(signal->cycleTable[size_t(q)], rendered[size_t(q)]);
    }
}

} // namespace
