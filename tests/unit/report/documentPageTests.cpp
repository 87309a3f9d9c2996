// The page made from a run's JSON document says what the console says: channels counted
// from 1, a refused sweep setting "refused", a gain of -0.001 dB as 0.00 dB, each check's
// faults under its row, every driver of the suite in an overview, the probe's findings,
// no stall the machine probe could not resolve, and when a crashed run ended.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/fromDocument.h"
#include "report/htmlReport.h"

using namespace report;
using json = nlohmann::json;

namespace {

bool holds(const std::string& page, const std::string& text) {
    return page.find(text) != std::string::npos;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// The x of every mark whose attributes begin with `attributes`, in page order.
std::vector<double> markXs(const std::string& page, const std::string& attributes) {
    std::vector<double> xs;
    static const std::regex mark("<path class=\"mark\" ([^>]*)transform=\"translate\\(([-\\d.]+),");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), mark); it != std::sregex_iterator(); ++it)
        if ((*it)[1].str().rfind(attributes, 0) == 0) xs.push_back(std::stod((*it)[2].str()));
    return xs;
}

json sweepRow(double rate, int buffer, const json& roundTrip, const json& verdict) {
    json row = {{"rate", rate},
                {"buffer", buffer},
                {"accepted", true},
                {"refusal", nullptr},
                {"reportedLatency", {{"input", 300}, {"output", 600}}},
                {"stats", {{"switches", 100}, {"expectedSwitches", 100}, {"late", 0}}},
                {"latency", {{"measuredSamples", roundTrip}}},
                {"verdict", verdict},
                {"reasons", verdict == "fail" ? json{"12 gaps"} : json::array()}};
    return row;
}

TEST(ReportFromDocument, ReadsAsTheConsoleTellsIt) {
    const json document = {
        {"tool", {{"version", "1.0"}, {"bits", 64}}},
        {"channels",
         {{{"direction", "input"}, {"channel", 0}, {"name", "In 1"}, {"typeText", "float"}},
          {{"direction", "output"}, {"channel", 1}, {"name", "Out 2"}, {"typeText", "float"}}}},
        {"run", {{"seconds", 20.04}}},
        {"figures", {{"asioVersion", 2}, {"sampleRate", 48000}}},
        {"latency", {{"output", 1}, {"input", 2}, {"measuredSamples", 696}, {"gainDb", -0.001}}},
        {"sweep",
         {sweepRow(48000, 64, 224, "pass"),
          {{"rate", 48000},
           {"buffer", 128},
           {"accepted", false},
           {"refusal", "createBuffers answered -5"},
           {"stats", nullptr},
           {"verdict", nullptr},
           {"reasons", json::array()}}}},
        {"verdict", "fail"},
        {"reasons", {"The run ended: the driver crashed outside any driver call (signal 11)."}},
        {"failureAt",
         {{"seconds", 2.522},
          {"switchesCounted", 400},
          {"countedAtSeconds", 2.509},
          {"sweepSetting", {{"rate", 48000}, {"buffer", 256}, {"number", 3}, {"count", 4}}}}}};
    const ReportData data = reportDataFromDocument(document);
    ASSERT_EQ(data.channels.size(), 2u);
    EXPECT_EQ(data.channels[0].number, 1);
    EXPECT_EQ(data.channels[1].number, 2);
    ASSERT_EQ(data.sweep.size(), 2u);
    EXPECT_EQ(data.sweep[0].verdict, Outcome::pass);
    EXPECT_FALSE(data.sweep[1].verdict) << "a refused setting has no verdict";
    EXPECT_DOUBLE_EQ(data.runSeconds.value_or(0), 2.522) << "a run that crashed lasted until it ended";
    ASSERT_TRUE(data.failureAt && data.failureAt->setting);
    EXPECT_EQ(data.failureAt->setting->number, 3);

    const std::string page = renderHtmlReport(data);
    EXPECT_TRUE(holds(page, "<tr><td>In 1</td><td>In 1</td>"));
    EXPECT_TRUE(holds(page, "<tr><td>Out 2</td><td>Out 2</td>"));
    EXPECT_TRUE(holds(page, "data-accepted=\"false\" data-verdict=\"refused\""));
    EXPECT_TRUE(holds(page, ">refused: createBuffers answered -5</div>"));
    EXPECT_FALSE(holds(page, "data-verdict=\"error\""));
    EXPECT_TRUE(holds(page, "gain\">0.00 dB"));
    EXPECT_FALSE(holds(page, "-0.00"));
    EXPECT_TRUE(holds(page, "The run ended at setting 3 of 4 (48000 Hz, 256 samples), 2.52 s after that "
                            "setting started; 400 switches had been counted by 2.51 s."));
    // The setting that crashed has its row and its mark along the top of the sweep plot.
    EXPECT_TRUE(holds(page,
                      "data-rate=\"48000\" data-buffer=\"256\" data-accepted=\"true\" data-verdict=\"fail\" "
                      "data-crashed=\"true\""));
    EXPECT_EQ(markXs(page, "data-kind=\"crashed\" data-rate=\"48000\" data-buffer=\"256\"").size(), 1u);

    // Before the driver started, and without a sweep.
    FailureMoment early;
    ReportData before;
    before.verdict = Outcome::error;
    before.failureAt = early;
    EXPECT_TRUE(holds(renderHtmlReport(before), "The run ended before the driver was started."));
}

TEST(ReportFromDocument, EveryDriverOfTheSuiteAndEachChecksFaults) {
    const json faulty = {
        {"id", "bad-create"},
        {"result", "fail"},
        {"detail", "createBuffers took 0 channels; 2 more faults"},
        {"faults", {"createBuffers took 0 channels", "channel 9 got channel 1's buffer", "<b>"}}};
    const json older = {{"id", "figures"}, {"result", "pass"}, {"detail", "fine"}};
    const json single = {{"id", "start-stop"}, {"result", "fail"}, {"detail", "late"}, {"faults", {"late"}}};
    const json document = {
        {"conformance",
         {{"drivers",
           {{{"index", 0},
             {"description", "Alpha"},
             {"failure", nullptr},
             {"checks", {faulty, older, single}}},
            {{"index", 1},
             {"description", "Beta"},
             {"failure", "The driver could not be created, error code=0x80004005"},
             {"checks", json::array()}},
            {{"index", 2}, {"description", "Gamma"}, {"failure", nullptr}, {"checks", {older}}}}}}}};
    const ReportData data = reportDataFromDocument(document);
    ASSERT_EQ(data.conformance.size(), 3u);
    EXPECT_EQ(data.conformance[0].checks[0].faults.size(), 3u);
    EXPECT_TRUE(data.conformance[0].checks[1].faults.empty()) << "an older document has no faults";
    EXPECT_TRUE(data.conformance[1].failure);

    const std::string page = renderHtmlReport(data);
    // The overview: a row per driver, each linking to its heading.
    EXPECT_EQ(occurrences(page, "<table class=\"drivers\">"), 1u);
    for (int n = 1; n <= 3; ++n) {
        const std::string anchor = "conformance-driver-" + std::to_string(n);
        EXPECT_TRUE(holds(page, "<a href=\"#" + anchor + "\">")) << n;
        EXPECT_TRUE(holds(page, "<h3 id=\"" + anchor + "\">")) << n;
    }
    EXPECT_TRUE(holds(page, "<tr data-driver=\"0: Alpha\" data-verdict=\"fail\">"));
    EXPECT_TRUE(holds(page, "<tr data-driver=\"1: Beta\" data-verdict=\"fail\">"));
    EXPECT_TRUE(holds(page, "<tr data-driver=\"2: Gamma\" data-verdict=\"pass\">"));
    EXPECT_TRUE(holds(page, "Could not be created: The driver could not be created, error code=0x80004005"));
    // A table for each driver that was created, none for the one that was not.
    EXPECT_EQ(occurrences(page, "<table class=\"conformance\""), 2u);
    // Every fault under its check's row, the detail kept; one fault the detail already
    // says and a document without the key list nothing more.
    EXPECT_TRUE(holds(page, "<td>createBuffers took 0 channels; 2 more faults</td>"));
    EXPECT_TRUE(holds(page, "<tr class=\"faults\" data-faults-of=\"bad-create\" data-count=\"3\">"));
    EXPECT_TRUE(holds(page, "<li>channel 9 got channel 1&#39;s buffer</li><li>&lt;b&gt;</li>"));
    EXPECT_EQ(occurrences(page, "<tr class=\"faults\""), 1u);

    // One driver of its own (no index): no overview.
    ReportData one;
    one.conformance.push_back(data.conformance[2]);
    one.conformance[0].index.reset();
    EXPECT_FALSE(holds(renderHtmlReport(one), "<table class=\"drivers\">"));
}

TEST(ReportFromDocument, TheProbesFindings) {
    const json document = {
        {"probe",
         {{"rates", {{"8000", false}, {"44100", true}, {"192000", true}, {"48000", true}}},
          {"clockSources",
           {{{"index", 0}, {"name", "Internal"}, {"channel", -1}, {"group", -1}, {"current", false}},
            {{"index", 1}, {"name", "Word Clock"}, {"channel", 0}, {"group", 1}, {"current", true}}}},
          {"bufferSizes",
           {{"min", 32},
            {"max", 4096},
            {"preferred", 256},
            {"granularity", -1},
            {"legal", {32, 64, 128}},
            {"legalCount", 3},
            {"createdMin", true},
            {"createdMax", false}}},
          {"features",
           {{"future", {{"canTimeInfo", true}, {"canTransport", false}}},
            {"messagesAsked", {{"supportsTimeInfo", 2}}},
            {"outputReady", false}}}}}};
    const std::string page = renderHtmlReport(reportDataFromDocument(document));
    EXPECT_TRUE(holds(page, "<section id=\"probe\">"));
    // Rates in ascending order, not in the document's order of names.
    EXPECT_TRUE(holds(page, "data-key=\"rates\">44100, 48000, 192000 Hz; not 8000 Hz</td>"));
    EXPECT_TRUE(holds(page, "data-key=\"legal-sizes\">3: 32, 64, 128</td>"));
    EXPECT_TRUE(holds(page, "the smallest: yes; the largest: no"));
    EXPECT_TRUE(holds(page, "answers canTimeInfo; not canTransport"));
    EXPECT_TRUE(holds(page, "supportsTimeInfo (2)"));
    EXPECT_TRUE(holds(page, "data-key=\"output-ready\">not wanted"));
    EXPECT_TRUE(holds(page, "<tr data-clock=\"1\"><td class=\"number\">1</td><td>Word Clock</td><td "
                            "class=\"number\">1</td><td class=\"number\">1</td><td>current</td></tr>"));
}

TimingData timingWithStalls() {
    TimingData timing;
    timing.periodUs = 6250;
    timing.lateThresholdUs = 9375;
    for (int b = 0; b < 50; ++b)
        timing.timeline.push_back({b * 0.1, 16, 16, 6200, 6250, 6300, 150, 300});
    for (int i = 0; i < 60; ++i)
        timing.events.push_back({0.05 * i, EventKind::machineStall, "stalled 4.0 ms"});
    timing.events.push_back({3.5, EventKind::lateSwitch, "interval 16250 us"});
    timing.eventTotals[size_t(EventKind::machineStall)] = 60;
    timing.eventTotals[size_t(EventKind::lateSwitch)] = 1;
    return timing;
}

// The kind of the event table's first row (plain searches: a regex across the page
// recurses per character).
std::string firstEventKind(const std::string& page) {
    const size_t table = page.find("<table class=\"events\">");
    const std::string row = "<tbody><tr data-kind=\"";
    const size_t first = page.find(row, table);
    if (table == std::string::npos || first == std::string::npos) return "";
    const size_t start = first + row.size();
    return page.substr(start, page.find('"', start) - start);
}

TEST(HtmlReport, LateSwitchesComeBeforeStallsAndUnresolvedStallsAreNotDrawn) {
    ReportData data;
    data.timing = timingWithStalls();
    data.runSeconds = 5.0;
    data.machineProbed = true;
    const std::string probed = renderHtmlReport(data);
    EXPECT_EQ(firstEventKind(probed), "late-switch") << "60 earlier stalls must not hide it";
    EXPECT_FALSE(markXs(probed, "data-kind=\"machine-stall\"").empty());
    EXPECT_TRUE(holds(probed, "data-kind=\"machine-stall\" data-total=\"60\""));
    EXPECT_TRUE(holds(probed, "data-x-max=\"5\"")) << "the time axis ends at the run's end";

    data.machineProbed = false;
    const std::string unresolved = renderHtmlReport(data);
    EXPECT_TRUE(markXs(unresolved, "data-kind=\"machine-stall\"").empty());
    EXPECT_FALSE(holds(unresolved, "data-kind=\"machine-stall\""));
    EXPECT_TRUE(holds(unresolved, "data-note=\"stalls-unresolved\""));
    EXPECT_EQ(firstEventKind(unresolved), "late-switch");
    EXPECT_EQ(markXs(unresolved, "data-kind=\"late-switch\"").size(), 1u);
}

TEST(HtmlReport, TheSweepPlotSpacesSizesEvenlyAndMarksWhatFailed) {
    ReportData data;
    for (double rate : {44100.0, 48000.0})
        for (int32_t size : {32, 64, 128, 256}) {
            SweepRow row;
            row.rate = rate;
            row.buffer = size;
            row.roundTripSamples = 2.0 * size + 96; // the same at both rates: the lines coincide
            row.verdict = size == 32 && rate == 48000 ? Outcome::fail : Outcome::pass;
            data.sweep.push_back(row);
        }
    SweepRow refused;
    refused.rate = 44100;
    refused.buffer = 512;
    refused.accepted = false;
    refused.verdict.reset();
    refused.refusal = "createBuffers answered -5";
    data.sweep.push_back(refused);
    SweepRow noRoundTrip;
    noRoundTrip.rate = 48000;
    noRoundTrip.buffer = 16;
    noRoundTrip.verdict = Outcome::fail;
    data.sweep.push_back(noRoundTrip);
    const std::string page = renderHtmlReport(data);

    // Sizes that double stand evenly apart, at both rates.
    for (const char* rate : {"44100", "48000"}) {
        std::vector<double> xs;
        for (int32_t size : {32, 64, 128, 256})
            for (double x : markXs(page, std::string("data-rate=\"") + rate + "\" data-buffer=\"" +
                                             std::to_string(size) + "\" data-round-trip"))
                xs.push_back(x);
        ASSERT_EQ(xs.size(), 4u) << rate;
        EXPECT_NEAR(xs[1] - xs[0], xs[2] - xs[1], 0.15) << rate;
        EXPECT_NEAR(xs[2] - xs[1], xs[3] - xs[2], 0.15) << rate;
    }
    EXPECT_TRUE(holds(page, "data-x-scale=\"log\" data-y-scale=\"log\""));
    // Coinciding rates stay apart: outlined marks of another shape, lines of another dash.
    std::set<std::string> looks[2];
    static const std::regex rateMark("class=\"mark\" data-rate=\"(\\d+)\"[^>]* d=\"([^\"]+)\" fill=\"none\" "
                                     "stroke=\"(#[0-9A-F]+)\"");
    size_t outlined = 0;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), rateMark); it != std::sregex_iterator();
         ++it) {
        looks[(*it)[1] == "48000"].insert((*it)[2].str() + " " + (*it)[3].str());
        ++outlined;
    }
    EXPECT_EQ(outlined, 8u);
    EXPECT_EQ(looks[0].size(), 1u);
    EXPECT_EQ(looks[1].size(), 1u);
    EXPECT_NE(*looks[0].begin(), *looks[1].begin());
    EXPECT_EQ(occurrences(page, "stroke-dasharray=\"5 3\" d=\"M"), 1u);
    // A failed setting is crossed out where it is drawn; a refused one and one that failed
    // with no round trip are marked along the top at their sizes.
    EXPECT_EQ(
        markXs(page, "data-kind=\"failed\" data-rate=\"48000\" data-buffer=\"32\" data-round-trip").size(),
        1u);
    EXPECT_EQ(markXs(page, "data-kind=\"refused\" data-rate=\"44100\" data-buffer=\"512\"").size(), 1u);
    EXPECT_EQ(markXs(page, "data-kind=\"failed\" data-rate=\"48000\" data-buffer=\"16\"").size(), 1u);
    const auto x = [&](const char* rest) {
        return markXs(page, std::string("data-rate=\"44100\" ") + rest)[0];
    };
    const double step = x("data-buffer=\"64\"") - x("data-buffer=\"32\"");
    EXPECT_NEAR(markXs(page, "data-kind=\"refused\"")[0] - x("data-buffer=\"256\""), step, 0.15);
    // The verdict and its reasons stay in a cell of limited height (how high, the browser
    // check measures).
    EXPECT_EQ(occurrences(page, "<div class=\"cell-scroll\""), data.sweep.size());
}

} // namespace
