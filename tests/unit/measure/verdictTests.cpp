// The verdict on runs whose facts are known: which word each finding earns, which
// outweighs which, and the edges of what is forgiven.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "measure/verdict.h"

using namespace measure;

namespace {

// Four seconds of a healthy driver: 640 switches of 300 samples at 48 kHz.
RunFacts healthy() {
    RunFacts facts;
    facts.seconds = 4.0;
    SwitchSummary& s = facts.stats;
    s.switches = s.expectedSwitches = 640;
    s.intervalsKnown = s.hostTimeKnown = true;
    s.measuredRate = 48000.0;
    s.rateErrorPpm = 0.0;
    return facts;
}

bool hasReason(const Verdict& verdict, const std::string& reason) {
    for (const std::string& r : verdict.reasons)
        if (r == reason) return true;
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
        {"two late switches are forgiven", [](RunFacts& f) { f.stats.intervalUs.late = 2; }, VerdictWord::pass, ""},
        {"three of 640 are not", [](RunFacts& f) { f.stats.intervalUs.late = 3; }, VerdictWord::fail,
         "3 late switches"},
        {"three of 10000 are", [](RunFacts& f) {
             f.stats.intervalUs.late = 3;
             f.stats.switches = f.stats.expectedSwitches = 10000;
         },
         VerdictWord::pass, ""},
        {"late switches the machine explains", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.lateSwitchesInStalls = 7;
         },
         VerdictWord::inconclusive, "7 late switches fell in stalls of the machine"},
        {"late switches the probe could not judge", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.notJudgedWhy = "the machine probe woke 60 us late at the median";
         },
         VerdictWord::inconclusive, "7 late switches not judged: the machine probe woke 60 us late at the median"},
        {"a probe that could not judge forgives nothing else", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.stats.gaps = 1;
             f.machine.notJudgedWhy = "the machine probe never woke";
         },
         VerdictWord::fail, "1 gap"},
        {"late switches the machine explains only in part", [](RunFacts& f) {
             f.stats.intervalUs.late = 7;
             f.machine.lateSwitchesInStalls = 3;
         },
         VerdictWord::fail, "4 late switches"},
        {"a tenth of the switches", [](RunFacts& f) { f.stats.switches = 64; }, VerdictWord::fail,
         "576 switches missing (64 of 640 expected)"},
        {"two missing is forgiven", [](RunFacts& f) { f.stats.switches = 638; }, VerdictWord::pass, ""},
        {"switches the host lost were delivered", [](RunFacts& f) {
             f.stats.switches = 600;
             f.stats.hostLostRecords = 40;
         },
         VerdictWord::inconclusive, "the host lost 40 switch records"},
        {"no positions", [](RunFacts& f) {
             f.stats.positionless = 640;
             f.stats.measuredRate.reset();
             f.stats.rateErrorPpm.reset();
         },
         VerdictWord::inconclusive, "the driver gave no sample positions: continuity and rate were not checked"},
        {"too short for the rate", [](RunFacts& f) {
             f.stats.measuredRate.reset();
             f.seconds = 0.1;
         },
         VerdictWord::inconclusive, "the run was too short to judge (0.1 s)"},
        {"positions broken too often for the rate", [](RunFacts& f) {
             f.stats.measuredRate.reset();
             f.stats.gaps = 500;
             f.seconds = 2.0;
         },
         VerdictWord::fail, "the rate could not be measured: the positions broke 500 times in 2.0 s"},
        {"a gap outweighs a host loss", [](RunFacts& f) {
             f.stats.gaps = 1;
             f.host.lostInputBlocks = 5;
         },
         VerdictWord::fail, "the host lost 5 input blocks"},
        {"an output that failed", [](RunFacts& f) { f.outputFailures.push_back("the recording failed"); },
         VerdictWord::error, "the recording failed"},
        {"a driver fault outweighs an error", [](RunFacts& f) {
             f.outputFailures.push_back("the recording failed");
             f.stats.repeats = 1;
         },
         VerdictWord::fail, "1 repeated buffer"},
        {"a signal outweighs everything", [](RunFacts& f) {
             f.stats.repeats = 1;
             f.interruptSignal = 15;
         },
         VerdictWord::interrupted, "stopped by signal 15"},
        {"a round trip that cannot be told", [](RunFacts& f) {
             LatencyResult l;
             l.burstsSent = l.burstsFound = 4;
             l.lagAmbiguous = l.lagConsistent = true;
             f.latency = l;
         },
         VerdictWord::inconclusive, "the round trip could not be told apart"},
        {"a burst that never came back", [](RunFacts& f) {
             LatencyResult l;
             l.burstsSent = 4;
             f.latency = l;
         },
         VerdictWord::fail, "no measurement burst came back"},
    };
    for (const Case& c : cases) {
        RunFacts facts = healthy();
        c.change(facts);
        const Verdict verdict = judgeRun(facts);
        EXPECT_EQ(verdict.word, c.word) << c.what;
        if (std::string(c.reason).empty())
            EXPECT_TRUE(verdict.reasons.empty()) << c.what;
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
