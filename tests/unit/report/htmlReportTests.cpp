// The document as a whole: a report holds a plot only where its data is, every text a
// driver or the command line brings in is escaped, every plot carries its title and text
// alternative, and an hour's run stays small with every plot within its point budget
// and its events marked at their times. (How it looks is checked in a browser, in
// tests/report.)
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "report/htmlReport.h"

using namespace report;

namespace {

size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

std::vector<std::string> plotsOf(const std::string& page) {
    std::vector<std::string> plots;
    for (size_t at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 1))
        plots.push_back(page.substr(at, page.find("</svg>", at) + 6 - at));
    return plots;
}

// The value of the first `name="…"` at or after `from` (plain searches: the standard
// regex recurses per character and overflows a small stack on long paths).
std::string attribute(const std::string& text, const std::string& name, size_t from) {
    const size_t start = text.find(name + "=\"", from);
    if (start == std::string::npos) return "";
    const size_t value = start + name.size() + 2;
    return text.substr(value, text.find('"', value) - value);
}

// Marks, and vertices of lines, bands and columns.
size_t pointsOf(const std::string& plot) {
    size_t points = countOf(plot, "class=\"mark\"");
    for (const char* kind : {"line", "band", "columns"}) {
        const std::string opening = std::string("class=\"") + kind + "\"";
        for (size_t at = plot.find(opening); at != std::string::npos; at = plot.find(opening, at + 1))
            for (char c : attribute(plot, "d", at))
                points += c == 'M' || c == 'L' || c == 'H' || c == 'V';
    }
    return points;
}

TimingData hourOfTiming() {
    TimingData timing;
    timing.periodUs = 6250;
    timing.lateThresholdUs = 9375;
    timing.intervalCounts.assign(65536, 0);
    for (int b = 0; b < 36000; ++b) {
        const double jitter = (b * 7919 % 97) - 48;
        timing.timeline.push_back({b * 0.1, 16, 16, 6200 + jitter, 6250,
                                   6300 + jitter + (b % 500 == 0 ? 8000 : 0), 150, 300 + jitter});
        timing.intervalCounts[size_t(6200 + (b % 100))] += 16;
    }
    timing.longIntervals[70000] = 2;
    for (int i = 0; i < 5000; ++i) {
        const EventKind kind = i % 2 ? EventKind::lateSwitch : EventKind::gap;
        timing.events.push_back({0.7 * i + 0.3, kind, "detail <" + std::to_string(i) + ">"});
        ++timing.eventTotals[size_t(kind)];
    }
    timing.eventTotals[size_t(EventKind::gap)] += 100; // the list was cut
    return timing;
}

TEST(HtmlReport, PlotsAppearOnlyWithTheirDataAndEveryTextIsEscaped) {
    ReportData empty;
    const std::string bare = renderHtmlReport(empty);
    EXPECT_EQ(bare.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(bare.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_TRUE(plotsOf(bare).empty());
    EXPECT_EQ(bare.find("<section"), std::string::npos);

    ReportData data;
    const std::string hostile = "</svg><script>alert(1)</script>\" onload=\"x";
    data.tool = {"1.0", 64, "today", "echoprobe /html=" + hostile};
    data.driver = DriverFacts{0, hostile, hostile, hostile, 1, hostile};
    data.channels.push_back({1, true, hostile, hostile, 0, true});
    data.verdict = Outcome::fail;
    data.reasons = {hostile};
    data.summary = {{hostile, hostile}};
    data.timing = hourOfTiming();
    data.timing->events[0].detail = hostile;
    data.sweep.push_back({48000,
                          64,
                          true,
                          "",
                          64,
                          64,
                          224.0,
                          4.667,
                          96.0,
                          1500,
                          1500,
                          0,
                          1400,
                          0.1,
                          Outcome::pass,
                          {hostile}});
    SweepRow refused;
    refused.rate = 48000;
    refused.buffer = 128;
    refused.accepted = false;
    refused.refusal = hostile;
    data.sweep.push_back(refused);
    ConformanceDriver suite;
    suite.driver = hostile;
    suite.checks.push_back({hostile, CheckResult::warn, hostile, 0.5, {hostile, hostile}});
    data.conformance.push_back(suite);
    const std::string page = renderHtmlReport(data);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("\" onload"), std::string::npos);
    EXPECT_EQ(countOf(page, "<svg"), countOf(page, "</svg>"));
    EXPECT_EQ(countOf(page, "<section"), countOf(page, "</section>"));

    std::vector<std::string> names;
    static const std::regex axisTitle("class=\"axis-title\"[^>]*>[^<(]+ \\([^)]+\\)</text>");
    for (const std::string& plot : plotsOf(page)) {
        const std::smatch name = [&] {
            std::smatch m;
            std::regex_search(plot, m, std::regex("data-plot=\"([^\"]+)\""));
            return m;
        }();
        names.push_back(name[1]);
        EXPECT_NE(plot.find("role=\"img\""), std::string::npos) << name[1];
        EXPECT_TRUE(std::regex_search(
            plot, std::regex("<title id=\"[^\"]+\">[^<]+</title><desc id=\"[^\"]+\">[^<]+</desc>")))
            << name[1];
        // Both axes say what they measure and in which unit.
        EXPECT_EQ(
            std::distance(std::sregex_iterator(plot.begin(), plot.end(), axisTitle), std::sregex_iterator()),
            2)
            << name[1];
    }
    EXPECT_EQ(names, (std::vector<std::string>{"intervals-histogram", "intervals-timeline", "host-time",
                                               "sweep-round-trip"}));

    // A loopback run adds its plots, a glitch snapshot each.
    data.latency = LatencyData{};
    data.latency->correlation = {{695, 0.1}, {696, 0.99}, {697, 0.1}};
    data.latency->foundLag = 696;
    data.latency->bursts = {{0.5, 696}, {1.0, 696}};
    data.latency->glitchSnapshots.push_back(
        {1000, 0.02, 900, std::vector<float>(200, 0.1f), std::vector<float>(200, 0.2f)});
    const std::string withLatency = renderHtmlReport(data);
    for (const char* plot : {"correlation", "round-trips", "glitch-1"})
        EXPECT_NE(withLatency.find(std::string("data-plot=\"") + plot + "\""), std::string::npos) << plot;
}

TEST(HtmlReport, AnHourStaysSmallWithinThePointBudgetAndMarksItsEventsAtTheirTimes) {
    ReportData data;
    data.timing = hourOfTiming();
    data.latency = LatencyData{};
    for (int k = 0; k < 7200; ++k)
        data.latency->bursts.push_back({0.5 * k, 696.0 + (k == 4321 ? 5 : 0)});
    const std::string page = renderHtmlReport(data);
    EXPECT_LT(page.size(), 1'000'000u);
    for (const std::string& plot : plotsOf(page))
        EXPECT_LE(pointsOf(plot), 2000u) << plot.substr(0, 120);

    // The first event of each kind has its own mark at its exact time, and marks that
    // merge neighbours count them: no event is lost from the plot.
    EXPECT_NE(page.find("data-kind=\"gap\" data-t=\"0.3\""), std::string::npos);
    EXPECT_NE(page.find("data-kind=\"late-switch\" data-t=\"1\""), std::string::npos);
    size_t marked = 0;
    for (size_t at = page.find("data-count=\""); at != std::string::npos;
         at = page.find("data-count=\"", at + 1))
        marked += std::stoul(attribute(page, "data-count", at));
    EXPECT_EQ(marked, 5000u);
    // Totals count the events the list left out.
    EXPECT_NE(page.find("data-kind=\"gap\" data-total=\"2600\""), std::string::npos);
    // The one burst that came back late is still drawn.
    EXPECT_NE(page.find("data-t=\"2160.5\" data-round-trip=\"701\""), std::string::npos);
}

} // namespace
