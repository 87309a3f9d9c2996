// The loopback analysis on synthetic loops whose truth is known: pure delays, gains and
// inversion, noise, one disturbance of each kind at a known place, a lag that moves, and
// no loop at all.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "measure/latencyAnalysis.h"

using namespace measure;

namespace {

// What the loop does to the played signal: input p = gain × output (p - delay) + noise,
// unless `disturb` changes a sample (it gets the position and the clean value).
struct Loop {
    int64_t delay = 0;
    double gain = 1.0;
    double noiseRms = 0.0; // uniform white noise
    std::function<double(int64_t, double)> disturb;
    std::function<int64_t(int64_t)> delayAt; // overrides `delay` where set
};

Loop loopOf(int64_t delay, double gain = 1.0, double noiseRms = 0.0) {
    Loop loop;
    loop.delay = delay, loop.gain = gain, loop.noiseRms = noiseRms;
    return loop;
}

std::vector<float> loopInput(const LoopbackSignal& signal, const Loop& loop, int64_t length) {
    std::mt19937 random(1234);
    const double halfWidth = loop.noiseRms * std::sqrt(3.0);
    std::uniform_real_distribution<double> noise(-halfWidth, halfWidth);
    std::vector<float> input(static_cast<size_t>(length));
    for (int64_t p = 0; p < length; ++p) {
        const int64_t delay = loop.delayAt ? loop.delayAt(p) : loop.delay;
        double value = loop.gain * signal.signalAt(p - delay);
        if (loop.disturb) value = loop.disturb(p, value);
        input[size_t(p)] = static_cast<float>(value + (halfWidth > 0 ? noise(random) : 0.0));
    }
    return input;
}

// Feeds the input in driver-sized blocks, leaving out the positions in [gapFrom, gapTo).
LatencyResult analyse(const LoopbackSignal& signal, const std::vector<float>& input, size_t block = 256,
                      int64_t gapFrom = -1, int64_t gapTo = -1) {
    LatencyAnalyser analyser(signal);
    for (size_t at = 0; at < input.size(); at += block) {
        const size_t count = std::min(block, input.size() - at);
        if (int64_t(at) >= gapFrom && int64_t(at) < gapTo) continue;
        analyser.addInput(int64_t(at), &input[at], count);
    }
    return analyser.result();
}

LoopbackSignal signalFor(double rate) {
    auto signal = makeLoopbackSignal(rate);
    EXPECT_TRUE(signal);
    return *signal;
}

TEST(LatencyAnalysis, PureDelaysGiveTheExactLag) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const LoopbackSignal signal = signalFor(rate);
        for (int64_t delay : {0, 37, 300, 1000, 7000}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, delay " + std::to_string(delay));
            // Three whole search windows, and the third stretch cut short at the end.
            const LatencyResult r = analyse(signal, loopInput(signal, loopOf(delay), 3 * signal.cycleLength));
            EXPECT_EQ(r.burstsSent, 3);
            EXPECT_EQ(r.burstsFound, 3);
            EXPECT_EQ(r.lags, std::vector<int64_t>(3, delay));
            EXPECT_EQ(r.lagMin, delay);
            EXPECT_EQ(r.lagMedian, delay);
            EXPECT_EQ(r.lagMax, delay);
            EXPECT_TRUE(r.lagConsistent);
            EXPECT_NEAR(r.gainDb, 0.0, 1e-6);
            EXPECT_FALSE(r.inverted);
            EXPECT_TRUE(r.integrityMeasured);
            EXPECT_EQ(r.glitches, 0);
            // Two whole stretches, and the third as far as it was recorded.
            const int64_t stretch = signal.cycleLength - 4095 - 128;
            EXPECT_EQ(r.samplesChecked,
                      2 * stretch + std::min(stretch, signal.cycleLength - 4095 - 64 - delay));
        }
    }
}

TEST(LatencyAnalysis, GainAndInversionThroughNoise) {
    const LoopbackSignal signal = signalFor(48000);
    for (double gainDb : {-20.0, -6.0, 0.0, 6.0}) {
        for (double sign : {1.0, -1.0}) {
            SCOPED_TRACE(std::to_string(gainDb) + " dB, sign " + std::to_string(sign));
            // Noise at -40 dBFS RMS.
            const Loop loop = loopOf(1000, sign * std::pow(10.0, gainDb / 20.0), 0.01);
            const LatencyResult r = analyse(signal, loopInput(signal, loop, 4 * signal.cycleLength));
            EXPECT_EQ(r.burstsFound, 4);
            EXPECT_TRUE(r.lagConsistent);
            EXPECT_EQ(r.lagMedian, 1000);
            EXPECT_NEAR(r.gainDb, gainDb, 0.05);
            EXPECT_EQ(r.inverted, sign < 0);
            EXPECT_EQ(r.glitches, 0);
        }
    }
}

TEST(LatencyAnalysis, EachDisturbanceIsOneGlitchAtItsPlace) {
    const LoopbackSignal signal = signalFor(48000);
    const int64_t s = signal.cycleLength, delay = 300, block = 256;
    // In the second cycle's sine stretch, three quarters through, on a block boundary.
    const int64_t at = (s + delay + 4095 + 3 * (s - 4095) / 4) / block * block;
    struct Case {
        const char* what;
        Loop loop;
        bool gap;        // the driver never delivers the block at `at`
        int64_t lagMove; // by how much the later bursts' lag moves
    };
    const auto inBlock = [=](int64_t p) { return p >= at && p < at + block; };
    const Loop noisy = loopOf(delay, 1.0, 0.01);
    Loop dropout = noisy, click = noisy, repeated = noisy, skipped = noisy;
    dropout.disturb = [=](int64_t p, double v) { return inBlock(p) ? 0.0 : v; };
    click.disturb = [=](int64_t p, double v) { return p == at + 5 ? v + 0.2 : v; };
    repeated.delayAt = [=](int64_t p) { return p < at ? delay : delay + block; };
    skipped.delayAt = [=](int64_t p) { return p < at ? delay : delay - block; };
    const Case cases[] = {
        {"dropout", dropout, false, 0},
        {"click", click, false, 0},
        {"gap", noisy, true, 0},
        {"repeated block", repeated, false, block},
        {"skipped block", skipped, false, -block},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> input = loopInput(signal, c.loop, 4 * s);
        const LatencyResult r =
            c.gap ? analyse(signal, input, size_t(block), at, at + block) : analyse(signal, input);
        EXPECT_EQ(r.burstsFound, 4);
        EXPECT_EQ(r.lagMin, delay + std::min<int64_t>(c.lagMove, 0));
        EXPECT_EQ(r.lagMax, delay + std::max<int64_t>(c.lagMove, 0));
        ASSERT_EQ(r.glitches, 1);
        ASSERT_EQ(r.glitchPositions.size(), 1u);
        EXPECT_GE(r.glitchPositions[0], at);
        EXPECT_LT(r.glitchPositions[0], at + block);
    }
}

TEST(LatencyAnalysis, LagThatMovesIsInconsistent) {
    const LoopbackSignal signal = signalFor(44100);
    const int64_t s = signal.cycleLength;
    // 300 samples for the first two bursts, 1000 from the third on (the move falls
    // between the second stretch and the third burst).
    Loop loop;
    loop.delayAt = [=](int64_t p) { return p < 2 * s + 100 ? 300 : 1000; };
    const LatencyResult r = analyse(signal, loopInput(signal, loop, 4 * s));
    EXPECT_EQ(r.lags, (std::vector<int64_t>{300, 300, 1000, 1000}));
    EXPECT_FALSE(r.lagConsistent);
    EXPECT_EQ(r.lagMin, 300);
    EXPECT_EQ(r.lagMedian, 300);
    EXPECT_EQ(r.lagMax, 1000);
}

TEST(LatencyAnalysis, NoLoopFindsNoBurst) {
    const LoopbackSignal signal = signalFor(48000);
    for (double noise : {0.0, 0.01}) {
        const LatencyResult r =
            analyse(signal, loopInput(signal, loopOf(0, 0.0, noise), 3 * signal.cycleLength));
        EXPECT_EQ(r.burstsSent, 3);
        EXPECT_EQ(r.burstsFound, 0);
        EXPECT_TRUE(r.lags.empty());
        EXPECT_FALSE(r.lagConsistent);
        EXPECT_FALSE(r.integrityMeasured);
        EXPECT_EQ(r.glitches, 0);
    }
}

TEST(LatencyAnalysis, BlockSizeDoesNotChangeTheResult) {
    // The same dropout fed one sample at a time, in odd blocks and all at once.
    const LoopbackSignal signal = signalFor(48000);
    const int64_t at = signal.cycleLength + 9000;
    Loop loop = loopOf(37, 0.5);
    loop.disturb = [=](int64_t p, double v) { return p >= at && p < at + 100 ? 0.0 : v; };
    const std::vector<float> input = loopInput(signal, loop, 3 * signal.cycleLength + 1000);
    const LatencyResult whole = analyse(signal, input, input.size());
    EXPECT_EQ(whole.glitches, 1);
    for (size_t block : {size_t(1), size_t(777)}) {
        const LatencyResult r = analyse(signal, input, block);
        EXPECT_EQ(r.lags, whole.lags);
        EXPECT_EQ(r.samplesChecked, whole.samplesChecked);
        EXPECT_EQ(r.glitchPositions, whole.glitchPositions);
        EXPECT_DOUBLE_EQ(r.gainDb, whole.gainDb);
    }
}

} // namespace
