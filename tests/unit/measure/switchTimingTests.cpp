// Buffer-switch statistics against hand-computed sequences and synthetic runs with a known rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "measure/switchTiming.h"

using measure::SwitchRecord;
using measure::SwitchSummary;
using measure::SwitchTiming;

namespace {

constexpr int64_t msNs = 1'000'000;
constexpr int64_t secondNs = 1'000'000'000;

SwitchRecord switchAt(int64_t entryNs, int64_t position, int32_t half, bool valid = true,
                      int64_t hostNs = 0) {
    return {entryNs, entryNs + hostNs, position, valid, half};
}

} // namespace

// One sequence with every kind of fault between clean stretches; the running counts are
// checked after each switch, so a fault counted on the wrong switch fails too.
TEST(SwitchTiming, CountsEveryContinuityAndHalfFault) {
    constexpr int64_t B = 256;
    struct Step {
        int64_t position;
        bool valid;
        int32_t half;
        std::string kind; // "", "gap", "repeat", "backwards", "short"
        int64_t lost;
        bool halfError;
    };
    const std::vector<Step> steps = {
        {0, true, 0, "", 0, false},
        {256, true, 1, "", 0, false},
        {512, true, 0, "", 0, false},
        {1024, true, 0, "gap", 256, false}, // one switch dropped: 2B, half kept
        {1280, true, 1, "", 0, false},
        {1280, true, 1, "repeat", 0, false}, // the same buffer again, same half
        {1536, true, 0, "", 0, false},
        {1400, true, 1, "backwards", 0, false}, // no parity check backwards
        {1656, true, 0, "", 0, false},
        {1756, true, 1, "short", 0, false}, // not a multiple of B: no parity check
        {2012, true, 0, "", 0, false},
        {2268, true, 2, "", 0, true},  // bad half
        {2524, true, 1, "", 0, false}, // previous half was bad: nothing to compare
        {2780, true, -1, "", 0, true}, // bad half
        {3036, true, 0, "", 0, false},
        {3292, true, 1, "", 0, false},
        {3804, true, 0, "gap", 256, true}, // one extra buffer, yet the half flipped
        {4060, true, 1, "", 0, false},
        {0, false, 0, "", 0, false},   // no position: no continuity, no parity
        {4572, true, 1, "", 0, false}, // previous position invalid: nothing to compare
        {4828, true, 0, "", 0, false},
        {5084, true, 0, "", 0, true},       // one buffer on, half stuck
        {5852, true, 1, "gap", 512, false}, // three buffers on, half flipped
        {5852, true, 0, "repeat", 0, true}, // a repeat must keep the half
    };

    SwitchTiming timing(B, 48000);
    SwitchSummary expected;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        timing.add(switchAt(static_cast<int64_t>(i) * 5 * msNs, step.position, step.half, step.valid));
        expected.gaps += step.kind == "gap";
        expected.samplesLost += step.lost;
        expected.repeats += step.kind == "repeat";
        expected.backwards += step.kind == "backwards";
        expected.shortSteps += step.kind == "short";
        expected.halfErrors += step.halfError;

        const SwitchSummary s = timing.summary(0, secondNs);
        SCOPED_TRACE("after switch " + std::to_string(i));
        EXPECT_EQ(s.switches, i + 1);
        EXPECT_EQ(s.gaps, expected.gaps);
        EXPECT_EQ(s.samplesLost, expected.samplesLost);
        EXPECT_EQ(s.repeats, expected.repeats);
        EXPECT_EQ(s.backwards, expected.backwards);
        EXPECT_EQ(s.shortSteps, expected.shortSteps);
        EXPECT_EQ(s.halfErrors, expected.halfErrors);
    }
    const SwitchSummary s = timing.summary(0, secondNs);
    EXPECT_EQ(s.gaps, 3u);
    EXPECT_EQ(s.samplesLost, 1024);
    EXPECT_EQ(s.repeats, 2u);
    EXPECT_EQ(s.backwards, 1u);
    EXPECT_EQ(s.shortSteps, 1u);
    EXPECT_EQ(s.halfErrors, 5u);

    // A bad half on the very first switch counts too.
    SwitchTiming first(B, 48000);
    first.add(switchAt(0, 0, 7));
    EXPECT_EQ(first.summary(0, 0).halfErrors, 1u);
}

// 288 samples at 48 kHz: a 6 ms period, late beyond exactly 9 ms. Intervals are given as
// runs of (count, nanoseconds); the percentile is the nearest-rank value to the whole µs.
TEST(SwitchTiming, IntervalFiguresAndLateEdge) {
    struct Case {
        std::vector<std::pair<int, int64_t>> runs;
        double min, mean, max, p99;
        uint64_t late;
    };
    const std::vector<Case> cases = {
        // Five intervals: rank 5 is the largest, 9000.5 µs rounds up; only it is late.
        {{{1, 6'000'000}, {1, 5'500'000}, {1, 6'700'000}, {1, 4'800'000}, {1, 9'000'500}},
         4800,
         32000.5 / 5,
         9000.5,
         9001,
         1},
        // 1.5 periods exactly is not late, 1 ns more is; rank 99 of 100 lies beyond the histogram.
        {{{96, 6'000'000}, {1, 9'000'000}, {1, 9'000'001}, {1, 70'000'000}, {1, 100'000'000}},
         6000,
         764000.001 / 100,
         100000,
         70000,
         3},
        // Rank ceil(0.99 × 201) = 199, not 198.
        {{{198, 6'000'000}, {1, 7'000'000}, {2, 8'000'000}}, 6000, 1211000.0 / 201, 8000, 7000, 0},
        // The last microsecond of the histogram and the first one past it.
        {{{98, 1'000'000}, {1, 65'535'499}, {1, 65'535'500}}, 1000, 229070.999 / 100, 65535.5, 65535, 2},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE("case " + std::to_string(c));
        SwitchTiming timing(288, 48000);
        int64_t entry = 7'000 * secondNs, position = 0;
        timing.add(switchAt(entry, position, 0));
        for (const auto& [count, ns] : cases[c].runs)
            for (int i = 0; i < count; ++i) {
                entry += ns;
                position += 288;
                timing.add(switchAt(entry, position, static_cast<int32_t>(position / 288 % 2)));
            }
        const SwitchSummary s = timing.summary(0, 0);
        EXPECT_DOUBLE_EQ(s.intervalUs.min, cases[c].min);
        EXPECT_NEAR(s.intervalUs.mean, cases[c].mean, 1e-9);
        EXPECT_DOUBLE_EQ(s.intervalUs.max, cases[c].max);
        EXPECT_EQ(s.intervalUs.p99, cases[c].p99);
        EXPECT_EQ(s.intervalUs.late, cases[c].late);
        EXPECT_EQ(s.gaps + s.halfErrors, 0u);
    }
}

TEST(SwitchTiming, HostTimeEmptyAndSingleRecordAndExpectedSwitches) {
    // Host times 100..600 µs on a 6 ms period: mean 350 µs, load 350 / 6000.
    SwitchTiming timing(288, 48000);
    for (int i = 0; i < 6; ++i)
        timing.add(switchAt(i * 6 * msNs, i * 288, i % 2, true, (i + 1) * 100'000));
    SwitchSummary s = timing.summary(0, 0);
    EXPECT_DOUBLE_EQ(s.hostUs.mean, 350);
    EXPECT_DOUBLE_EQ(s.hostUs.max, 600);
    EXPECT_DOUBLE_EQ(s.hostLoad, 350.0 / 6000);

    const SwitchSummary empty = SwitchTiming(256, 48000).summary(0, secondNs);
    EXPECT_EQ(empty.switches, 0u);
    EXPECT_EQ(empty.expectedSwitches, 187u); // 48000 / 256 = 187.5 in the run's one second
    EXPECT_EQ(empty.intervalUs.max + empty.intervalUs.p99 + empty.hostUs.max + empty.hostLoad, 0);
    EXPECT_FALSE(empty.measuredRate || empty.rateErrorPpm);

    SwitchTiming single(256, 48000);
    single.add(switchAt(5 * secondNs, 1024, 0, true, 40'000));
    s = single.summary(0, 0);
    EXPECT_EQ(s.switches, 1u);
    EXPECT_EQ(s.intervalUs.min + s.intervalUs.mean + s.intervalUs.max + s.intervalUs.p99, 0);
    EXPECT_DOUBLE_EQ(s.hostUs.mean, 40);
    EXPECT_FALSE(s.measuredRate);

    struct Expected {
        int32_t bufferSize;
        double rate;
        int64_t startNs, endNs;
        uint64_t switches;
    };
    const std::vector<Expected> expectations = {
        {300, 48000, 0, 3 * secondNs, 480},
        {300, 48000, secondNs, 4 * secondNs - 1, 479},   // 1 ns short of 480
        {32, 192000, 0, 36'000 * secondNs, 216'000'000}, // ten hours
        {1, 44100, 5 * secondNs, 5 * secondNs + 36'000 * secondNs, 1'587'600'000},
        {256, 48000, secondNs, secondNs, 0},     // no duration
        {256, 48000, 2 * secondNs, secondNs, 0}, // stopped before started
        {0, 48000, 0, secondNs, 0},
        {-64, 48000, 0, secondNs, 0},
        {256, 0, 0, secondNs, 0},
        {256, -48000, 0, secondNs, 0},
        {256, NAN, 0, secondNs, 0},
        {256, INFINITY, 0, secondNs, 0},
    };
    for (const Expected& e : expectations)
        EXPECT_EQ(SwitchTiming(e.bufferSize, e.rate).summary(e.startNs, e.endNs).expectedSwitches, e.switches)
            << e.bufferSize << " samples at " << e.rate << " Hz";

    // The run counts from the first switch when it came within the start-up allowance,
    // and from the allowance's end when it came later: a slow start is missing switches.
    for (const auto& [firstNs, switches] : std::vector<std::pair<int64_t, uint64_t>>{
             {0, 160}, {60 * msNs, 150}, {measure::startupForgivenNs, 144}, {600 * msNs, 144}}) {
        SwitchTiming late(300, 48000);
        late.add(switchAt(firstNs, 0, 0, true, 1000));
        EXPECT_EQ(late.summary(0, secondNs).expectedSwitches, switches) << "first switch at " << firstNs << " ns";
    }
}

// A driver whose clock runs 500 ppm fast against its reported 48 kHz, 300-sample buffers
// (6.25 ms), every callback late by a random 0 to 400 µs (callbacks are never early),
// three seconds, and at 2 s the machine stalls for 40 ms: the switches due meanwhile
// come at its end in a burst. The first 0.5 s carry positions that are wildly wrong:
// they must not take part. A least-squares line through every switch would be bent by
// the stall by over 1000 ppm; the earliest switch of every 100 ms keeps the rate.
TEST(SwitchTiming, RateFollowsTheDriversClockThroughJitterAndAStall) {
    constexpr double trueRate = 48000 * (1 + 500e-6);
    constexpr int64_t B = 300, startNs = 123'456 * secondNs, startPosition = 9'000'000'000;
    constexpr int64_t stallFromNs = 2 * secondNs, stallToNs = stallFromNs + 40 * msNs;
    std::mt19937_64 random(20240607);

    SwitchTiming timing(B, 48000);
    SwitchTiming stalled(B, 48000);
    for (int64_t k = 0; k * B < 3 * trueRate; ++k) {
        const int64_t dueNs = std::llround(k * B / trueRate * 1e9);
        const int64_t lateNs = static_cast<int64_t>(random() % 400'001);
        const bool settled = dueNs >= secondNs / 2 + 400'000;
        const int64_t position = startPosition + k * B + (settled ? 0 : 50'000'000 * (k % 3));
        timing.add(switchAt(startNs + dueNs + lateNs, position, static_cast<int32_t>(k % 2)));
        const int64_t stalledNs = dueNs >= stallFromNs && dueNs < stallToNs ? stallToNs + (dueNs - stallFromNs) / 50
                                                                             : dueNs + lateNs;
        stalled.add(switchAt(startNs + stalledNs, position, static_cast<int32_t>(k % 2)));
    }
    for (const SwitchTiming* t : {&timing, &stalled}) {
        const SwitchSummary s = t->summary(startNs, startNs + 3 * secondNs);
        ASSERT_TRUE(s.measuredRate && s.rateErrorPpm);
        EXPECT_NEAR(*s.rateErrorPpm, 500, 20);
        EXPECT_NEAR(*s.measuredRate, trueRate, 1.0);
    }
}

// Too few points, too short a span, or nothing after the first 0.5 s: no rate.
TEST(SwitchTiming, RateNeedsThreePointsOverATenthOfASecond) {
    struct Case {
        std::vector<int64_t> entriesMs; // buffers of 100 ms: exactly 48 kHz
        std::vector<bool> valid;
        bool hasRate;
    };
    // One point goes into the fit for every 100 ms from the first switch after 0.5 s.
    const std::vector<Case> cases = {
        {{0, 500, 600, 700}, {true, true, true, true}, true},               // 0.5 s itself counts
        {{0, 500, 600, 700}, {false, true, true, true}, true},              // timed from the first switch
        {{0, 500, 550, 600}, {true, true, true, true}, false},              // two 100 ms bins only
        {{0, 500, 600}, {true, true, true}, false},                         // two points after 0.5 s
        {{0, 500, 600, 700, 800}, {true, true, false, true, false}, false}, // invalid ones do not count
        {{0, 100, 200, 300, 400, 499}, {true, true, true, true, true, true}, false},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        SwitchTiming timing(4800, 48000);
        for (size_t i = 0; i < cases[c].entriesMs.size(); ++i) {
            const int64_t ms = cases[c].entriesMs[i];
            timing.add(switchAt(ms * msNs, ms * 48, 0, cases[c].valid[i]));
        }
        const SwitchSummary s = timing.summary(0, secondNs);
        EXPECT_EQ(s.measuredRate.has_value(), cases[c].hasRate) << "case " << c;
        EXPECT_EQ(s.rateErrorPpm.has_value(), cases[c].hasRate) << "case " << c;
        if (s.measuredRate && s.rateErrorPpm) {
            EXPECT_NEAR(*s.measuredRate, 48000, 1e-6);
            EXPECT_NEAR(*s.rateErrorPpm, 0, 1e-6);
        }
    }
}

// Ten hours at 300 samples and 48024 Hz, with a clock already days into its count and
// positions beyond 10^10: no rounding drift, every switch in order.
TEST(SwitchTiming, TenHourRunKeepsTheRateExact) {
    constexpr double trueRate = 48024;
    constexpr int64_t B = 300, startNs = 3'000'000 * secondNs, startPosition = 10'000'000'000;
    constexpr int64_t durationNs = 36'000 * secondNs;
    SwitchTiming timing(B, 48000);
    int64_t k = 0;
    for (;; ++k) {
        const int64_t offsetNs = std::llround(static_cast<double>(k * B) / trueRate * 1e9);
        if (offsetNs > durationNs) break;
        timing.add(
            switchAt(startNs + offsetNs, startPosition + k * B, static_cast<int32_t>(k % 2), true, 50'000));
    }
    const SwitchSummary s = timing.summary(startNs, startNs + durationNs);
    EXPECT_EQ(s.switches, static_cast<uint64_t>(k));
    EXPECT_EQ(s.expectedSwitches, 5'760'000u);
    EXPECT_EQ(s.gaps + s.repeats + s.backwards + s.shortSteps + s.halfErrors, 0u);
    EXPECT_EQ(s.intervalUs.late, 0u);
    EXPECT_EQ(s.intervalUs.p99, 6247); // 300 / 48024 s = 6246.88 µs
    EXPECT_NEAR(s.intervalUs.mean, 6246.876, 0.001);
    ASSERT_TRUE(s.rateErrorPpm);
    EXPECT_NEAR(*s.rateErrorPpm, 500, 0.001);
    EXPECT_NEAR(*s.measuredRate, trueRate, 1e-4);
}

// Three seconds of 300-sample buffers at 48 kHz through every kind of discontinuity: a
// dropped switch, a jump of 1000 samples, a re-base by 2^32, switches the host could
// not note, and a driver that goes quiet for the last half second. Each is counted once
// as what it is, nothing is judged across the host's loss, and the rate stays exact.
TEST(SwitchTiming, DiscontinuitiesAreCountedAsWhatTheyAreAndLeaveTheRateExact) {
    constexpr int64_t B = 300, periodNs = 6'250'000;
    SwitchTiming timing(B, 48000);
    timing.setOrigin(0);
    int64_t offset = 0;
    uint32_t lostBefore = 0;
    for (int64_t k = 0; k * periodNs < 2'500 * msNs; ++k) {
        if (k == 100) continue;                 // dropped: one gap of B
        if (k == 150) offset += 1000;           // a jump: one gap of 1000
        if (k == 200) offset += int64_t{1} << 32; // a re-base
        if (k >= 250 && k < 260) {              // the host had no room for ten records
            ++lostBefore;
            continue;
        }
        SwitchRecord record = switchAt(k * periodNs, k * B + offset, static_cast<int32_t>(k % 2));
        record.hostLostBefore = lostBefore;
        lostBefore = 0;
        timing.add(record);
    }
    const SwitchSummary s = timing.summary(0, 3 * secondNs);
    EXPECT_EQ(s.gaps, 2u);
    EXPECT_EQ(s.samplesLost, B + 1000);
    EXPECT_EQ(s.positionJumps, 1u);
    EXPECT_EQ(s.hostLostRecords, 10u);
    EXPECT_EQ(s.repeats + s.backwards + s.shortSteps + s.halfErrors, 0u);
    ASSERT_TRUE(s.rateErrorPpm);
    EXPECT_NEAR(*s.rateErrorPpm, 0, 1);
    // The half second of silence at the end is one late interval, the longest.
    EXPECT_TRUE(s.trailingIntervalCounted);
    EXPECT_EQ(s.intervalUs.late, 2u); // the dropped switch's 12.5 ms, and the silence
    EXPECT_NEAR(s.intervalUs.max, 500'000 + 6'250, 1);
    const std::vector<measure::LateInterval> late = timing.lateIntervals(3 * secondNs);
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].endNs, 101 * periodNs);
    EXPECT_EQ(late[1].endNs, 3 * secondNs);
    // The timeline holds a bin per 100 ms up to the last switch.
    ASSERT_EQ(timing.timeline().size(), 25u);
    EXPECT_EQ(timing.timeline()[6].switches, 16u - 1); // switch 100 (at 625 ms) never came
}

namespace {

// Three seconds of 300-sample buffers at 48 kHz, each switch late by a random 0 to 400 µs,
// with `pause` applied to the switch times: it gets the due time of switch k and says when
// the switch comes.
SwitchSummary runWith(const std::function<int64_t(int64_t k, int64_t dueNs)>& pause, int32_t bufferSize = 300,
                      int64_t seconds = 3) {
    const double periodNs = bufferSize * 1e9 / 48000;
    std::mt19937_64 random(77);
    SwitchTiming timing(bufferSize, 48000);
    const int64_t startNs = 50 * secondNs;
    timing.setOrigin(startNs);
    int64_t k = 0;
    for (;; ++k) {
        const int64_t dueNs = std::llround(double(k) * periodNs);
        const int64_t atNs = pause(k, dueNs) + static_cast<int64_t>(random() % 400'001);
        if (atNs > seconds * secondNs) break;
        timing.add(switchAt(startNs + atNs, k * bufferSize, static_cast<int32_t>(k % 2)));
    }
    return timing.summary(startNs, startNs + seconds * secondNs);
}

} // namespace

// A driver that stops for 50 ms at 1 s: one that catches up afterwards (a burst of the
// switches due meanwhile) lost no time; one whose schedule goes on from where it was lost
// 50 ms, said once, and the rate through the steady stretches either side is still the
// driver's clock (a line through the step would read it some thousands of ppm slow).
TEST(SwitchTiming, APauseThatLostTimeIsToldFromOneThatCaughtUp) {
    constexpr int64_t fromNs = secondNs, pauseNs = 50 * msNs;
    const SwitchSummary caughtUp = runWith([](int64_t, int64_t due) {
        return due >= fromNs && due < fromNs + pauseNs ? fromNs + pauseNs + (due - fromNs) / 100 : due;
    });
    EXPECT_EQ(caughtUp.intervalUs.late, 1u);
    EXPECT_EQ(caughtUp.lostTimePauses, 0u);
    EXPECT_EQ(caughtUp.lostTimeBuffers, 0u);
    ASSERT_TRUE(caughtUp.rateErrorPpm);
    EXPECT_NEAR(*caughtUp.rateErrorPpm, 0, 20);

    // A catch-up that takes 60 ms and is itself held up once by a late switch in its middle
    // is still a catch-up.
    const SwitchSummary slowCatchUp = runWith([](int64_t k, int64_t due) {
        if (due < fromNs || due >= fromNs + 150 * msNs) return due;
        return fromNs + pauseNs + (due - fromNs) / 2 + (k >= 164 ? 15 * msNs : 0);
    });
    EXPECT_GE(slowCatchUp.intervalUs.late, 2u);
    EXPECT_EQ(slowCatchUp.lostTimePauses, 0u);

    // The pause comes before the switch due at 1 s and every later one.
    const SwitchSummary lost =
        runWith([](int64_t, int64_t due) { return due >= fromNs ? due + pauseNs : due; });
    EXPECT_EQ(lost.intervalUs.late, 1u);
    ASSERT_EQ(lost.lostTimePauses, 1u);
    EXPECT_NEAR(lost.lostTimeMs, 50, 0.5);
    EXPECT_EQ(lost.lostTimeBuffers, 8u); // 50 ms of 6.25 ms buffers
    ASSERT_EQ(lost.lostTime.size(), 1u);
    EXPECT_NEAR(lost.lostTime[0].atSeconds, 1.0, 0.007) << "the pause began after the switch before it";
    EXPECT_EQ(lost.gaps, 0u);
    ASSERT_TRUE(lost.rateErrorPpm && lost.expectedByDriverClock);
    EXPECT_NEAR(*lost.rateErrorPpm, 0, 20);
    // What the driver's clock calls for, less what the pause lost, is what came.
    EXPECT_NEAR(double(*lost.expectedByDriverClock), double(lost.switches + lost.lostTimeBuffers), 1.0);
}

// A driver that skips a period every 300 ms, as one whose host skips cycles: each pause is
// told, with the time it lost, at a small buffer too, and the rate stays the clock's;
// switches that are merely late by more than half a period and the next one early are no
// pause.
TEST(SwitchTiming, RepeatedPausesAreEachToldAndJitterIsNone) {
    for (int32_t size : {64, 300}) {
        SCOPED_TRACE(std::to_string(size) + " samples");
        const int64_t periodNs = std::llround(size * 1e9 / 48000);
        const SwitchSummary s =
            runWith([periodNs](int64_t, int64_t due) { return due + (due / (300 * msNs)) * periodNs; }, size);
        EXPECT_EQ(s.lostTimePauses, 9u); // at 0.3, 0.6, ... 2.7 s; the one at 3 s lies past the end
        EXPECT_NEAR(s.lostTimeMs, 9 * periodNs / 1e6, 9 * 0.45);
        // Stretches of 300 ms with 400 µs of jitter: within 200 ppm, where one line through
        // the steps reads the clock 2 % slow.
        ASSERT_TRUE(s.rateErrorPpm);
        EXPECT_NEAR(*s.rateErrorPpm, 0, 200);
    }
    // Every 20th switch 0.8 periods late, caught up by the next.
    const SwitchSummary jittery =
        runWith([](int64_t k, int64_t due) { return k % 20 == 5 ? due + 5 * msNs : due; });
    EXPECT_GT(jittery.intervalUs.late, 20u);
    EXPECT_EQ(jittery.lostTimePauses, 0u);
}

// The rate fit keeps a steady stretch of three 100 ms points and leaves out one of two,
// whose slope says nothing of the clock (here a driver that fell behind in it).
TEST(SwitchTiming, RateFitsStretchesOfThreePointsAndLeavesOutShorterOnes) {
    // Buffers of 100 ms: each switch is its own point. A gap ends each stretch.
    struct Point {
        int64_t ms, position;
    };
    const std::vector<Point> points = {
        {0, 0},                                     // before the fit begins
        {500, 24000},  {600, 28800},  {700, 33600}, // three points at 48 kHz
        {840, 43200},  {980, 48000},                // two 140 ms apart: left out
        {1100, 62400}, {1240, 67200},               // two more, still open at the end
    };
    SwitchTiming timing(4800, 48000);
    for (const Point& p : points)
        timing.add(switchAt(p.ms * msNs, p.position, int32_t(p.position / 4800 % 2)));
    const SwitchSummary s = timing.summary(0, 1300 * msNs);
    EXPECT_EQ(s.gaps, 3u);
    ASSERT_TRUE(s.measuredRate);
    EXPECT_NEAR(*s.measuredRate, 48000, 1e-6);
}
