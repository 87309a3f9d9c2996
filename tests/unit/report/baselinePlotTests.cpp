// An earlier run's series read from its document and drawn faintly under this run's in
// the sweep's and the round trips' plots, on axes that hold both; a baseline without
// such data draws nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/fromDocument.h"
#include "report/htmlReport.h"

using namespace report;
using json = nlohmann::json;

namespace {

// The <svg> of the plot of that name, empty when the page has none.
std::string plotNamed(const std::string& page, const std::string& name) {
    const size_t start =
        page.find("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"plot\" data-plot=\"" + name);
    if (start == std::string::npos) return "";
    return page.substr(start, page.find("</svg>", start) - start);
}

double attribute(const std::string& svg, const std::string& name) {
    std::smatch found;
    return std::regex_search(svg, found, std::regex(name + "=\"([-\\d.e]+)\"")) ? std::stod(found[1].str())
                                                                                : NAN;
}

// Where a value stands on the plot's linear y axis, in pixels.
double pixelY(const std::string& svg, double value) {
    std::smatch area;
    if (!std::regex_search(svg, area,
                           std::regex("class=\"area\" x=\"[\\d.]+\" y=\"([\\d.]+)\" width=\"[\\d.]+\" "
                                      "height=\"([\\d.]+)\"")))
        return NAN;
    const double top = std::stod(area[1].str()), height = std::stod(area[2].str());
    const double low = attribute(svg, "data-y-min"), high = attribute(svg, "data-y-max");
    return top + height - (value - low) / (high - low) * height;
}

struct FaintMark {
    std::string attributes;
    double y = 0;
};

std::vector<FaintMark> faintMarks(const std::string& svg) {
    std::vector<FaintMark> marks;
    static const std::regex mark(
        "<path class=\"mark faint\" ([^>]*)transform=\"translate\\([-\\d.]+,([-\\d.]+)\\)");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), mark); it != std::sregex_iterator(); ++it)
        marks.push_back({(*it)[1].str(), std::stod((*it)[2].str())});
    return marks;
}

json sweepRow(int buffer, double roundTrip, const char* verdict) {
    return {{"rate", 48000},
            {"buffer", buffer},
            {"accepted", true},
            {"stats", {{"switches", 100}, {"expectedSwitches", 100}, {"late", 0}}},
            {"latency", {{"measuredSamples", roundTrip}}},
            {"verdict", verdict},
            {"reasons", json::array()}};
}

BaselineData comparedWith(const json& baselineDocument) {
    BaselineData baseline;
    baseline.file = "before.json";
    addBaselineSeries(baseline, baselineDocument);
    return baseline;
}

TEST(BaselinePlots, TheSweepsRoundTripsLieUnderThisRunsOnAxesThatHoldBoth) {
    const json earlier = {
        {"sweep", {sweepRow(64, 224, "pass"), sweepRow(128, 352, "fail"), sweepRow(2048, 4000, "pass")}}};
    ReportData data;
    for (int32_t size : {64, 128}) {
        SweepRow row;
        row.rate = 48000;
        row.buffer = size;
        row.roundTripSamples = 2.0 * size + 160;
        data.sweep.push_back(row);
    }
    data.baseline = comparedWith(earlier);
    ASSERT_EQ(data.baseline->sweep.size(), 3u);
    EXPECT_EQ(data.baseline->sweep[1].verdict, Outcome::fail);

    const std::string svg = plotNamed(renderHtmlReport(data), "sweep-round-trip");
    ASSERT_FALSE(svg.empty());
    // The baseline's size and round trip beyond this run's widen the axes.
    EXPECT_GE(attribute(svg, "data-x-max"), 2048);
    EXPECT_GE(attribute(svg, "data-y-max"), 4000);
    const std::vector<FaintMark> marks = faintMarks(svg);
    ASSERT_EQ(marks.size(), 3u);
    size_t crossed = 0;
    for (const FaintMark& mark : marks)
        crossed += mark.attributes.find("data-verdict=\"fail\"") != std::string::npos;
    EXPECT_EQ(crossed, 1u);
    // Drawn first, so this run's lines and marks lie on top; one legend entry for it all.
    const size_t faint = svg.find(" faint\""), ownLine = svg.find("<path class=\"line\""),
                 ownMark = svg.find("<path class=\"mark\"");
    ASSERT_NE(ownLine, std::string::npos);
    ASSERT_NE(ownMark, std::string::npos);
    EXPECT_LT(faint, ownLine);
    EXPECT_LT(svg.rfind("class=\"mark faint\""), ownLine);
    EXPECT_LT(svg.rfind("class=\"mark faint\""), ownMark);
    EXPECT_EQ(svg.find(">baseline</text>"), svg.rfind(">baseline</text>"));
    EXPECT_NE(svg.find(">baseline</text>"), std::string::npos);

    // A run that lost every round trip the baseline had still shows the baseline's.
    for (SweepRow& row : data.sweep)
        row.roundTripSamples.reset();
    EXPECT_EQ(faintMarks(plotNamed(renderHtmlReport(data), "sweep-round-trip")).size(), 3u);
}

TEST(BaselinePlots, TheRoundTripOfEveryStartAndOfTheLoop) {
    // The starts: each baseline start's round trip at its own height, the axis over the
    // baseline's starts where it made more.
    ReportData starts;
    starts.starts.emplace();
    for (int32_t i = 1; i <= 3; ++i)
        starts.starts->starts.push_back({i, 5.0, 696.0, Outcome::pass, {}});
    json rows = json::array();
    for (int i = 1; i <= 5; ++i)
        rows.push_back(
            {{"start", i}, {"latency", {{"measuredSamples", i == 4 ? 996 : 600}}}, {"verdict", "pass"}});
    starts.baseline = comparedWith({{"starts", rows}});
    const std::string startsPlot = plotNamed(renderHtmlReport(starts), "start-round-trips");
    const std::vector<FaintMark> marks = faintMarks(startsPlot);
    ASSERT_EQ(marks.size(), 5u);
    EXPECT_NEAR(marks[3].y, pixelY(startsPlot, 996), 0.5);
    EXPECT_NEAR(marks[0].y, pixelY(startsPlot, 600), 0.5);
    EXPECT_GE(attribute(startsPlot, "data-x-max"), 5);
    EXPECT_LT(startsPlot.find("class=\"mark faint\""), startsPlot.find("<path class=\"mark\""));

    // A measured run's baseline holds its loop's round trip, not each burst's: a faint line
    // across the run at that round trip.
    ReportData loop;
    loop.latency.emplace();
    loop.latency->reportedSamples = 600;
    for (int i = 0; i < 4; ++i)
        loop.latency->bursts.push_back({0.5 * i, 632});
    loop.baseline = comparedWith({{"latency", {{"output", 1}, {"input", 1}, {"measuredSamples", 560}}}});
    const std::string loopPlot = plotNamed(renderHtmlReport(loop), "round-trips");
    std::smatch line;
    ASSERT_TRUE(std::regex_search(
        loopPlot, line,
        std::regex("class=\"line faint\"[^>]* d=\"M[-\\d.]+ ([-\\d.]+)L[-\\d.]+ ([-\\d.]+)\"")));
    EXPECT_NEAR(std::stod(line[1].str()), pixelY(loopPlot, 560), 0.5);
    EXPECT_EQ(line[1].str(), line[2].str());
    EXPECT_LE(attribute(loopPlot, "data-y-min"), 560);
    EXPECT_LT(line.position(0), ptrdiff_t(loopPlot.find("<path class=\"mark\"")));
}

TEST(BaselinePlots, ABaselineWithoutTheSeriesDrawsNothing) {
    // A measured run's baseline under a sweep, a sweep's under a loop, and one with no
    // round trip at all: the plots are drawn as without a baseline.
    ReportData sweep;
    SweepRow row;
    row.rate = 48000;
    row.buffer = 256;
    row.roundTripSamples = 696;
    sweep.sweep.push_back(row);
    ReportData loop;
    loop.latency.emplace();
    loop.latency->reportedSamples = 600;
    loop.latency->bursts.push_back({0.5, 696});
    for (const json& earlier :
         {json{{"latency", {{"measuredSamples", 560}}}}, json{{"sweep", {sweepRow(64, 224, "pass")}}},
          json{{"latency", {{"measuredSamples", nullptr}}}}, json(nullptr)}) {
        for (ReportData* data : {&sweep, &loop}) {
            const std::string before = renderHtmlReport(*data);
            data->baseline = comparedWith(earlier);
            const std::string page = renderHtmlReport(*data);
            data->baseline.reset();
            const bool drawn = page.find(" faint\"") != std::string::npos;
            const bool same = (data == &sweep && earlier.contains("sweep")) ||
                              (data == &loop && earlier.contains("latency") &&
                               !earlier["latency"]["measuredSamples"].is_null());
            EXPECT_EQ(drawn, same) << earlier.dump();
            if (!same) {
                EXPECT_EQ(plotNamed(page, data == &sweep ? "sweep-round-trip" : "round-trips"),
                          plotNamed(before, data == &sweep ? "sweep-round-trip" : "round-trips"))
                    << earlier.dump();
            }
        }
    }
}

} // namespace
