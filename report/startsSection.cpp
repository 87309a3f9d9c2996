// The starts of /starts: the round trip each start measured and the time from each
// start's return to its first callback, one mark per start, those of failed starts
// crossed; then the spread of the round trips and each kind of failure with its rate.
#include <algorithm>

#include "report/axisTicks.h"
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// A first callback later than this after start returned fails the start.
constexpr double firstCallbackLimitMs = 1000.0;

std::string startAttributes(const StartRow& row) {
    return "data-start=\"" + std::to_string(row.start) + "\" data-verdict=\"" +
           (row.verdict ? outcomeName(*row.verdict) : "none") + "\"";
}

bool failed(const StartRow& row) {
    return row.verdict && *row.verdict != Outcome::pass;
}

std::string verdictTip(const StartRow& row) {
    std::string tip = row.verdict ? outcomeName(*row.verdict) : "no verdict";
    if (!row.reasons.empty()) tip += ": " + row.reasons.front();
    return tip;
}

Axis startAxis(size_t starts) {
    return axisFromRange(linearRange(1, std::max<double>(double(starts), 2), 10, 0.02), "Start", "number");
}

// The baseline's starts as hollow faint marks, under this run's.
std::vector<Mark> baselineMarks(const std::vector<StartRow>& starts) {
    std::vector<Mark> marks;
    for (const StartRow& row : starts)
        if (row.roundTripSamples)
            marks.push_back(
                {double(row.start), *row.roundTripSamples,
                 startAttributes(row) + " data-round-trip=\"" + compactNumber(*row.roundTripSamples) + "\"",
                 "baseline, start " + std::to_string(row.start) + ": " +
                     compactNumber(*row.roundTripSamples) + " samples, " + verdictTip(row)});
    return marks;
}

std::string roundTripPlot(const StartsData& data, const std::vector<StartRow>& baseline) {
    std::vector<Mark> passed, crossed;
    double low = 0, high = 0;
    bool any = false;
    for (const StartRow& row : data.starts) {
        if (!row.roundTripSamples) continue;
        low = any ? std::min(low, *row.roundTripSamples) : *row.roundTripSamples;
        high = any ? std::max(high, *row.roundTripSamples) : *row.roundTripSamples;
        any = true;
        Mark mark{double(row.start), *row.roundTripSamples,
                  startAttributes(row) + " data-round-trip=\"" + compactNumber(*row.roundTripSamples) + "\"",
                  "start " + std::to_string(row.start) + ": " + compactNumber(*row.roundTripSamples) +
                      " samples, " + verdictTip(row)};
        (failed(row) ? crossed : passed).push_back(mark);
    }
    if (!any) return "";
    std::vector<Mark> earlier = baselineMarks(baseline);
    std::string description = "Round trip of each of " + std::to_string(data.starts.size()) +
                              " starts: from " + compactNumber(low) + " to " + compactNumber(high) +
                              " samples.";
    size_t starts = data.starts.size();
    // The axes hold the baseline's starts as well.
    for (const Mark& mark : earlier) {
        low = std::min(low, mark.y);
        high = std::max(high, mark.y);
        starts = std::max(starts, size_t(mark.x));
    }
    if (!earlier.empty())
        description += " The baseline's " + std::to_string(earlier.size()) + " are drawn faintly under them.";
    SvgPlot plot("start-round-trips", "Round trip of every start", description, startAxis(starts),
                 axisFromRange(linearRange(low, high, 6, 0.05), "Round trip", "samples"));
    if (!earlier.empty()) plot.faintMarks(std::move(earlier), Shape::circle, "baseline");
    plot.marks(std::move(passed), Colour::blue, Shape::circle, "passed");
    plot.marks(std::move(crossed), Colour::vermillion, Shape::cross, "failed");
    return plotFigure("Round trip of every start", plot,
                      "Each mark is one start's round trip. They should all lie on one line: a host "
                      "compensates the round trip it measured once, and one that moves between starts "
                      "misaligns every recording after a restart.");
}

std::string firstCallbackPlot(const StartsData& data) {
    std::vector<Mark> passed, crossed, none;
    double high = 0;
    for (const StartRow& row : data.starts) {
        const std::string name = "start " + std::to_string(row.start);
        if (!row.firstCallbackMs) {
            if (row.verdict)
                none.push_back({double(row.start), 0, startAttributes(row) + " data-kind=\"none\"",
                                name + ": no callback came, " + verdictTip(row)});
            continue;
        }
        high = std::max(high, *row.firstCallbackMs);
        Mark mark{double(row.start), *row.firstCallbackMs,
                  startAttributes(row) + " data-first-callback-ms=\"" + compactNumber(*row.firstCallbackMs) +
                      "\"",
                  name + ": " + fixedNumber(*row.firstCallbackMs, 2) + " ms, " + verdictTip(row)};
        (failed(row) ? crossed : passed).push_back(mark);
    }
    if (passed.empty() && crossed.empty() && none.empty()) return "";
    // The limit is drawn where the callbacks come near it.
    const bool nearLimit = high > firstCallbackLimitMs / 2;
    const double top = std::max(nearLimit ? firstCallbackLimitMs : 0.0, high);
    SvgPlot plot("start-first-callbacks", "First callback after every start",
                 "Time from each start's return to its first callback, up to " + fixedNumber(high, 2) +
                     " ms" + (none.empty() ? "" : "; " + std::to_string(none.size()) + " starts had none") +
                     ".",
                 startAxis(data.starts.size()),
                 axisFromRange(linearRange(0, std::max(top * 1.15, 1.0), 6), "First callback", "ms"));
    if (nearLimit)
        plot.horizontalRule(firstCallbackLimitMs, Colour::black, "1 s: a start without a callback");
    plot.marks(std::move(passed), Colour::blue, Shape::circle, "passed");
    plot.marks(std::move(crossed), Colour::vermillion, Shape::cross, "failed");
    plot.marks(std::move(none), Colour::vermillion, Shape::star, "no callback came", 0);
    return plotFigure("First callback after every start", plot,
                      "Each mark is the time from one start's return to its first callback; a start with "
                      "none stands in the row along the top. A host waits for the first callback after "
                      "every start: one that takes over a second fails the start.");
}

} // namespace

std::string startsSection(const StartsData& data, const BaselineData* baseline) {
    std::string out = "<section id=\"starts\"><h2>Every start</h2>";
    if (!data.spread.empty())
        out += "<p class=\"starts-spread\">Round trip: " + escapeMarkup(data.spread) + "</p>";
    if (data.failures.empty())
        out += "<p class=\"starts-failures\">No start failed.</p>";
    else {
        out += "<ul class=\"starts-failures\">";
        for (const std::string& failure : data.failures)
            out += "<li>" + escapeMarkup(failure) + "</li>";
        out += "</ul>";
    }
    return out + roundTripPlot(data, baseline ? baseline->starts : std::vector<StartRow>()) +
           firstCallbackPlot(data) + "</section>";
}

} // namespace report
