// Switches that fall behind the driver's clock with no late interval, against synthetic
// runs whose every entry time is known: a timer that creeps and catches up, a clock
// within the forgiven drift, jitter, and a late switch that is its own finding.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "measure/switchTiming.h"

using measure::SwitchRecord;
using measure::SwitchSummary;
using measure::SwitchTiming;

namespace {

constexpr int64_t B = 256;
constexpr double lagRate = 48000;
constexpr double periodNs = B * 1e9 / lagRate; // 5.33 ms

// `count` switches with continuous positions and halves; entryNs(n) says when switch n
// came (the run starts at 0).
SwitchSummary run(int count, const std::function<int64_t(int)>& entryNs) {
    SwitchTiming timing(B, lagRate);
    int64_t last = 0;
    for (int n = 0; n < count; ++n) {
        last = entryNs(n);
        timing.add(SwitchRecord{last, last + 1000, n * B, true, n % 2});
    }
    return timing.summary(0, last + 1000);
}

int64_t onClock(int n, double stretch = 1.0) {
    return static_cast<int64_t>(n * periodNs * stretch);
}

} // namespace

// A timer of its own 20 % slower than the period, which delivers what is due back to back
// once three buffers behind: every interval is short of late and the mean is right, yet
// every cycle the switches fall over a period behind.
TEST(ClockLag, ATimerThatCreepsAndCatchesUpFallsBehindEveryCycle) {
    int64_t timer = 0;
    int behindBy = 0;
    const SwitchSummary s = run(600, [&](int n) {
        if (n == 0) return timer;
        if (behindBy > 0) {
            --behindBy; // caught up: back to back
            return timer += 10'000;
        }
        timer += static_cast<int64_t>(1.2 * periodNs);
        behindBy = static_cast<int>((timer - onClock(n)) / periodNs) >= 3 ? 3 : 0;
        return timer;
    });
    EXPECT_EQ(s.intervalUs.late, 0u);
    EXPECT_EQ(s.lostTimePauses, 0u);
    EXPECT_GE(s.behindEpisodes, 20u);
    EXPECT_GT(s.behindWorstMs, periodNs / 1e6);
    EXPECT_LT(s.behindWorstMs, 4 * periodNs / 1e6);
    ASSERT_FALSE(s.behind.empty());
    EXPECT_GT(s.behind[0].atSeconds, 0.0);
}

// A good driver: jitter of 40 % of a period either way, a clock 900 ppm slow (forgiven),
// neither is ever behind.
TEST(ClockLag, JitterAndAForgivenDriftAreNeverBehind) {
    const SwitchSummary jitter =
        run(2000, [](int n) { return onClock(n) + (n % 2 == 0 ? 0 : int64_t(0.4 * periodNs)); });
    EXPECT_EQ(jitter.behindEpisodes, 0u);
    const SwitchSummary drift = run(4000, [](int n) { return onClock(n, 1.0009); });
    EXPECT_EQ(drift.behindEpisodes, 0u);
    // 3000 ppm slow: 21 seconds put it four periods behind.
    const SwitchSummary slow = run(4000, [](int n) { return onClock(n, 1.003); });
    EXPECT_GE(slow.behindEpisodes, 1u);
}

// A switch that came late (over 1.5 periods) is the late switch's finding, however far
// behind it left the stream: it begins no episode, and the switches that catch up after
// it end none.
TEST(ClockLag, ALateSwitchIsItsOwnFinding) {
    const SwitchSummary s =
        run(400, [](int n) { return onClock(n) + (n >= 200 && n < 203 ? int64_t(3 * periodNs) : 0); });
    EXPECT_EQ(s.intervalUs.late, 1u);
    EXPECT_EQ(s.behindEpisodes, 0u);
}
