// What N starts add up to, from outcomes made up here: the round trips grouped where
// they agree and told apart where a path moved, the spread in buffers or samples, each
// kind of failure with its rate whatever counts the starts' reasons carry, and the
// verdict on them all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/startsSummary.h"

using namespace measure;

namespace {

StartOutcome passing(int32_t start, std::optional<double> roundTrip = std::nullopt) {
    StartOutcome outcome;
    outcome.start = start;
    outcome.ran = true;
    outcome.firstCallbackMs = 6.3;
    outcome.roundTrip = roundTrip;
    return outcome;
}

StartOutcome failing(int32_t start, std::vector<std::string> reasons) {
    StartOutcome outcome = passing(start);
    outcome.verdict = Verdict{VerdictWord::fail, std::move(reasons)};
    return outcome;
}

} // namespace

TEST(StartsSummary, OneRoundTripOverEveryStartPasses) {
    // A tenth of a sample of reading noise is one round trip.
    const StartsSummary summary =
        summariseStarts({passing(1, 696.0), passing(2, 696.1), passing(3, 695.9), passing(4, 696.0)});
    ASSERT_EQ(summary.groups.size(), 1u);
    EXPECT_EQ(summary.groups[0].starts, (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_TRUE(summary.verdict.passed());
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(roundTripSpreadText(summary, 300), "696.0 in 4 of 4 starts");
}

TEST(StartsSummary, ARoundTripThatMovesFailsWithTheStartsAndTheDifferenceInBuffersOrSamples) {
    std::vector<StartOutcome> starts;
    for (int32_t start = 1; start <= 50; ++start)
        starts.push_back(passing(start, start % 25 == 0 ? 952.0 : 696.0));
    StartsSummary summary = summariseStarts(starts);
    EXPECT_EQ(summary.verdict.word, VerdictWord::fail);
    EXPECT_EQ(roundTripSpreadText(summary, 256), "696.0 in 48 of 50 starts, 952.0 in 2: one buffer more");
    ASSERT_EQ(summary.verdict.reasons.size(), 1u);
    EXPECT_EQ(summary.verdict.reasons[0].substr(0, 60),
              "the round trip changed between starts: 696.0 at starts 1, 2,");
    EXPECT_NE(summary.verdict.reasons[0].find("952.0 at starts 25, 50"), std::string::npos);

    // The most common one leads even when it came later; two buffers less; not whole
    // buffers: samples. Half a sample apart is a path that moved.
    summary = summariseStarts(
        {passing(1, 1000.0), passing(2, 488.0), passing(3, 488.0), passing(4, 600.5), passing(5, 488.5)});
    EXPECT_EQ(roundTripSpreadText(summary, 256),
              "488.0 in 2 of 5 starts, 1000.0 in 1: 2 buffers more, 600.5 in 1: 112.5 samples more, "
              "488.5 in 1: 0.5 samples more");
    summary = summariseStarts({passing(1, 696.0), passing(2, 440.0), passing(3, 696.0)});
    EXPECT_EQ(roundTripSpreadText(summary, 256), "696.0 in 2 of 3 starts, 440.0 in 1: one buffer less");
    // Without a buffer size the difference is in samples.
    EXPECT_EQ(roundTripSpreadText(summary, 0), "696.0 in 2 of 3 starts, 440.0 in 1: 256.0 samples less");
}

TEST(StartsSummary, PreciseRoundTripsAreToldApartByTheirIntervals) {
    auto precise = [](int32_t start, double roundTrip, double halfWidth) {
        StartOutcome outcome = passing(start, roundTrip);
        outcome.roundTripHalfWidth = halfWidth;
        return outcome;
    };
    // A path that alternates by 0.3 samples, read to a hundredth: two round trips.
    StartsSummary summary = summariseStarts(
        {precise(1, 96.0, 0.01), precise(2, 96.3, 0.01), precise(3, 96.0, 0.01), precise(4, 96.3, 0.01)});
    EXPECT_EQ(summary.verdict.word, VerdictWord::fail);
    EXPECT_EQ(roundTripSpreadText(summary, 256), "96.0 in 2 of 4 starts, 96.3 in 2: 0.3 samples more");
    // Apart by less than the intervals allow, or by less than a tenth of a sample
    // however sure each reading is: one round trip.
    summary = summariseStarts(
        {precise(1, 96.0, 0.2), precise(2, 96.3, 0.15), precise(3, 96.05, 0.001), precise(4, 95.93, 0.001)});
    EXPECT_EQ(summary.groups.size(), 1u);
    EXPECT_TRUE(summary.verdict.passed());
}

TEST(StartsSummary, EachFailureKindHasItsRateWhateverTheCountsItsReasonsCarry) {
    StartOutcome late = passing(3);
    late.firstCallbackMs = 1500.0;
    late.verdict = Verdict{VerdictWord::fail, {"240 switches missing (expected 320, got 80)"}};
    StartOutcome silent = passing(6);
    silent.firstCallbackMs.reset();
    silent.verdict = Verdict{VerdictWord::fail, {"no buffer switch came"}};
    const StartsSummary summary = summariseStarts(
        {passing(1), passing(2), late, failing(4, {"1 switch missing (expected 320, got 319)", "3 gaps"}),
         failing(5, {"1 gap"}), silent, passing(7)});
    ASSERT_EQ(summary.failures.size(), 3u);
    EXPECT_EQ(failureRateText(summary.failures[0], summary.starts), "no first callback within 1 s: 2 of 7");
    EXPECT_EQ(summary.failures[0].starts, (std::vector<int32_t>{3, 6}));
    // "240 switches missing" and "1 switch missing" are one kind; so are "3 gaps" and "1 gap".
    EXPECT_EQ(failureRateText(summary.failures[1], summary.starts), "switches missing: 2 of 7");
    EXPECT_EQ(failureRateText(summary.failures[2], summary.starts), "gaps: 2 of 7");
    EXPECT_EQ(summary.verdict.word, VerdictWord::fail);
    EXPECT_EQ(summary.verdict.reasons[0], "no first callback within 1 s: 2 of 7 (starts 3, 6)");
    EXPECT_EQ(summary.verdict.reasons[2], "gaps: 2 of 7 (starts 4, 5)");
    // A first switch 1 s after start is still within the limit.
    StartOutcome edge = passing(1);
    edge.firstCallbackMs = firstCallbackLimitMs;
    EXPECT_TRUE(summariseStarts({edge, passing(2)}).verdict.passed());
}

TEST(StartsSummary, AMilderStartKeepsItsWordAndAStartNeverMadeHasNoFirstCallbackToMiss) {
    StartOutcome unsure = passing(2);
    unsure.verdict = Verdict{VerdictWord::inconclusive, {"the host lost 3 switch records"}};
    StartOutcome refusedStart = passing(3);
    refusedStart.ran = false;
    refusedStart.firstCallbackMs.reset();
    refusedStart.verdict = Verdict{VerdictWord::fail, {"start answered NotPresent (-1000)"}};
    StartsSummary summary = summariseStarts({passing(1), unsure});
    EXPECT_EQ(summary.verdict.word, VerdictWord::inconclusive);
    EXPECT_EQ(summary.verdict.reasons,
              (std::vector<std::string>{"the host lost 3 switch records: 1 of 2 (start 2)"}));
    // A failed start's reason that could not be judged is not judged, not failed.
    StartOutcome mixed = passing(4);
    mixed.verdict.add(VerdictWord::inconclusive, "22 late switches not judged: the probe woke late");
    mixed.verdict.add(VerdictWord::fail, "3 gaps");
    summary = summariseStarts({passing(1), mixed});
    ASSERT_EQ(summary.failures.size(), 2u);
    EXPECT_EQ(summary.failures[0].kind, "late switches not judged");
    EXPECT_EQ(summary.failures[0].word, VerdictWord::inconclusive);
    EXPECT_EQ(summary.failures[1].word, VerdictWord::fail);
    summary = summariseStarts({passing(1), unsure, refusedStart});
    EXPECT_EQ(summary.verdict.word, VerdictWord::fail);
    ASSERT_EQ(summary.failures.size(), 2u);
    // Its details left out; no first callback is missed by a start that never ran.
    EXPECT_EQ(summary.failures[1].kind, "start answered NotPresent");
    EXPECT_EQ(summary.failures[0].word, VerdictWord::inconclusive);
}

TEST(StartsSummary, ASignalThatEndedTheLastStartIsNoKindOfFailure) {
    StartOutcome cut = passing(3, 696.0);
    cut.verdict = Verdict{VerdictWord::interrupted, {"stopped by signal 2"}};
    StartsSummary summary = summariseStarts({passing(1, 696.0), passing(2, 696.0), cut});
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_TRUE(summary.verdict.passed());
    // What else that start found still counts, at the word of its own finding.
    cut.verdict.reasons.insert(cut.verdict.reasons.begin(), "3 gaps");
    cut.start = 2;
    summary = summariseStarts({passing(1, 696.0), cut});
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_EQ(summary.verdict.reasons, (std::vector<std::string>{"gaps: 1 of 2 (start 2)"}));
    EXPECT_EQ(summary.verdict.word, VerdictWord::fail);
}

TEST(StartsSummary, AStartWhoseLoopFoundNoRoundTripIsCountedApart) {
    StartOutcome lost = failing(2, {"no measurement burst came back"});
    lost.roundTripMissing = true;
    const StartsSummary summary = summariseStarts({passing(1, 696.0), lost, passing(3, 696.0)});
    EXPECT_EQ(roundTripSpreadText(summary, 300), "696.0 in 2 of 3 starts, not found in 1");
    EXPECT_EQ(summary.verdict.reasons,
              (std::vector<std::string>{"no measurement burst came back: 1 of 3 (start 2)"}));
}
