// The sweep's rows as the JSON report holds them, read by the console table and by the
// HTML report: both must say the same of every setting, a refused one included, and a
// document cut short (a run that crashed) must give what it holds and nothing more.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/sweep/sweepTable.h"
#include "report/fromDocument.h"

namespace {

using nlohmann::json;

json row(double rate, int32_t buffer, double roundTrip, uint64_t late, const char* verdict) {
    return {{"rate", rate},
            {"buffer", buffer},
            {"accepted", true},
            {"refusal", nullptr},
            {"reportedLatency", {{"input", buffer}, {"output", 2 * buffer}}},
            {"seconds", 2.0},
            {"stats",
             {{"switches", 300}, {"expectedSwitches", 320}, {"late", late}, {"hostLoad", 0.0125},
              {"intervalUs", {{"max", 9000.5}}}}},
            {"latency",
             {{"measuredSamples", roundTrip}, {"measuredMs", roundTrip / rate * 1000.0},
              {"unreportedSamples", roundTrip - 3 * buffer}}},
            {"verdict", verdict},
            {"reasons", std::string(verdict) == "pass" ? json::array() : json::array({"3 late switches"})}};
}

TEST(SweepReport, TableAndReportReadTheSameRows) {
    json refused = row(48000, 64, 0, 0, "error");
    refused["accepted"] = false;
    refused["refusal"] = "createBuffers failed";
    refused["stats"] = nullptr;
    refused["latency"] = nullptr;
    const json rows = json::array({row(44100, 128, 288, 3, "fail"), row(44100, 256, 544, 0, "pass"), refused,
                                   row(48000, 128, 288.5, 0, "pass")});

    const report::ReportData data = report::reportDataFromDocument(json{{"sweep", rows}});
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
    EXPECT_NE(sweepRowLine(refused).find("createBuffers failed"), std::string::npos);
    EXPECT_EQ(smallestPassingLine(rows), "Smallest buffer that passed: 44100 Hz: 256 samples; 48000 Hz: 128 samples");
    EXPECT_EQ(smallestPassingLine(json::array({row(44100, 128, 288, 9, "fail")})),
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
