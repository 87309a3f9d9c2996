// The verdict on runs whose facts are known: which word each finding earns, which
// outweighs which, and the edges of what is forgiven (only what the measurement cannot
// tell: switches the machine held back, a switch cut off at each end, a clock that could
// not be measured).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "measure/verdict.h"

using namespace measure;

namespace {

// Four seconds of a healthy driver: 640 switches of 300 samples at 48 kHz, the machine
// probe resolving stalls.
RunFacts healthy() {
    RunFacts facts;
    facts.seconds = 4.0;
    SwitchSummary& s = facts.stats;
    s.switches = s.expectedSwitches = 640;
    s.expectedByDriverClock = 640;
    s.intervalsKnown = s.hostTimeKnown = true;
    s.measuredRate = 48000.0;
    s.rateErrorPpm = 0.0;
    facts.machine.probed = true;
    return facts;
}

bool hasReason(const Verdict& verdict, const std::string& reason) {
    for (const std::string& r : verdict.reasons)
        if (r == reason) return true;
    return false;
}

bool hasMissing(const Verdict& verdict) {
    for (const std::string& r : verdict.reasons)
        if (r.find("missing") != std::string::npos) return true;
    return false;
}

} // namespace

TEST(Verdict, EachFindingEarnsItsWordAndReason) {
    struct Case {
        const char* what;
        std::function<void(RunFacts&)> change;
        VerdictWord word;
        const char* reason; // one of the reasons; "" for none
    };
    const Case cases[] = {
        {"healthy", [](RunFacts&) {}, VerdictWord::pass, ""},
        {"slow beyond the limit", [](RunFacts& f) { f.stats.rateErrorPpm = -1500; }, VerdictWord::fail,
         "rate off by -1500 ppm"},
        {"fast beyond the limit", [](RunFacts& f) { f.stats.rateErrorPpm = 1001; }, VerdictWord::fail,
         "rate off by 1001 ppm"},
        {"within the rate limit", [](RunFacts& f) { f.stats.rateErrorPpm = -999; }, VerdictWord::pass, ""},
        {"a wrong clock fails though the probe could not judge",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = -1500;
             f.machine.probed = false;
         },
         VerdictWord::fail, "rate off by -1500 ppm"},
        {"a rate pulled off by pauses the probe could not judge",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = -19731;
             f.stats.intervalUs.late = 65;
             f.machine.probed = false;
         },
         VerdictWord::inconclusive,
         "rate off by -19731 ppm not judged: the stream paused while the machine's stalls could not be resolved"},
        {"a fast clock fails whatever the pauses",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = 1503;
             f.stats.intervalUs.late = 2;
             f.machine.lateSwitchesInStalls = 2;
             f.machine.longestStallMs = 40;
         },
         VerdictWord::fail, "rate off by 1503 ppm"},
        {"a slow rate the machine's stalls explain",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = -4000; // 16 ms short in 4 s
             f.stats.intervalUs.late = 2;
             f.machine.lateSwitchesInStalls = 2;
             f.machine.longestStallMs = 10;
         },
         VerdictWord::inconclusive, "rate off by -4000 ppm not judged: the stream paused in stalls of the machine"},
        {"a slow rate longer stalls would be needed for",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = -4000;
             f.stats.intervalUs.late = 2;
             f.machine.lateSwitchesInStalls = 2;
             f.machine.longestStallMs = 7;
         },
         VerdictWord::fail, "rate off by -4000 ppm"},
        {"a slow rate with a pause of the driver's own",
         [](RunFacts& f) {
             f.stats.rateErrorPpm = -4000;
             f.stats.intervalUs.late = 2;
             f.machine.lateSwitchesInStalls = 1;
             f.machine.longestStallMs = 40;
         },
         VerdictWord::fail, "rate off by -4000 ppm"},
        {"one late switch", [](RunFacts& f) { f.stats.intervalUs.late = 1; }, VerdictWord::fail,
         "1 late switch"},
        {"five of an hour's 2.7 million",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 5;
             f.stats.switches = f.stats.expectedSwitches = 2'700'000;
             f.stats.expectedByDriverClock = 2'700'000;
         },
         VerdictWord::fail, "5 late switches"},
        {"two the machine explains are forgiven",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 2;
             f.machine.lateSwitchesInStalls = 2;
         },
         VerdictWord::pass, ""},
        {"late switches the machine explains",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.lateSwitchesInStalls = 7;
         },
         VerdictWord::inconclusive, "7 late switches fell in stalls of the machine"},
        {"three of 10000 the machine explains are forgiven",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 3;
             f.machine.lateSwitchesInStalls = 3;
             f.stats.switches = f.stats.expectedSwitches = 10000;
             f.stats.expectedByDriverClock = 10000;
         },
         VerdictWord::pass, ""},
        {"late switches the probe could not judge", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.probed = false;
             f.machine.notJudgedWhy = "the machine probe woke 60 us late at the median";
         },
         VerdictWord::inconclusive, "7 late switches not judged: the machine probe woke 60 us late at the median"},
        {"a probe that could not judge forgives nothing else", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.stats.gaps = 1;
             f.machine.probed = false;
             f.machine.notJudgedWhy = "the machine probe never woke";
         },
         VerdictWord::fail, "1 gap"},
        {"late switches the machine explains only in part",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.lateSwitchesInStalls = 3;
         },
         VerdictWord::fail, "4 late switches"},
        {"a probe that could not resolve the stalls",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 1;
             f.machine = MachineFacts{};
         },
         VerdictWord::inconclusive, "1 late switch not judged: the machine's stalls could not be resolved"},
        {"a pause that lost time",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 1;
             f.stats.lostTimePauses = 1;
             f.stats.lostTimeMs = 100.04;
             f.stats.lostTime = {{1.0, 100.04}};
             f.stats.lostTimeBuffers = 16;
             f.stats.switches = 624;
         },
         VerdictWord::fail, "100.0 ms lost at 1.00 s without a position gap"},
        {"pauses that lost time, one the machine explains",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 3;
             f.stats.lostTimePauses = 3;
             f.stats.lostTimeMs = 30;
             f.stats.lostTime = {{0.5, 10}, {1.5, 10}, {2.5, 10}};
             f.machine.lateSwitchesInStalls = 1;
             f.machine.lostTimeInStalls = 1;
         },
         VerdictWord::fail, "30.0 ms lost in 3 pauses without a position gap, the first at 0.50 s"},
        {"their late switches are late switches",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 3;
             f.stats.lostTimePauses = 3;
             f.machine.lateSwitchesInStalls = 1;
             f.machine.lostTimeInStalls = 1;
         },
         VerdictWord::fail, "2 late switches"},
        {"pauses the probe could not check",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 1;
             f.stats.lostTimePauses = 1;
             f.stats.lostTimeMs = 20;
             f.stats.lostTime = {{2.0, 20}};
             f.machine = MachineFacts{};
         },
         VerdictWord::inconclusive, "20.0 ms lost at 2.00 s without a position gap"},
        {"a pause the machine explains",
         [](RunFacts& f) {
             f.stats.intervalUs.late = 1;
             f.stats.lostTimePauses = 1;
             f.stats.lostTimeMs = 100;
             f.stats.lostTimeBuffers = 16;
             f.stats.switches = 624;
             f.machine.lateSwitchesInStalls = 1;
             f.machine.lostTimeInStalls = 1;
         },
         VerdictWord::pass, ""},
        {"a tenth of the switches", [](RunFacts& f) { f.stats.switches = 64; }, VerdictWord::fail,
         "576 switches missing (64 of 640 expected)"},
        {"two missing cannot be told from none", [](RunFacts& f) { f.stats.switches = 638; },
         VerdictWord::pass, ""},
        {"three missing can", [](RunFacts& f) { f.stats.switches = 637; }, VerdictWord::fail,
         "3 switches missing (637 of 640 expected)"},
        {"three of a million are missing too",
         [](RunFacts& f) {
             f.stats.switches = 999'997;
             f.stats.expectedSwitches = 1'000'000;
             f.stats.expectedByDriverClock = 1'000'000;
         },
         VerdictWord::fail, "3 switches missing (999997 of 1000000 expected)"},
        {"a clock within the rate limit is no switch missing",
         [](RunFacts& f) {
             f.stats.switches = 639'500;
             f.stats.expectedSwitches = 640'000;
             f.stats.expectedByDriverClock = 639'500;
             f.stats.rateErrorPpm = -781;
         },
         VerdictWord::pass, ""},
        {"without a measured rate the clock may be that slow",
         [](RunFacts& f) {
             f.stats.switches = 99'898;
             f.stats.expectedSwitches = 100'000;
             f.stats.expectedByDriverClock.reset();
             f.stats.measuredRate.reset();
             f.stats.rateErrorPpm.reset();
             f.stats.positionless = 99'898;
         },
         VerdictWord::inconclusive, ""},
        {"but not slower",
         [](RunFacts& f) {
             f.stats.switches = 99'897;
             f.stats.expectedSwitches = 100'000;
             f.stats.expectedByDriverClock.reset();
             f.stats.measuredRate.reset();
             f.stats.rateErrorPpm.reset();
             f.stats.positionless = 99'897;
         },
         VerdictWord::fail, "103 switches missing (99897 of 100000 expected)"},
        {"a gap's switches are the gap",
         [](RunFacts& f) {
             f.stats.switches = 630;
             f.stats.gaps = 1;
             f.stats.gapBuffers = 10;
         },
         VerdictWord::fail, "1 gap"},
        {"switches missing at the ends that fell in stalls",
         [](RunFacts& f) {
             f.stats.switches = 630;
             f.machine.missingSwitchesInStalls = 10;
         },
         VerdictWord::pass, ""},
        {"and those beside them",
         [](RunFacts& f) {
             f.stats.switches = 600;
             f.machine.missingSwitchesInStalls = 10;
         },
         VerdictWord::fail, "30 switches missing (600 of 640 expected)"},
        {"a slow start", [](RunFacts& f) { f.calls.start = 0.4; }, VerdictWord::pass, ""},
        {"a start that freezes a host", [](RunFacts& f) { f.calls.start = 1.25; }, VerdictWord::fail,
         "the driver's start took 1.2 s"},
        {"a stop that freezes a host", [](RunFacts& f) { f.calls.stop = 15.0; }, VerdictWord::fail,
         "the driver's stop took 15.0 s"},
        {"a disposeBuffers that freezes a host", [](RunFacts& f) { f.calls.disposeBuffers = 1.01; },
         VerdictWord::fail, "the driver's disposeBuffers took 1.0 s"},
        {"switches the host lost were delivered",
         [](RunFacts& f) {
             f.stats.switches = 600;
             f.stats.hostLostRecords = 40;
         },
         VerdictWord::inconclusive, "the host lost 40 switch records"},
        {"no positions",
         [](RunFacts& f) {
             f.stats.positionless = 640;
             f.stats.measuredRate.reset();
             f.stats.rateErrorPpm.reset();
         },
         VerdictWord::inconclusive,
         "the driver gave no sample positions: continuity and rate were not checked"},
        {"too short for the rate",
         [](RunFacts& f) {
             f.stats.measuredRate.reset();
             f.seconds = 0.1;
         },
         VerdictWord::inconclusive, "the run was too short to judge (0.1 s)"},
        {"positions broken too often for the rate",
         [](RunFacts& f) {
             f.stats.measuredRate.reset();
             f.stats.gaps = 500;
             f.seconds = 2.0;
         },
         VerdictWord::fail, "the rate could not be measured: the positions broke 500 times in 2.0 s"},
        {"a gap outweighs a host loss",
         [](RunFacts& f) {
             f.stats.gaps = 1;
             f.host.lostInputBlocks = 5;
         },
         VerdictWord::fail, "the host lost 5 input blocks"},
        {"an output that failed", [](RunFacts& f) { f.outputFailures.push_back("the recording failed"); },
         VerdictWord::error, "the recording failed"},
        {"a driver fault outweighs an error",
         [](RunFacts& f) {
             f.outputFailures.push_back("the recording failed");
             f.stats.repeats = 1;
         },
         VerdictWord::fail, "1 repeated buffer"},
        {"a signal outweighs everything",
         [](RunFacts& f) {
             f.stats.repeats = 1;
             f.interruptSignal = 15;
         },
         VerdictWord::interrupted, "stopped by signal 15"},
        {"a round trip that cannot be told",
         [](RunFacts& f) {
             LatencyResult l;
             l.burstsSent = l.burstsFound = 4;
             l.lagAmbiguous = l.lagConsistent = true;
             f.latency = l;
         },
         VerdictWord::inconclusive, "the round trip could not be told apart"},
        {"a burst that never came back",
         [](RunFacts& f) {
             LatencyResult l;
             l.burstsSent = 4;
             f.latency = l;
         },
         VerdictWord::fail, "no measurement burst came back"},
        {"a burst lost on the way",
         [](RunFacts& f) {
             LatencyResult l;
             l.burstsSent = 5;
             l.burstsFound = 4;
             l.burstsMissing = 1;
             l.lagConsistent = true;
             f.latency = l;
         },
         VerdictWord::fail, "1 of 5 bursts did not come back"},
    };
    for (const Case& c : cases) {
        RunFacts facts = healthy();
        c.change(facts);
        const Verdict verdict = judgeRun(facts);
        EXPECT_EQ(verdict.word, c.word) << c.what;
        if (std::string(c.reason).empty() && c.word == VerdictWord::pass)
            EXPECT_TRUE(verdict.reasons.empty()) << c.what << ": " << testing::PrintToString(verdict.reasons);
        else if (std::string(c.reason).empty())
            EXPECT_FALSE(hasMissing(verdict)) << c.what << ": " << testing::PrintToString(verdict.reasons);
        else
            EXPECT_TRUE(hasReason(verdict, c.reason)) << c.what << ": " << testing::PrintToString(verdict.reasons);
    }
}

TEST(Verdict, ExitStatusesFollowTheWord) {
    EXPECT_EQ(exitStatusOf(VerdictWord::pass), 0);
    EXPECT_EQ(exitStatusOf(VerdictWord::fail), 1);
    EXPECT_EQ(exitStatusOf(VerdictWord::inconclusive), 1);
    EXPECT_EQ(exitStatusOf(VerdictWord::error), 2);
    EXPECT_EQ(exitStatusOf(VerdictWord::interrupted, 15), 143);
    EXPECT_EQ(exitStatusOf(VerdictWord::interrupted, 2), 130);
}
