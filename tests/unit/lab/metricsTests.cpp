// The metrics text of every kind of document: the figures as the document has them,
// label values escaped, every family once with its samples together, no series twice.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "lab/openMetrics.h"
#include "tests/unit/lab/labDocuments.h"

using lab::RunMode;
using json = nlohmann::json;

namespace {

// The samples of a metrics text by their series ("name{labels}"), after checking the
// text's shape: HELP and TYPE once per family and before its samples, the samples of a
// family together, counters ending in _total, no series twice, "# EOF" last.
std::map<std::string, double> samplesOf(const std::string& text) {
    std::map<std::string, double> samples;
    std::set<std::string> familiesSeen;
    std::string family, type, line, last;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        last = line;
        if (line.rfind("# HELP ", 0) == 0) {
            family = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_TRUE(familiesSeen.insert(family).second) << "a second HELP for " << family;
            continue;
        }
        if (line.rfind("# TYPE ", 0) == 0) {
            EXPECT_EQ(line.substr(7, family.size() + 1), family + " ")
                << "TYPE apart from its HELP: " << line;
            type = line.substr(8 + family.size());
            EXPECT_TRUE(type != "counter" || family.substr(family.size() - 6) == "_total") << family;
            continue;
        }
        if (line.rfind("#", 0) == 0) continue;
        const size_t space = line.rfind(' ');
        const std::string series = line.substr(0, space);
        EXPECT_EQ(series.substr(0, series.find('{')), family) << "a sample away from its family: " << line;
        EXPECT_TRUE(samples.emplace(series, std::stod(line.substr(space + 1))).second) << "twice: " << series;
    }
    EXPECT_EQ(last, "# EOF");
    return samples;
}

// The value of a series; a failure naming the series when it is missing.
double at(const std::map<std::string, double>& samples, const std::string& series) {
    const auto found = samples.find(series);
    if (found != samples.end()) return found->second;
    ADD_FAILURE() << "no series " << series;
    return -1;
}

const std::string loopLabels =
    "mode=\"measured\",driver=\"Loop device\",index=\"1\",driver_version=\"3\",rate=\"48000\",buffer=\"256\"";

} // namespace

TEST(Metrics, AMeasuredRunsFiguresAndVerdictAsTheDocumentHasThem) {
    const auto clean =
        samplesOf(lab::metricsText(labtest::measuredRun("Loop device"), RunMode::measured, 1.5e9));
    EXPECT_EQ(at(clean, "echoprobe_round_trip_samples{" + loopLabels + ",pair=\"1-1\"}"), 696.0);
    EXPECT_DOUBLE_EQ(at(clean, "echoprobe_round_trip_seconds{" + loopLabels + ",pair=\"1-1\"}"), 0.0145);
    EXPECT_EQ(at(clean, "echoprobe_unreported_latency_samples{" + loopLabels + ",pair=\"1-1\"}"), 96.0);
    EXPECT_EQ(at(clean, "echoprobe_run_timestamp_seconds{" + loopLabels + "}"), 1.5e9);
    EXPECT_EQ(at(clean, "echoprobe_buffer_switches_total{" + loopLabels + "}"), 375.0);
    EXPECT_EQ(at(clean, "echoprobe_reported_latency_samples{" + loopLabels + ",direction=\"output\"}"),
              300.0);
    EXPECT_EQ(at(clean, "echoprobe_verdict{" + loopLabels + ",verdict=\"pass\"}"), 1.0);
    EXPECT_EQ(at(clean, "echoprobe_verdict{" + loopLabels + ",verdict=\"fail\"}"), 0.0);
    EXPECT_EQ(clean.count("echoprobe_recorded_frames_total{" + loopLabels + "}"), 0u)
        << "nothing was recorded";

    const auto faulty = samplesOf(
        lab::metricsText(labtest::measuredRun("Loop device", {3, 2, 1, 0}), RunMode::measured, 1.5e9));
    EXPECT_EQ(at(faulty, "echoprobe_late_switches_total{" + loopLabels + "}"), 3.0);
    EXPECT_EQ(at(faulty, "echoprobe_position_gaps_total{" + loopLabels + "}"), 2.0);
    EXPECT_EQ(at(faulty, "echoprobe_samples_lost_total{" + loopLabels + "}"), 512.0);
    EXPECT_EQ(at(faulty, "echoprobe_loop_glitches_total{" + loopLabels + ",pair=\"1-1\"}"), 1.0);
    EXPECT_EQ(at(faulty, "echoprobe_verdict{" + loopLabels + ",verdict=\"fail\"}"), 1.0);
    EXPECT_EQ(at(faulty, "echoprobe_verdict{" + loopLabels + ",verdict=\"pass\"}"), 0.0);
}

TEST(Metrics, LabelValuesAreEscapedAndStayValidUtf8) {
    // A quote, a backslash, a line break, a non-ASCII letter and a byte of another code page.
    const std::string name = "Say \"hi\" C:\\drv\nline 2 \xC3\xA9 \xFF";
    const std::string text = lab::metricsText(labtest::measuredRun(name), RunMode::measured, 0);
    EXPECT_NE(text.find("driver=\"Say \\\"hi\\\" C:\\\\drv\\nline 2 \xC3\xA9 \xEF\xBF\xBD\""),
              std::string::npos)
        << text.substr(0, 600);
    samplesOf(text);
}

TEST(Metrics, ASuitesFailingCheckIsItsResultWord) {
    const auto samples =
        samplesOf(lab::metricsText(labtest::suiteWithFailure(), RunMode::conformance, 1.5e9));
    const std::string labels =
        "mode=\"conformance\",driver=\"Suite driver\",index=\"0\",driver_version=\"2\"";
    EXPECT_EQ(at(samples, "echoprobe_check_result{" + labels + ",check=\"start-stop\",result=\"fail\"}"),
              1.0);
    EXPECT_EQ(at(samples, "echoprobe_check_result{" + labels + ",check=\"start-stop\",result=\"pass\"}"),
              0.0);
    EXPECT_EQ(at(samples, "echoprobe_check_result{" + labels + ",check=\"figures\",result=\"pass\"}"), 1.0);
    EXPECT_EQ(at(samples, "echoprobe_check_duration_seconds{" + labels + ",check=\"start-stop\"}"), 0.5);
    EXPECT_EQ(at(samples, "echoprobe_verdict{" + labels + ",verdict=\"fail\"}"), 1.0);
}

TEST(Metrics, ASweepsRefusedSettingIsNotAcceptedAndHasNoVerdict) {
    const auto samples = samplesOf(lab::metricsText(labtest::sweepWithRefusal(), RunMode::sweep, 1.5e9));
    const std::string labels = "mode=\"sweep\",driver=\"Sweep.Driver\",index=\"0\",driver_version=\"7\"";
    EXPECT_EQ(at(samples, "echoprobe_setting_accepted{" + labels + ",rate=\"48000\",buffer=\"64\"}"), 0.0);
    EXPECT_EQ(at(samples, "echoprobe_setting_accepted{" + labels + ",rate=\"48000\",buffer=\"128\"}"), 1.0);
    EXPECT_EQ(
        samples.count("echoprobe_verdict{" + labels + ",rate=\"48000\",buffer=\"64\",verdict=\"pass\"}"), 0u);
    EXPECT_EQ(at(samples, "echoprobe_verdict{" + labels + ",rate=\"48000\",buffer=\"128\",verdict=\"pass\"}"),
              1.0);
    EXPECT_EQ(at(samples, "echoprobe_smallest_passing_buffer_samples{" + labels + ",rate=\"48000\"}"), 128.0);
    EXPECT_EQ(at(samples, "echoprobe_verdict{" + labels + ",verdict=\"pass\"}"), 1.0);
}

TEST(Metrics, RunsThatFailedOrWereInterruptedSayWhatTheyKnew) {
    const auto failed =
        samplesOf(lab::metricsText(labtest::failedRun("No ASIO drivers found."), RunMode::measured, 1.5e9));
    EXPECT_EQ(at(failed, "echoprobe_verdict{mode=\"measured\",verdict=\"error\"}"), 1.0);
    EXPECT_EQ(at(failed, "echoprobe_run_timestamp_seconds{mode=\"measured\"}"), 1.5e9);
    for (const auto& [series, value] : failed)
        EXPECT_TRUE(series.rfind("echoprobe_verdict", 0) == 0 ||
                    series.rfind("echoprobe_run_timestamp", 0) == 0)
            << "nothing was measured, yet " << series;

    const auto interrupted = samplesOf(
        lab::metricsText(labtest::measuredRun("Loop device", {0, 0, 0, 15}), RunMode::measured, 1.5e9));
    EXPECT_EQ(at(interrupted, "echoprobe_verdict{" + loopLabels + ",verdict=\"interrupted\"}"), 1.0);
    EXPECT_EQ(at(interrupted, "echoprobe_buffer_switches_total{" + loopLabels + "}"), 375.0);
}

TEST(Metrics, EveryDriverKeepsTwoDriversOfOneNameApart) {
    json first = labtest::measuredRun("Same name");
    json second = labtest::measuredRun("Same name", {1, 0, 0, 0});
    second["driver"]["index"] = 2;
    json document = labtest::failedRun("");
    document["failure"] = nullptr;
    document["verdict"] = "fail";
    document["runs"] = json::array({first, second});
    const auto samples = samplesOf(lab::metricsText(document, RunMode::everyDriver, 1.5e9));
    const std::string labels = "mode=\"every-driver\",driver=\"Same name\",index=\"";
    const std::string figures = "\",driver_version=\"3\",rate=\"48000\",buffer=\"256\"";
    EXPECT_EQ(at(samples, "echoprobe_late_switches_total{" + labels + "1" + figures + "}"), 0.0);
    EXPECT_EQ(at(samples, "echoprobe_late_switches_total{" + labels + "2" + figures + "}"), 1.0);
    EXPECT_EQ(at(samples, "echoprobe_verdict{mode=\"every-driver\",verdict=\"fail\"}"), 1.0);
}
