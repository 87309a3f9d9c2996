// The loopback analysis on synthetic loops whose truth is known: pure delays, gains and
// inversion, noise, one disturbance of each kind at a known place, a lag that moves, and
// no loop at all.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
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

// Input long enough for `windows` whole search windows (each S + N - 1 samples from its
// cycle's start).
int64_t lengthFor(const LoopbackSignal& signal, int64_t windows) {
    return (windows - 1) * signal.cycleLength + signal.cycleLength + signal.burstLength - 1;
}

// A loop that delays by a fraction of a sample as a good resampler does: the played
// signal, band-limited, taken between its samples (a Blackman-windowed sinc of 64 taps).
std::vector<float> fractionalLoopInput(const LoopbackSignal& signal, double delay, int64_t length,
                                       double noiseRms = 0.0) {
    std::mt19937 random(99);
    const double halfWidth = noiseRms * std::sqrt(3.0);
    std::uniform_real_distribution<double> noise(-halfWidth, halfWidth);
    const int64_t whole = static_cast<int64_t>(std::floor(delay));
    const double fraction = delay - double(whole);
    std::vector<double> taps;
    for (int j = -32; j <= 32; ++j) {
        const double x = j - fraction;
        const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double n = (x + 33.0) / 66.0;
        taps.push_back(sinc * (0.42 - 0.5 * std::cos(2 * std::numbers::pi * n) + 0.08 * std::cos(4 * std::numbers::pi * n)));
    }
    std::vector<float> input(static_cast<size_t>(length));
    for (int64_t p = 0; p < length; ++p) {
        double value = 0.0;
        for (int j = -32; j <= 32; ++j)
            value += taps[size_t(j + 32)] * signal.signalAt(p - whole - j);
        input[size_t(p)] = static_cast<float>(value + (halfWidth > 0 ? noise(random) : 0.0));
    }
    return input;
}

TEST(LatencyAnalysis, PureDelaysGiveTheExactLag) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const LoopbackSignal signal = signalFor(rate);
        for (int64_t delay : {0, 37, 300, 1000, 7000}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, delay " + std::to_string(delay));
            // Three whole search windows, and the third stretch as far as it was recorded.
            const LatencyResult r = analyse(signal, loopInput(signal, loopOf(delay), lengthFor(signal, 3)));
            EXPECT_EQ(r.burstsSent, 3);
            EXPECT_EQ(r.burstsFound, 3);
            EXPECT_EQ(r.lags, std::vector<double>(3, double(delay)));
            EXPECT_EQ(r.lagMedian, delay);
            EXPECT_TRUE(r.lagConsistent);
            EXPECT_FALSE(r.lagAmbiguous);
            EXPECT_NEAR(r.gainDb, 0.0, 0.005);
            EXPECT_FALSE(r.inverted);
            EXPECT_TRUE(r.integrityMeasured);
            EXPECT_EQ(r.glitches, 0);
        }
    }
}

// Between samples: a loop of 600.5 samples with a little noise is 600.5 every time, not
// 600 and 601 in turn (which would read as a round trip that changed), and its gain is
// not taken low by the peak falling between two lags.
TEST(LatencyAnalysis, FractionalDelaysToATenthOfASampleAndTheirFullGain) {
    const LoopbackSignal signal = signalFor(48000);
    for (double delay : {600.5, 96.3, 1000.9, 250.0}) {
        SCOPED_TRACE("delay " + std::to_string(delay));
        const LatencyResult r =
            analyse(signal, fractionalLoopInput(signal, delay, lengthFor(signal, 4), 0.001));
        ASSERT_EQ(r.burstsFound, 4);
        EXPECT_TRUE(r.lagConsistent);
        EXPECT_NEAR(r.lagMedian, delay, 0.1001);
        EXPECT_NEAR(r.lagMax - r.lagMin, 0.0, 0.1001);
        EXPECT_NEAR(r.gainDb, 0.0, 0.1);
        EXPECT_EQ(r.glitches, 0) << "the expected burst at a fractional lag must match what came";
    }
}

// Loops longer than a cycle (half a second): the first bursts' windows come back empty,
// and the round trip is counted in whole cycles from there, up to seconds; when the input
// before the first burst did not all arrive, the round trip is not guessed.
TEST(LatencyAnalysis, LongLoopsArePlacedAndNeverGuessed) {
    const LoopbackSignal signal = signalFor(48000);
    for (int64_t delay : {20000, 23999, 24000, 48000, 100000}) {
        SCOPED_TRACE("delay " + std::to_string(delay));
        const LatencyResult r = analyse(signal, loopInput(signal, loopOf(delay), delay + lengthFor(signal, 3)));
        ASSERT_GE(r.burstsFound, 3);
        EXPECT_FALSE(r.lagAmbiguous);
        EXPECT_TRUE(r.lagConsistent);
        EXPECT_EQ(r.lagMedian, delay);
        EXPECT_EQ(r.glitches, 0);
        EXPECT_EQ(r.burstsMissing, 0) << "the windows before the first burst are the loop's own travel";
    }
    // The first cycle's input lost: a loop of 1000 cannot be told from one of 25000.
    const std::vector<float> input = loopInput(signal, loopOf(1000), lengthFor(signal, 4));
    const LatencyResult late = analyse(signal, input, 256, 0, signal.cycleLength);
    EXPECT_GE(late.burstsFound, 2);
    EXPECT_TRUE(late.lagAmbiguous);
}

TEST(LatencyAnalysis, GainAndInversionThroughNoise) {
    const LoopbackSignal signal = signalFor(48000);
    for (double gainDb : {-20.0, -6.0, 0.0, 6.0}) {
        for (double sign : {1.0, -1.0}) {
            SCOPED_TRACE(std::to_string(gainDb) + " dB, sign " + std::to_string(sign));
            // Noise at -40 dBFS RMS.
            const Loop loop = loopOf(1000, sign * std::pow(10.0, gainDb / 20.0), 0.01);
            const LatencyResult r = analyse(signal, loopInput(signal, loop, lengthFor(signal, 4)));
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
    // In the second cycle's sine stretch, three quarters through, on a block boundary;
    // and inside the second cycle's burst.
    const int64_t at = (s + delay + 4095 + 3 * (s - 4095) / 4) / block * block;
    const int64_t inBurst = (s + delay + 2000) / block * block;
    struct Case {
        const char* what;
        Loop loop;
        bool gap;        // the driver never delivers the block at `at`
        int64_t lagMove; // by how much the later bursts' lag moves
        int64_t where;
    };
    const auto inBlock = [=](int64_t p, int64_t from) { return p >= from && p < from + block; };
    const Loop noisy = loopOf(delay, 1.0, 0.01);
    Loop dropout = noisy, click = noisy, repeated = noisy, skipped = noisy, burstDropout = noisy, notNumbers = noisy;
    dropout.disturb = [=](int64_t p, double v) { return inBlock(p, at) ? 0.0 : v; };
    click.disturb = [=](int64_t p, double v) { return p == at + 5 ? v + 0.2 : v; };
    repeated.delayAt = [=](int64_t p) { return p < at ? delay : delay + block; };
    skipped.delayAt = [=](int64_t p) { return p < at ? delay : delay - block; };
    burstDropout.disturb = [=](int64_t p, double v) { return inBlock(p, inBurst) ? 0.0 : v; };
    notNumbers.disturb = [=](int64_t p, double v) { return p >= at + 3 && p < at + 9 ? NAN : v; };
    const Case cases[] = {
        {"dropout", dropout, false, 0, at},
        {"click", click, false, 0, at},
        {"gap", noisy, true, 0, at},
        {"repeated block", repeated, false, block, at},
        {"skipped block", skipped, false, -block, at},
        {"dropout inside a burst", burstDropout, false, 0, inBurst},
        {"samples that are not numbers", notNumbers, false, 0, at},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> input = loopInput(signal, c.loop, lengthFor(signal, 4));
        const LatencyResult r =
            c.gap ? analyse(signal, input, size_t(block), at, at + block) : analyse(signal, input);
        EXPECT_EQ(r.burstsFound, 4);
        EXPECT_EQ(r.lagMin, delay + std::min<int64_t>(c.lagMove, 0));
        EXPECT_EQ(r.lagMax, delay + std::max<int64_t>(c.lagMove, 0));
        ASSERT_EQ(r.glitches, 1);
        ASSERT_EQ(r.glitchPositions.size(), 1u);
        EXPECT_GE(r.glitchPositions[0], c.where);
        EXPECT_LT(r.glitchPositions[0], c.where + block);
        ASSERT_EQ(r.glitchSnapshots.size(), 1u);
        EXPECT_EQ(r.glitchSnapshots[0].position, r.glitchPositions[0]);
    }
}

// Dropouts of a block inside a burst, at its start, in its middle and at its end, alone
// and all three in one burst (a fifth of it): each is one glitch where it is. A gain fitted
// to all the burst's samples would follow three dropouts down and hide them in its
// residuals. A dropout that swallows a burst whole leaves it missing, which the loop found
// otherwise tells.
TEST(LatencyAnalysis, DropoutsInABurstAreEachFoundAndASwallowedBurstIsMissing) {
    const LoopbackSignal signal = signalFor(48000);
    const int64_t s = signal.cycleLength, delay = 641, block = 300;
    const int64_t burst = 2 * s + delay; // the third cycle's burst as it comes back
    const int64_t start = burst, middle = burst + 1800, end = burst + signal.burstLength - block;
    struct Case {
        const char* what;
        std::vector<int64_t> dropouts; // first position of each dropped block
    };
    const Case cases[] = {
        {"start", {start}}, {"middle", {middle}}, {"end", {end}}, {"all three", {start, middle, end}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loop loop = loopOf(delay, 0.8, 0.001);
        const std::vector<int64_t> dropouts = c.dropouts;
        loop.disturb = [dropouts, block](int64_t p, double v) {
            for (int64_t from : dropouts)
                if (p >= from && p < from + block) return 0.0;
            return v;
        };
        const LatencyResult r = analyse(signal, loopInput(signal, loop, lengthFor(signal, 4)), size_t(block));
        EXPECT_EQ(r.burstsFound, 4);
        EXPECT_EQ(r.burstsMissing, 0);
        EXPECT_EQ(r.lagMedian, delay);
        ASSERT_EQ(r.glitchPositions.size(), c.dropouts.size());
        for (size_t i = 0; i < c.dropouts.size(); ++i) {
            EXPECT_GE(r.glitchPositions[i], c.dropouts[i]);
            EXPECT_LT(r.glitchPositions[i], c.dropouts[i] + block);
        }
    }

    // Thirteen blocks from just before the burst to just after it: nothing of it came back.
    Loop swallowed = loopOf(delay, 0.8, 0.001);
    swallowed.disturb = [=](int64_t p, double v) {
        return p >= burst - 100 && p < burst + 13 * block ? 0.0 : v;
    };
    const LatencyResult r =
        analyse(signal, loopInput(signal, swallowed, lengthFor(signal, 4)), size_t(block));
    EXPECT_EQ(r.burstsSent, 4);
    EXPECT_EQ(r.burstsFound, 3);
    EXPECT_EQ(r.burstsMissing, 1);
    EXPECT_TRUE(r.lagConsistent);
}

// Input the host lost is neither silence nor a glitch; the analysis starts over after
// the driver re-based its positions and keeps the round trip it knows.
TEST(LatencyAnalysis, HostLossesAreNotJudgedAndReBasesGoOn) {
    const LoopbackSignal signal = signalFor(48000);
    const int64_t s = signal.cycleLength;
    const std::vector<float> input = loopInput(signal, loopOf(300, 1.0, 0.01), lengthFor(signal, 6));
    LatencyAnalyser analyser(signal);
    for (int64_t at = 0; at < int64_t(input.size()); at += 256) {
        const size_t count = std::min<size_t>(256, input.size() - size_t(at));
        if (at >= s + 9000 && at < s + 9000 + 1024) {
            analyser.addLoss(at, count);
            continue;
        }
        analyser.addInput(at, &input[size_t(at)], count);
    }
    // The positions jump by 2^32: the same loop goes on far away.
    const int64_t jump = int64_t{1} << 32;
    const int64_t cycleStart = (jump / s + 1) * s;
    analyser.rebase(cycleStart);
    for (int64_t at = 0; at < lengthFor(signal, 3); at += 256)
        analyser.addInput(cycleStart + at, &input[size_t(at)], 256);
    const LatencyResult r = analyser.result();
    EXPECT_EQ(r.unknownSamples, 1024);
    EXPECT_EQ(r.glitches, 0);
    EXPECT_EQ(r.rebases, 1);
    EXPECT_GE(r.burstsFound, 8);
    EXPECT_TRUE(r.lagConsistent);
    EXPECT_EQ(r.lagMedian, 300);
}

TEST(LatencyAnalysis, LagThatMovesIsInconsistent) {
    const LoopbackSignal signal = signalFor(44100);
    const int64_t s = signal.cycleLength;
    // 300 samples for the first two bursts, 1000 from the third on (the move falls
    // between the second stretch and the third burst).
    Loop loop;
    loop.delayAt = [=](int64_t p) { return p < 2 * s + 100 ? 300 : 1000; };
    const LatencyResult r = analyse(signal, loopInput(signal, loop, lengthFor(signal, 4)));
    EXPECT_EQ(r.lags, (std::vector<double>{300, 300, 1000, 1000}));
    EXPECT_FALSE(r.lagConsistent);
    EXPECT_EQ(r.lagMin, 300);
    EXPECT_EQ(r.lagMedian, 300);
    EXPECT_EQ(r.lagMax, 1000);

    // A slip of one sample is a change too.
    loop.delayAt = [=](int64_t p) { return p < 2 * s + 100 ? 300 : 301; };
    const LatencyResult slipped = analyse(signal, loopInput(signal, loop, lengthFor(signal, 4)));
    EXPECT_EQ(slipped.lagMax - slipped.lagMin, 1.0);
    EXPECT_FALSE(slipped.lagConsistent);
}

// A dropout is placed at its first sample that differs from what should have come: at
// the block's start, unless the sine happens to cross zero there.
TEST(LatencyAnalysis, ADropoutIsPlacedAtItsFirstWrongSample) {
    const LoopbackSignal signal = signalFor(48000);
    const int64_t delay = 600;
    for (int64_t at : {30000, 30007}) {
        Loop loop = loopOf(delay);
        loop.disturb = [=](int64_t p, double v) { return p >= at && p < at + 300 ? 0.0 : v; };
        const LatencyResult r = analyse(signal, loopInput(signal, loop, lengthFor(signal, 3)), 300);
        ASSERT_EQ(r.glitchPositions.size(), 1u);
        // At 30000 the expected sine is sin(2π (29400 mod 48) / 48) = sin(π) = 0, which the
        // dropout's zero matches: the first wrong sample is the next one.
        EXPECT_EQ(r.glitchPositions[0], at == 30000 ? 30001 : at);
    }
}

TEST(LatencyAnalysis, NoLoopFindsNoBurst) {
    const LoopbackSignal signal = signalFor(48000);
    for (double noise : {0.0, 0.01}) {
        const LatencyResult r = analyse(signal, loopInput(signal, loopOf(0, 0.0, noise), lengthFor(signal, 3)));
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
    const std::vector<float> input = loopInput(signal, loop, lengthFor(signal, 3) + 1000);
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
