// The machine probe's analysis on recorded wake-ups: how it runs for a period, which
// stalls are the process's own, when it says it cannot judge, and which late switches
// its stalls explain.
#include <gtest/gtest.h>

#include <vector>

#include "measure/machineStalls.h"

using namespace measure;

namespace {

constexpr int64_t us = 1'000;
constexpr int64_t ms = 1'000'000;

// A probe thread's wake-ups every millisecond over `count` of them, each on time unless
// `late` says otherwise, with the process's processor time (the probes' own excluded)
// growing by `ownCpu` per wake-up.
struct Trace {
    std::vector<ProbeWake> wakes;
    int64_t processCpu = 0, probesCpu = 0;

    // The probe woke `latenessNs` late; meanwhile the process's other threads used
    // `ownCpuNs` and the probe threads `probesNs`.
    void wake(int64_t dueNs, int64_t latenessNs, int64_t ownCpuNs, int64_t probesNs = 5 * us) {
        probesCpu += probesNs;
        processCpu += ownCpuNs + probesNs;
        wakes.push_back({dueNs, dueNs + latenessNs, processCpu, probesCpu});
    }
};

} // namespace

TEST(MachineStalls, ThePlanFollowsThePeriod) {
    // 300 samples at 48 kHz: every millisecond, stalls of 500 µs.
    const ProbePlan usual = probePlanFor(6'250'000);
    EXPECT_EQ(usual.wakeIntervalNs, 1 * ms);
    EXPECT_EQ(usual.stallThresholdNs, 500 * us);
    EXPECT_EQ(usual.usableMedianNs, 250 * us);
    EXPECT_FALSE(usual.periodTooShort);
    // 64 samples at 192 kHz (333 µs): a late switch is late by 167 µs, so stalls of 83 µs
    // count, but the probe wakes no more often than every 100 µs.
    const ProbePlan small = probePlanFor(333'333);
    EXPECT_EQ(small.wakeIntervalNs, 100 * us);
    EXPECT_EQ(small.stallThresholdNs, 83'333);
    EXPECT_TRUE(small.periodTooShort);
    EXPECT_FALSE(probePlanFor(400'000).periodTooShort);
    // 32 samples at 384 kHz (83 µs): too short to follow, and said so.
    const ProbePlan tiny = probePlanFor(83'333);
    EXPECT_TRUE(tiny.periodTooShort);
    ProbeHealth health;
    health.started = health.cpuTimeKnown = true;
    health.medianLatenessNs = 1 * us;
    EXPECT_EQ(whyStallsNotJudged(tiny, 83'333, health),
              "the 83 us period is too short for the machine probe: it wakes at most every 100 us");
    // A nonsense period keeps the usual plan.
    EXPECT_EQ(probePlanFor(0).stallThresholdNs, 500 * us);
}

// The probe is held up three times for 20 ms: twice by the process's own thread spinning
// on its processor (the process used the 20 ms), once by the machine (the process used
// almost nothing). Only the machine's stall is kept; a late switch over the spin is the
// driver's, one over the machine's stall is not.
TEST(MachineStalls, AStallTheProcessFilledIsItsOwn) {
    Trace trace;
    StallLog log(500 * us, 16);
    int64_t t = 0;
    trace.wake(t, 0, 0);
    for (int k = 0; k < 50; ++k)
        trace.wake(t += ms, 10 * us, 20 * us); // ordinary
    trace.wake(t += ms, 20 * ms, 21 * ms);     // spinning driver
    const int64_t spinEnd = t + 20 * ms;
    t += 20 * ms;
    trace.wake(t += ms, 20 * ms, 200 * us); // the machine
    const int64_t machineFrom = t, machineTo = t + 20 * ms;
    t += 20 * ms;
    trace.wake(t += ms, 20 * ms, 15 * ms); // three quarters of the lateness: still its own
    trace.wake(t += ms, 20 * ms, 14 * ms); // less than that: the machine's, to be safe
    for (const ProbeWake& wake : trace.wakes)
        log.add(wake);

    EXPECT_EQ(log.ownStalls(), 2u);
    EXPECT_EQ(log.machineStalls(), 2u);
    ASSERT_EQ(log.stalls().size(), 2u);
    EXPECT_EQ(log.stalls()[0].startNs, machineFrom);
    EXPECT_EQ(log.stalls()[0].endNs, machineTo);
    EXPECT_EQ(log.longestNs(), 20 * ms);
    EXPECT_TRUE(log.cpuTimeKnown());

    // Switches every 6.25 ms; one late over the spin, one over the machine's stall.
    const double period = 6'250'000;
    const std::vector<LateInterval> late = {{spinEnd - 25 * ms, spinEnd + 1 * ms},
                                            {machineFrom - 5 * ms, machineTo + 1 * ms}};
    EXPECT_EQ(lateIntervalsInStalls({late[0]}, log.stalls(), period), 0u);
    EXPECT_EQ(lateIntervalsInStalls({late[1]}, log.stalls(), period), 1u);
}

// Where the system does not count processor time (Wine counts it in 10 ms ticks), no
// stall can be said to be the process's own: every one counts as the machine's, so late
// switches in it are not judged either way, and the rest of the run still is.
TEST(MachineStalls, WithoutProcessorTimeEveryStallIsTheMachines) {
    StallLog log(500 * us, 16);
    log.add({0, 0, -1, -1});
    log.add({1 * ms, 21 * ms, -1, -1});
    EXPECT_FALSE(log.cpuTimeKnown());
    EXPECT_EQ(log.ownStalls(), 0u);
    EXPECT_EQ(log.machineStalls(), 1u);

    ProbeHealth health;
    health.started = true;
    health.medianLatenessNs = 20 * us;
    const ProbePlan plan = probePlanFor(6'250'000);
    EXPECT_EQ(whyStallsNotJudged(plan, 6'250'000, health), "");
}

// The probe judges only when its ordinary wake-ups are late by at most half the stalls
// that matter at the period, its threads ran and every stall was kept.
TEST(MachineStalls, ItSaysWhenItCannotResolveThePeriod) {
    ProbeHealth health;
    health.started = health.cpuTimeKnown = true;
    const ProbePlan usual = probePlanFor(6'250'000);
    const ProbePlan small = probePlanFor(1'000'000); // 48 samples at 48 kHz: stalls of 250 µs

    health.medianLatenessNs = 130 * us; // a loaded machine's ordinary wake-up
    EXPECT_EQ(whyStallsNotJudged(usual, 6'250'000, health), "");
    EXPECT_EQ(whyStallsNotJudged(small, 1'000'000, health),
              "the machine probe woke 130 us late at the median: too coarse for stalls of 250 us at a 1000 "
              "us period");
    health.medianLatenessNs = 250 * us;
    EXPECT_EQ(whyStallsNotJudged(usual, 6'250'000, health), "");
    health.medianLatenessNs = 251 * us;
    EXPECT_NE(whyStallsNotJudged(usual, 6'250'000, health), "");
    health.medianLatenessNs = -1;
    EXPECT_NE(whyStallsNotJudged(usual, 6'250'000, health), "");

    health.medianLatenessNs = 20 * us;
    health.started = false;
    EXPECT_NE(whyStallsNotJudged(usual, 6'250'000, health), "");
    health.started = true;
    health.stallsNotKept = 3;
    health.storeCapacity = 131072;
    health.storeFullAtSeconds = 812.25;
    EXPECT_EQ(whyStallsNotJudged(usual, 6'250'000, health),
              "the machine probe's room for 131072 stalls was full at 812.2 s");
}

// Room for two: the third stall is counted, not kept, and its time noted.
TEST(MachineStalls, StallsPastTheRoomAreCounted) {
    Trace trace;
    StallLog log(500 * us, 2);
    trace.wake(0, 0, 0);
    for (int k = 1; k <= 3; ++k)
        trace.wake(k * 10 * ms, 1 * ms, 0);
    for (const ProbeWake& wake : trace.wakes)
        log.add(wake);
    EXPECT_EQ(log.stalls().size(), 2u);
    EXPECT_EQ(log.machineStalls(), 3u);
    EXPECT_EQ(log.notKept(), 1u);
    EXPECT_EQ(log.firstNotKeptNs(), 31 * ms);
}

// A late interval is the machine's when the stalls cover at least half of its lateness
// (the time beyond one period), however many stalls that takes.
TEST(MachineStalls, LateIntervalsNeedHalfTheirLatenessInStalls) {
    const double period = 1 * ms;
    const LateInterval late{0, 3 * ms}; // late by 2 ms
    EXPECT_EQ(lateIntervalsInStalls({late}, {{0, 500 * us}, {2 * ms, 2'500 * us}}, period), 1u);
    EXPECT_EQ(lateIntervalsInStalls({late}, {{0, 500 * us}, {2 * ms, 2'499 * us}}, period), 0u);
    EXPECT_EQ(lateIntervalsInStalls({late}, {{-5 * ms, 500 * us}, {2'500 * us, 9 * ms}}, period), 1u);
    EXPECT_EQ(lateIntervalsInStalls({late}, {{3 * ms, 9 * ms}}, period), 0u);
}
