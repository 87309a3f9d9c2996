// The sweep's rows as the JSON report holds them, read by the console table and by the
// HTML report: both must say the same of every setting, a refused one included, and a
// document cut short (a run that crashed) must give what it holds and nothing more.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/sweep/sweepRow.h"
#include "app/sweep/sweepTable.h"
#include "report/fromDocument.h"

namespace {

using nlohmann::json;

// A setting that ran: `roundTrip` samples measured against a reported latency of
// `buffer` in and `2 * buffer` out.
sweepRow ranRow(double rate, int32_t buffer, double roundTrip, uint64_t late, measure::VerdictWord word) {
    sweepRow row;
    row.rate = rate;
    row.buffer = buffer;
    row.advertised = true;
    row.reportedLatency = sweepRow::latencies{buffer, 2 * buffer};
    row.seconds = 2.0;
    measure::SwitchSummary stats;
    stats.switches = 300;
    stats.expectedSwitches = 320;
    stats.intervalsKnown = true;
    stats.intervalUs.late = late;
    stats.intervalUs.max = 9000.5;
    stats.hostTimeKnown = true;
    stats.hostLoad = 0.0125;
    row.stats = stats;
    measure::LatencyFacts latency;
    latency.result.burstsFound = 5;
    latency.result.lagMedian = roundTrip;
    latency.reportedSamples = 3 * buffer;
    latency.sampleRate = rate;
    row.latency = latency;
    row.verdict = measure::Verdict{word, {}};
    if (word != measure::VerdictWord::pass) row.verdict->reasons.push_back("3 late switches");
    return row;
}

TEST(SweepReport, TableAndReportReadTheSameRows) {
    using W = measure::VerdictWord;
    const std::vector<sweepRow> rows{ranRow(44100, 128, 288, 3, W::fail), ranRow(44100, 256, 544, 0, W::pass),
                                     refusedSweepRow(48000, 64, true, "createBuffers failed"),
                                     ranRow(48000, 128, 288.5, 0, W::pass)};

    const report::ReportData data = report::reportDataFromDocument(json{{"sweep", sweepRowsJson(rows)}});
    ASSERT_EQ(data.sweep.size(), 4u);
    EXPECT_EQ(data.sweep[0].verdict, report::Outcome::fail);
    EXPECT_EQ(data.sweep[0].lateSwitches, 3u);
    EXPECT_EQ(data.sweep[0].reasons, std::vector<std::string>{"3 late switches"});
    EXPECT_DOUBLE_EQ(data.sweep[1].roundTripSamples.value_or(0), 544);
    EXPECT_DOUBLE_EQ(data.sweep[1].hostLoad, 0.0125);
    EXPECT_DOUBLE_EQ(data.sweep[1].longestIntervalUs, 9000.5);
    EXPECT_FALSE(data.sweep[2].accepted);
    EXPECT_EQ(data.sweep[2].refusal, "createBuffers failed");
    EXPECT_FALSE(data.sweep[2].roundTripSamples);
    EXPECT_DOUBLE_EQ(data.sweep[3].roundTripSamples.value_or(0), 288.5);

    // The console rows carry the same figures.
    EXPECT_NE(sweepRowLine(rows[0]).find("288"), std::string::npos);
    EXPECT_NE(sweepRowLine(rows[0]).find("fail"), std::string::npos);
    EXPECT_NE(sweepRowLine(rows[1]).find("1.25%"), std::string::npos);
    EXPECT_NE(sweepRowLine(rows[2]).find("createBuffers failed"), std::string::npos);
    EXPECT_EQ(smallestPassingLine(rows),
              "Smallest buffer that passed: 44100 Hz: 256 samples; 48000 Hz: 128 samples");
    EXPECT_EQ(smallestPassingLine({ranRow(44100, 128, 288, 9, W::fail)}),
              "Smallest buffer that passed: 44100 Hz: none");

    EXPECT_EQ(sweepPlanLine(1, 1, 2), "Sweep: 1 setting at 1 rate, 2 s each. Press SPACE to end it early.");
    EXPECT_EQ(sweepPlanLine(8, 2, 1), "Sweep: 8 settings at 2 rates, 1 s each. Press SPACE to end it early.");
}

TEST(SweepReport, ADocumentCutShortGivesWhatItHolds) {
    // What a supervising parent writes when the driver crashed before its figures were read.
    const json document = {{"driver",
                            {{"index", 0},
                             {"description", "crashing device"},
                             {"clsid", "{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4A31}"},
                             {"name", nullptr},
                             {"version", nullptr},
                             {"errorText", nullptr}}},
                           {"figures", nullptr},
                           {"channels", nullptr},
                           {"latency", nullptr},
                           {"sweep", nullptr},
                           {"verdict", "fail"},
                           {"reasons", {"crashed in getChannelInfo (signal 11)"}}};
    const report::ReportData data = report::reportDataFromDocument(document);
    ASSERT_TRUE(data.driver);
    EXPECT_EQ(data.driver->description, "crashing device");
    EXPECT_FALSE(data.driver->name);
    EXPECT_FALSE(data.figures);
    EXPECT_TRUE(data.channels.empty());
    EXPECT_FALSE(data.latency);
    EXPECT_TRUE(data.sweep.empty());
    EXPECT_EQ(data.verdict, report::Outcome::fail);
    EXPECT_EQ(data.reasons, std::vector<std::string>{"crashed in getChannelInfo (signal 11)"});
}

} // namespace
