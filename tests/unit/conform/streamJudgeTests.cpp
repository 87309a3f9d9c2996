// The judges of the running stream against what a driver might have shown: its pace
// against its rate, a start and stop that take their time or leave a callback inside,
// the time records' flags and the reset requests a check saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "conform/judge/messages.h"
#include "conform/judge/stream.h"
#include "tests/unit/conform/switchNotes.h"

using namespace conform;
using namespace conform::testing;

namespace {

constexpr int32_t size = 256;
constexpr double rate = 48000;
constexpr double period = size / rate;

SwitchSequenceObservation sequenceOf(std::vector<SwitchNote> notes) {
    SwitchSequenceObservation seen;
    seen.run = runOf(std::move(notes), size);
    seen.rate = rate;
    return seen;
}

// Two seconds of switches from a clock `ppm` off the reported rate.
SwitchSequenceObservation paced(double ppm) {
    return sequenceOf(steadySwitches(376, size, period / (1 + ppm * 1e-6)));
}

} // namespace

TEST(ConformSwitchSequence, TheRateIsJudgedAsAMeasuredRunJudgesIt) {
    EXPECT_EQ(judgeSwitchSequence(paced(0)).result, Result::pass);
    EXPECT_EQ(judgeSwitchSequence(paced(500)).result, Result::pass);
    EXPECT_EQ(judgeSwitchSequence(paced(-500)).result, Result::pass);
    // A clock 2328 ppm fast (what a measured run fails) and one as slow.
    EXPECT_EQ(judgeSwitchSequence(paced(2328)).result, Result::fail);
    EXPECT_EQ(judgeSwitchSequence(paced(-2328)).result, Result::fail);
    EXPECT_EQ(judgeSwitchSequence(paced(20000)).result, Result::fail);
    const std::optional<StreamRate> fitted = streamRate(paced(2328).run.notes, size, rate);
    ASSERT_TRUE(fitted);
    EXPECT_NEAR(fitted->errorPpm, 2328, 5);
}

TEST(ConformSwitchSequence, ARateOffOnceIsMeasuredAgain) {
    // The machine held the first stretch up: the second, on the driver's clock, decides.
    SwitchSequenceObservation seen = paced(-6000);
    seen.again = paced(0).run;
    EXPECT_EQ(judgeSwitchSequence(seen).result, Result::pass);
    // A clock that is off is off both times.
    seen = paced(2328);
    seen.again = paced(2328).run;
    EXPECT_EQ(judgeSwitchSequence(seen).result, Result::fail);
    // A second stretch too short to fit decides nothing.
    seen.again = runOf(steadySwitches(40, size, period), size);
    EXPECT_EQ(judgeSwitchSequence(seen).result, Result::fail);
}

TEST(ConformSwitchSequence, TheDriversSystemTimeKeepsTheHostsPace) {
    // Stamps in microseconds where nanoseconds belong, or a clock that stands still.
    for (const int64_t divisor : {int64_t{1000}, int64_t{0}}) {
        std::vector<SwitchNote> notes = steadySwitches(376, size, period);
        for (SwitchNote& note : notes)
            note.systemTime = divisor ? note.systemTime / divisor : 5'000'000'000;
        const Outcome outcome = judgeSwitchSequence(sequenceOf(notes));
        EXPECT_EQ(outcome.result, Result::fail);
        EXPECT_NE(outcome.detail.find("the driver's system time advanced"), std::string::npos)
            << outcome.detail;
    }
    // A millisecond clock, and switches the machine holds up by up to 30 ms, keep it.
    std::vector<SwitchNote> notes = steadySwitches(376, size, period);
    for (size_t i = 0; i < notes.size(); ++i) {
        notes[i].systemTime = notes[i].systemTime / 1'000'000 * 1'000'000;
        notes[i].hostBegin += static_cast<int64_t>((i * 7919) % 30) * 1'000'000;
        notes[i].hostEnd = notes[i].hostBegin + 20'000;
    }
    const SwitchFindings found = examineSwitches(notes, size);
    ASSERT_TRUE(found.systemTimeAdvance);
    EXPECT_NEAR(static_cast<double>(found.systemTimeAdvance->first) / found.systemTimeAdvance->second, 1.0,
                0.01);
}

TEST(ConformSwitchSequence, ALoadedMachineDoesNotBendTheRate) {
    // A driver on time whose switches the machine delays: a third of them up to 8 ms
    // late, and 60 ms with none at all, after which the due ones follow at once.
    std::vector<SwitchNote> notes = steadySwitches(376, size, period);
    uint32_t random = 12345;
    for (size_t i = 0; i < notes.size(); ++i) {
        random = random * 1103515245 + 12345;
        const int64_t due = notes[i].hostBegin;
        if ((random >> 16) % 3 == 0) notes[i].hostBegin += static_cast<int64_t>((random >> 8) % 8'000'000);
        if (due >= 2'200'000'000 && due < 2'260'000'000) notes[i].hostBegin = 2'260'000'000;
        // One callback after the other, as a driver's thread delivers them.
        if (i > 0) notes[i].hostBegin = std::max(notes[i].hostBegin, notes[i - 1].hostEnd + 10'000);
        notes[i].hostEnd = notes[i].hostBegin + 20'000;
    }
    const Outcome outcome = judgeSwitchSequence(sequenceOf(notes));
    EXPECT_EQ(outcome.result, Result::pass) << outcome.detail;
}

TEST(ConformSwitchSequence, TheLongestStreamAfterAResetIsFitted) {
    std::vector<SwitchNote> notes = steadySwitches(60, size, period);
    std::vector<SwitchNote> after = steadySwitches(300, size, period * (1 - 2e-3));
    for (SwitchNote& note : after) {
        note.set = 1;
        note.hostBegin += 500'000'000;
        note.hostEnd += 500'000'000;
    }
    notes.insert(notes.end(), after.begin(), after.end());
    EXPECT_EQ(judgeSwitchSequence(sequenceOf(notes)).result, Result::fail);
    // Too short a stream to fit, with nothing else wrong, says so.
    EXPECT_EQ(judgeSwitchSequence(sequenceOf(steadySwitches(60, size, period))).result, Result::fail);
}

TEST(ConformStartStop, TheFirstSwitchCountsFromStartsReturn) {
    StartStopCycle cycle;
    cycle.startCalledAt = 1.0;
    cycle.startReturnedAt = 1.001;
    cycle.firstSwitchAt = 1.004;
    cycle.switchesRunning = 5;
    cycle.stopReturnedAt = 1.204;
    StartStopObservation seen{ASE_OK, 0, {cycle, cycle, cycle}};
    EXPECT_EQ(judgeStartStop(seen).result, Result::pass);
    // A switch before start returned is allowed.
    seen.cycles[0].firstSwitchAt = 1.0005;
    EXPECT_EQ(judgeStartStop(seen).result, Result::pass);
    // The first switch 1.5 s after start returned: none within a second.
    seen.cycles[1].firstSwitchAt = 2.501;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[1].firstSwitchAt = 1.9;
    EXPECT_EQ(judgeStartStop(seen).result, Result::pass);
    seen.cycles[1].firstSwitchAt.reset();
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);

    // A start of 2.5 s followed at once by its switches is slow, not silent.
    StartStopCycle slow = cycle;
    slow.startReturnedAt = 3.5;
    slow.firstSwitchAt = 3.505;
    slow.stopReturnedAt = 3.7;
    StartStopObservation slowStart{ASE_OK, 0, {slow, slow, slow}};
    EXPECT_EQ(judgeStartStop(slowStart).result, Result::warn);
    for (StartStopCycle& quicker : slowStart.cycles) {
        quicker.startReturnedAt = 1.5; // half a second: no finding
        quicker.firstSwitchAt = 1.505;
    }
    EXPECT_EQ(judgeStartStop(slowStart).result, Result::pass);
    slowStart.cycles[2].stopTook = 2.5;
    EXPECT_EQ(judgeStartStop(slowStart).result, Result::warn);
}

// A restart that flushes one switch from inside start and then stays silent: its first
// switch came before start returned, and the stream never ran.
TEST(ConformStartStop, TheStreamMustRunAfterStartReturned) {
    StartStopCycle cycle;
    cycle.startReturnedAt = 1.0;
    cycle.firstSwitchAt = 1.004;
    cycle.switchesRunning = 5;
    cycle.ranFor = 1.03;
    StartStopObservation seen{ASE_OK, 0, {cycle, cycle, cycle}};
    EXPECT_EQ(judgeStartStop(seen).result, Result::pass);
    seen.cycles[1].firstSwitchAt = 0.9995;
    seen.cycles[1].switchesRunning = 0;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[1].switchesRunning = startStopSwitches - 1;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[1].switchesRunning = startStopSwitches;
    EXPECT_EQ(judgeStartStop(seen).result, Result::pass);
}

TEST(ConformStartStop, StopMustNotReturnWhileACallbackIsInside) {
    StartStopCycle cycle;
    cycle.startReturnedAt = 1.0;
    cycle.firstSwitchAt = 1.004;
    cycle.switchesRunning = 5;
    cycle.stopReturnedAt = 1.204;
    StartStopObservation seen{ASE_OK, 0, {cycle, cycle, cycle}};
    seen.cycles[2].insideAtStop = 1;
    seen.cycles[2].insideFor = 0.05;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[2].insideAtStop = 0;
    seen.cycles[0].switchesAfterStop = 3;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[0].switchesAfterStop = 0;
    seen.cycles[0].positionLater = 512;
    EXPECT_EQ(judgeStartStop(seen).result, Result::fail);
    seen.cycles[0].positionLater = 0;
    seen.switchesDuringCreate = 2;
    EXPECT_EQ(judgeStartStop(seen).result, Result::warn);
}

TEST(ConformTimeInfo, TheRateIsJudgedWhereItIsFlaggedValid) {
    TimeInfoObservation seen;
    seen.rate = rate;
    seen.canTimeInfo = ASE_InvalidParameter;
    seen.run = runOf(steadySwitches(5, size, period), size);
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::pass);
    // Time info offered and taken, and kAsioCanTimeInfo answering 0 or success: both yes.
    for (SwitchNote& note : seen.run.notes) {
        note.timeInfo = true;
        note.recordFlags = kSystemTimeValid | kSamplePositionValid;
        note.recordRate = 0;
    }
    seen.canTimeInfo = ASE_OK;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::pass);
    seen.canTimeInfo = ASE_SUCCESS;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::pass); // rate 0, not flagged valid
    for (SwitchNote& note : seen.run.notes)
        note.recordFlags |= kSampleRateValid;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::fail); // rate 0, flagged valid
    for (SwitchNote& note : seen.run.notes)
        note.recordRate = rate;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::pass);
    seen.run.notes[3].recordFlags = kSamplePositionValid;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::fail);
    seen.run.notes[3].recordFlags = kSamplePositionValid | kSystemTimeValid;
    seen.canTimeInfo = ASE_NotPresent;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::fail); // uses time info, says it cannot
    for (SwitchNote& note : seen.run.notes)
        note.timeInfo = false;
    seen.canTimeInfo = ASE_OK;
    EXPECT_EQ(judgeTimeInfo(seen).result, Result::fail); // says it can, never uses it
}

TEST(ConformResets, ARequestWithoutACauseWarnsAndAStormFails) {
    const Outcome clean = passed("ran");
    EXPECT_EQ(judgeResetRequests(clean, 0).result, Result::pass);
    EXPECT_EQ(judgeResetRequests(clean, 1).result, Result::warn);
    const Outcome storm = judgeResetRequests(clean, 3);
    EXPECT_EQ(storm.result, Result::fail);
    EXPECT_EQ(storm.faults.size(), 1u);
    // A check failed already keeps its faults and adds the storm's.
    const Outcome both = judgeResetRequests(failed("switch 4 came with half 2"), 2);
    EXPECT_EQ(both.result, Result::fail);
    EXPECT_EQ(both.faults.size(), 2u);
    EXPECT_EQ(judgeResetRequests(failed("x"), 1).result, Result::fail);
    EXPECT_EQ(judgeResetRequests(skipped("skipped with /skipcp"), 2).result, Result::skip);
}

TEST(ConformFindings, EveryFaultIsListedUpToABound) {
    Findings findings;
    for (int i = 0; i < 60; ++i)
        findings.fault("fault " + std::to_string(i));
    const Outcome outcome = findings.outcome("");
    EXPECT_EQ(outcome.result, Result::fail);
    EXPECT_EQ(outcome.detail, "fault 0; 59 more faults");
    ASSERT_EQ(outcome.faults.size(), listedFaults);
    EXPECT_EQ(outcome.faults.back(), "fault 49");
    EXPECT_EQ(outcome.faultsLeftOut, 10u);
    const std::vector<std::string> lines = faultLines(outcome);
    ASSERT_EQ(lines.size(), 51u);
    EXPECT_EQ(lines.back(), "and 10 more faults");

    EXPECT_EQ(faultLines(withFault(passed("fine"), "crashed in release (signal 11)")),
              std::vector<std::string>{"crashed in release (signal 11)"});
    const Outcome more = withFault(failed("a"), "b");
    EXPECT_EQ(more.detail, "a; b");
    EXPECT_EQ(more.faults, (std::vector<std::string>{"a", "b"}));
}
