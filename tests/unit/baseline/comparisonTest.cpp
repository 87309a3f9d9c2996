#include <gtest/gtest.h>

#include "baseline/comparison.h"
#include "baseline/documentKind.h"

namespace {

using baseline::Change;
using baseline::compareDocuments;
using nlohmann::json;

// A measured run's document as the tool writes it, reduced to what the comparison reads.
json measuredRun(double roundTrip = 600, const std::string& verdict = "pass") {
    return json{{"tool", {{"name", "echoprobe"}}},
                {"driver", {{"name", "Reference"}, {"version", 3}}},
                {"figures",
                 {{"inputs", 2},
                  {"outputs", 2},
                  {"sampleRate", 48000.0},
                  {"bufferSizes", {{"min", 64}, {"max", 2048}, {"preferred", 256}, {"actual", 300}}},
                  {"latencies", {{"input", 300}, {"output", 300}}}}},
                {"stats",
                 {{"late", 0},
                  {"gaps", 0},
                  {"repeats", 0},
                  {"backwards", 0},
                  {"shortSteps", 0},
                  {"halfErrors", 0},
                  {"positionJumps", 0}}},
                {"run", {{"switchesAfterStop", 0}}},
                {"latency", {{"measuredSamples", roundTrip}, {"reportedSamples", 600}, {"glitches", 0}}},
                {"recording", nullptr},
                {"sweep", nullptr},
                {"conformance", nullptr},
                {"runs", nullptr},
                {"verdict", verdict},
                {"reasons", json::array()}};
}

const Change* find(const std::vector<Change>& changes, const std::string& what) {
    for (const Change& change : changes)
        if (change.what == what) return &change;
    return nullptr;
}

TEST(BaselineComparison, RoundTripMovesBySampleOrMore) {
    EXPECT_TRUE(compareDocuments(measuredRun(600), measuredRun(600.9)).changes.empty());
    const auto longer = compareDocuments(measuredRun(600), measuredRun(632));
    ASSERT_EQ(longer.changes.size(), 1u);
    EXPECT_EQ(longer.changes[0].what, "round trip");
    EXPECT_EQ(longer.changes[0].before, 600);
    EXPECT_EQ(longer.changes[0].after, 632);
    EXPECT_EQ(longer.changes[0].worse, true);
    EXPECT_TRUE(longer.regressed());
    const auto shorter = compareDocuments(measuredRun(632), measuredRun(600));
    EXPECT_EQ(shorter.changes.at(0).worse, false);
    EXPECT_FALSE(shorter.regressed());

    json lost = measuredRun(600);
    lost["latency"]["measuredSamples"] = nullptr;
    EXPECT_EQ(find(compareDocuments(measuredRun(600), lost).changes, "round trip")->worse, true);
    EXPECT_EQ(find(compareDocuments(lost, measuredRun(600)).changes, "round trip")->worse, false);
}

TEST(BaselineComparison, FaultCountsAreJudgedWhereTheRunsVerdictHoldsThem) {
    // Late switches the verdict does not name (the machine's) are no change at all.
    json machineLate = measuredRun();
    machineLate["stats"]["late"] = 3;
    EXPECT_TRUE(compareDocuments(measuredRun(), machineLate).changes.empty());
    json stallsLate = measuredRun(600, "inconclusive");
    stallsLate["stats"]["late"] = 3;
    stallsLate["reasons"] = {"3 late switches fell in stalls of the machine"};
    EXPECT_EQ(find(compareDocuments(measuredRun(), stallsLate).changes, "late switches"), nullptr);

    json driverLate = measuredRun(600, "fail");
    driverLate["stats"]["late"] = 3;
    driverLate["reasons"] = {"3 late switches"};
    const auto late = compareDocuments(measuredRun(), driverLate);
    EXPECT_EQ(find(late.changes, "late switches")->worse, true);
    EXPECT_EQ(find(late.changes, "verdict")->worse, true);

    // A count that appears in a run that still passes is said, not judged.
    json gapsPassing = measuredRun();
    gapsPassing["stats"]["gaps"] = 2;
    EXPECT_EQ(find(compareDocuments(measuredRun(), gapsPassing).changes, "gaps (switches missing)")->worse,
              std::nullopt);
    json repeatsFailing = measuredRun(600, "fail");
    repeatsFailing["stats"]["repeats"] = 1;
    EXPECT_EQ(find(compareDocuments(measuredRun(), repeatsFailing).changes, "repeats")->worse, true);
    // Gone: better.
    EXPECT_EQ(find(compareDocuments(repeatsFailing, measuredRun()).changes, "repeats")->worse, false);
    // From some to more is no new kind of fault.
    json moreRepeats = repeatsFailing;
    moreRepeats["stats"]["repeats"] = 5;
    EXPECT_EQ(find(compareDocuments(repeatsFailing, moreRepeats).changes, "repeats"), nullptr);
}

TEST(BaselineComparison, VerdictsOnlyAFailIsWorse) {
    EXPECT_EQ(
        find(compareDocuments(measuredRun(), measuredRun(600, "inconclusive")).changes, "verdict")->worse,
        std::nullopt);
    EXPECT_EQ(find(compareDocuments(measuredRun(600, "fail"), measuredRun()).changes, "verdict")->worse,
              false);
    const auto error = compareDocuments(measuredRun(), measuredRun(600, "error"));
    const Change* said = find(error.changes, "verdict (error is no comparable result)");
    ASSERT_NE(said, nullptr);
    EXPECT_EQ(said->worse, std::nullopt);
    EXPECT_FALSE(error.regressed());
}

TEST(BaselineComparison, DriverAndFiguresAreReportedNotJudged) {
    json other = measuredRun();
    other["driver"]["version"] = 4;
    other["figures"]["bufferSizes"]["min"] = 128;
    other["figures"]["latencies"]["output"] = 332;
    other["recording"] = json::object();
    const auto comparison = compareDocuments(measuredRun(), other);
    EXPECT_EQ(comparison.changes.size(), 4u);
    for (const Change& change : comparison.changes)
        EXPECT_EQ(change.worse, std::nullopt) << change.what;
    EXPECT_EQ(find(comparison.changes, "buffer size min")->unit, "samples");
    EXPECT_EQ(find(comparison.changes, "setting /record")->after, "given");
}

TEST(BaselineComparison, WorseFirstThenBetterThenReportedHeaviestFirst) {
    json before = measuredRun(600, "fail");
    before["stats"]["repeats"] = 1;
    json after = measuredRun(640, "fail");
    after["driver"]["version"] = 4;
    after["stats"]["gaps"] = 1; // new, judged (the run fails)
    const auto comparison = compareDocuments(before, after);
    ASSERT_EQ(comparison.changes.size(), 4u);
    EXPECT_EQ(comparison.changes[0].what, "round trip");              // worse, a figure
    EXPECT_EQ(comparison.changes[1].what, "gaps (switches missing)"); // worse, a count
    EXPECT_EQ(comparison.changes[2].what, "repeats");                 // better
    EXPECT_EQ(comparison.changes[3].what, "driver version");          // reported
}

TEST(BaselineComparison, ChannelMapPairsAndWhatAnOlderBaselineLacks) {
    auto mapRun = [](double second) {
        json run = measuredRun(600);
        run["latency"]["pairs"] = {{{"output", 1}, {"input", 1}, {"roundTrip", 600}},
                                   {{"output", 2}, {"input", 2}, {"roundTrip", second}}};
        return run;
    };
    const auto moved = compareDocuments(mapRun(608), mapRun(640));
    ASSERT_EQ(moved.changes.size(), 1u);
    EXPECT_EQ(moved.changes[0].what, "round trip, output 2 to input 2");
    EXPECT_TRUE(moved.lacks.empty());

    json older = measuredRun(600);
    older["stats"].erase("positionJumps");
    const auto read = compareDocuments(older, mapRun(608));
    EXPECT_EQ(read.lacks,
              (std::vector<std::string>{"no per-pair round trips", "no count of position jumps"}));
    EXPECT_TRUE(read.changes.empty());
}

TEST(BaselineComparison, StartsAreComparedByIndex) {
    auto startsRun = [](std::vector<double> roundTrips) {
        json run = measuredRun();
        run["starts"] = json::array();
        for (double roundTrip : roundTrips) {
            json start = measuredRun(roundTrip);
            start["start"] = run["starts"].size() + 1;
            run["starts"].push_back(start);
        }
        return run;
    };
    const auto comparison = compareDocuments(startsRun({600, 600, 600}), startsRun({600, 632}));
    ASSERT_EQ(comparison.changes.size(), 2u);
    EXPECT_EQ(comparison.changes[0].what, "start 2: round trip");
    EXPECT_EQ(comparison.changes[0].worse, true);
    EXPECT_EQ(comparison.changes[1].what, "starts");
    EXPECT_EQ(comparison.changes[1].before, 3);
}

json sweepRun(const std::vector<std::tuple<double, int, std::string>>& rows) {
    json run = measuredRun();
    run["latency"] = nullptr;
    run["sweep"] = json::array();
    for (const auto& [rate, buffer, verdict] : rows)
        run["sweep"].push_back(
            {{"rate", rate}, {"buffer", buffer}, {"verdict", verdict}, {"latency", nullptr}});
    return run;
}

TEST(BaselineComparison, SweepSettingsAndSmallestPassingBuffer) {
    const json before =
        sweepRun({{48000, 64, "pass"}, {48000, 128, "pass"}, {44100, 64, "fail"}, {44100, 128, "pass"}});
    const json after = sweepRun({{48000, 64, "fail"},
                                 {48000, 128, "pass"},
                                 {44100, 64, "pass"},
                                 {44100, 128, "pass"},
                                 {96000, 128, "pass"}});
    const auto comparison = compareDocuments(before, after);
    const Change* grew = find(comparison.changes, "smallest passing buffer at 48000 Hz");
    ASSERT_NE(grew, nullptr);
    EXPECT_EQ(grew->before, 64);
    EXPECT_EQ(grew->after, 128);
    EXPECT_EQ(grew->worse, true);
    EXPECT_EQ(find(comparison.changes, "smallest passing buffer at 44100 Hz")->worse, false);
    EXPECT_EQ(find(comparison.changes, "48000 Hz, 64 samples: verdict")->worse, true);
    EXPECT_EQ(find(comparison.changes, "96000 Hz, 128 samples")->before, "not swept");
    EXPECT_EQ(comparison.changes[0].what, "48000 Hz, 64 samples: verdict");

    const auto none = compareDocuments(before, sweepRun({{48000, 64, "fail"}, {48000, 128, "fail"}}));
    const Change* gone = find(none.changes, "smallest passing buffer at 48000 Hz");
    EXPECT_TRUE(gone->after.is_null());
    EXPECT_EQ(gone->worse, true);
}

TEST(BaselineComparison, SuiteChecks) {
    auto suite = [](std::vector<std::pair<std::string, std::string>> results) {
        json run = measuredRun();
        run["latency"] = nullptr;
        run["conformance"] = {{"checks", json::array()}};
        for (const auto& [id, result] : results)
            run["conformance"]["checks"].push_back({{"id", id}, {"result", result}});
        return run;
    };
    const auto comparison =
        compareDocuments(suite({{"figures", "pass"}, {"start-stop", "fail"}, {"reset", "pass"}}),
                         suite({{"figures", "warn"}, {"start-stop", "pass"}, {"reset", "skip"}}));
    EXPECT_EQ(find(comparison.changes, "check figures")->worse, true);
    EXPECT_EQ(find(comparison.changes, "check start-stop")->worse, false);
    EXPECT_EQ(find(comparison.changes, "check reset")->worse, std::nullopt);
    EXPECT_EQ(comparison.changes[0].what, "check figures");
}

TEST(BaselineComparison, EveryDriverByName) {
    auto every = [](double secondRoundTrip) {
        json first = measuredRun(600), second = measuredRun(secondRoundTrip);
        first["driver"]["description"] = "One";
        second["driver"]["description"] = "Two";
        json run = measuredRun();
        run["runs"] = {first, second};
        return run;
    };
    const auto comparison = compareDocuments(every(600), every(700));
    ASSERT_EQ(comparison.changes.size(), 1u);
    EXPECT_EQ(comparison.changes[0].what, "Two: round trip");
}

TEST(BaselineCompatibility, OnlyADocumentOfTheSameKindAndDriver) {
    const json run = measuredRun();
    EXPECT_EQ(baseline::incompatibility(run, run), "");
    json versionOne = run; // no schemaVersion: read as version 1
    EXPECT_EQ(baseline::schemaVersionOf(versionOne), 1);
    json current = run;
    current["schemaVersion"] = baseline::kSchemaVersion;
    EXPECT_EQ(baseline::incompatibility(versionOne, current), "");

    json newer = run;
    newer["schemaVersion"] = baseline::kSchemaVersion + 1;
    EXPECT_NE(baseline::incompatibility(newer, run).find("newer"), std::string::npos);
    json notOurs = {{"tool", {{"name", "something else"}}}};
    EXPECT_EQ(baseline::incompatibility(notOurs, run), "is not an echoprobe JSON document");
    EXPECT_EQ(baseline::incompatibility(json::array(), run), "is not an echoprobe JSON document");
    json otherDriver = run;
    otherDriver["driver"]["name"] = "Other";
    EXPECT_EQ(baseline::incompatibility(otherDriver, run),
              "is of another driver (Other; this run's is Reference)");
    // One edited so that it names no driver is no baseline of this one.
    json noDriver = run;
    noDriver.erase("driver");
    EXPECT_EQ(baseline::incompatibility(noDriver, run),
              "names no driver, so it cannot be told to be of this run's (Reference)");
    noDriver["driver"] = {{"name", ""}, {"description", nullptr}};
    EXPECT_NE(baseline::incompatibility(noDriver, run), "");
    EXPECT_EQ(baseline::incompatibility(sweepRun({}), run),
              "is of a /sweep, not of a measured run as this run is");
}

} // namespace
