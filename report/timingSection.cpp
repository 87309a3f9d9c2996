// The callback timing of a run: the histogram of intervals, the intervals over time with
// every event marked at its time, and the host's time per switch against the period.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "report/axisTicks.h"
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// Events of one kind closer than this many pixels share one mark (which counts them).
constexpr double eventMergePixels = 8;
// Rows of the event table; the totals count every event.
constexpr size_t eventTableRows = 40;

double runEnd(const TimingData& timing) {
    double end = 0;
    if (!timing.timeline.empty()) end = timing.timeline.back().t + timing.binSeconds;
    for (const TimingEvent& event : timing.events)
        end = std::max(end, event.t);
    return end;
}

// The top of an axis of intervals: above the late threshold, but a stall of seconds
// would flatten everything else, so longer values are drawn at the top edge.
double intervalAxisTop(const TimingData& timing, double largest) {
    const double reach = std::max(timing.lateThresholdUs * 1.15, timing.periodUs * 1.2);
    if (!(reach > 0)) return largest;
    return std::clamp(largest * 1.05, reach, std::max(reach, timing.periodUs * 4));
}

// A log axis of counts that starts below 1, so that a single count is a visible column.
Axis countAxis(uint64_t largest) {
    const TickedRange decades = logRange(1, double(std::max<uint64_t>(largest, 2)));
    Axis axis = axisFromRange(decades, "Intervals", "count", Scale::log);
    axis.min = 0.5;
    return axis;
}

std::string us(double value) {
    return compactNumber(value, 5) + " µs";
}

std::string intervalHistogram(const TimingData& timing) {
    uint64_t total = 0, largestCount = 0;
    int64_t shortest = -1, longest = -1;
    for (size_t i = 0; i < timing.intervalCounts.size(); ++i) {
        if (timing.intervalCounts[i] == 0) continue;
        if (shortest < 0) shortest = int64_t(i);
        longest = int64_t(i);
        total += timing.intervalCounts[i];
    }
    for (const auto& [value, count] : timing.longIntervals) {
        if (count == 0) continue;
        if (shortest < 0) shortest = value;
        longest = std::max(longest, value);
        total += count;
    }
    if (total == 0) return "";

    double low = double(shortest);
    if (timing.periodUs > 0) low = std::min(low, timing.periodUs * 0.9);
    const double top = intervalAxisTop(timing, double(longest) + 1);
    const TickedRange xRange = linearRange(low, top, 8);

    const int columns = SvgPlot::columns();
    const double width = (xRange.max - xRange.min) / columns;
    std::vector<uint64_t> sums(size_t(columns), 0);
    uint64_t offScale = 0;
    const auto add = [&](double value, uint64_t count) {
        // The interval of whole microseconds value … value + 1.
        int column = int(std::floor((value + 0.5 - xRange.min) / width));
        if (column >= columns) {
            offScale += count;
            column = columns - 1;
        }
        sums[size_t(std::max(column, 0))] += count;
    };
    for (size_t i = 0; i < timing.intervalCounts.size(); ++i)
        if (timing.intervalCounts[i] != 0) add(double(i), timing.intervalCounts[i]);
    for (const auto& [value, count] : timing.longIntervals)
        if (count != 0) add(double(value), count);

    std::vector<Column> bars;
    for (int c = 0; c < columns; ++c) {
        if (sums[size_t(c)] == 0) continue;
        largestCount = std::max(largestCount, sums[size_t(c)]);
        bars.push_back({xRange.min + c * width, xRange.min + (c + 1) * width, double(sums[size_t(c)])});
    }

    std::string description = "Histogram of " + std::to_string(total) +
                              " intervals between buffer switches, from " + us(double(shortest)) + " to " +
                              us(double(longest)) + "; period " + us(timing.periodUs) + ", late threshold " +
                              us(timing.lateThresholdUs) + ".";
    if (offScale > 0)
        description += " " + std::to_string(offScale) + " intervals longer than " + us(xRange.max) +
                       " are counted in the last column.";
    SvgPlot plot("intervals-histogram", "Callback intervals: histogram", description,
                 axisFromRange(xRange, "Interval between switches", "µs"), countAxis(largestCount));
    plot.columnsOf(std::move(bars), Colour::skyBlue,
                   offScale > 0 ? "intervals (last column: also all longer)" : "intervals");
    if (timing.periodUs > 0)
        plot.verticalRule(timing.periodUs, Colour::black, "period " + us(timing.periodUs));
    if (timing.lateThresholdUs > 0)
        plot.verticalRule(timing.lateThresholdUs, Colour::vermillion,
                          "late threshold " + us(timing.lateThresholdUs));
    return plotFigure(
        "Callback intervals: histogram", plot,
        "How often each interval between two buffer switches occurred (count on a logarithmic "
        "scale, so a single late switch still shows). A good driver keeps one narrow peak at the "
        "period; anything right of the late threshold is a dropout a listener hears.");
}

// The marks of one kind of event, merged where they would overlap.
std::vector<Mark> eventMarks(const std::vector<const TimingEvent*>& events, double xMin, double xMax,
                             double pixels) {
    std::vector<Mark> marks;
    const double mergeSpan = (xMax - xMin) * eventMergePixels / pixels;
    size_t first = 0;
    while (first < events.size()) {
        size_t end = first + 1;
        while (end < events.size() && events[end]->t - events[first]->t < mergeSpan)
            ++end;
        const TimingEvent& event = *events[first];
        const size_t count = end - first;
        Mark mark;
        mark.x = event.t;
        mark.attributes = std::string("data-kind=\"") + eventKindName(event.kind) + "\" data-t=\"" +
                          compactNumber(event.t) + "\" data-count=\"" + std::to_string(count) + "\"";
        mark.tip = std::string(eventKindLabel(event.kind)) + " at " + fixedNumber(event.t, 3) + " s";
        if (!event.detail.empty()) mark.tip += ": " + event.detail;
        if (count > 1)
            mark.tip +=
                " (and " + std::to_string(count - 1) + " more within " + compactNumber(mergeSpan, 2) + " s)";
        marks.push_back(std::move(mark));
        first = end;
    }
    return marks;
}

std::string intervalTimeline(const TimingData& timing, double end) {
    std::vector<RangePoint> ranges;
    std::vector<Point> means;
    double largest = 0;
    for (const TimelineBin& bin : timing.timeline) {
        if (bin.intervals == 0) continue;
        const double x = bin.t + timing.binSeconds / 2;
        ranges.push_back({x, bin.intervalMinUs, bin.intervalMaxUs});
        means.push_back({x, bin.intervalMeanUs});
        largest = std::max(largest, bin.intervalMaxUs);
    }
    if (ranges.empty() && timing.events.empty()) return "";

    const TickedRange xRange = linearRange(0, std::max(end, timing.binSeconds), 10);
    const double top = intervalAxisTop(timing, largest);
    const TickedRange yRange = linearRange(0, top, 6);
    std::string description = "Callback intervals over " + compactNumber(end, 4) +
                              " s: minimum, mean and maximum of every " +
                              compactNumber(timing.binSeconds * 1000, 3) + " ms";
    if (largest > yRange.max) description += " (values above " + us(yRange.max) + " drawn at the top edge)";
    description += "; period " + us(timing.periodUs) + ", late threshold " + us(timing.lateThresholdUs) + ".";

    SvgPlot plot("intervals-timeline", "Callback intervals over the run", "",
                 axisFromRange(xRange, "Time", "s"), axisFromRange(yRange, "Interval", "µs"));
    const int columns = plot.columns();
    plot.band(decimateRanges(ranges, xRange.min, xRange.max, columns), Colour::skyBlue, "min … max per bin");
    plot.line(decimateMinMax(means, xRange.min, xRange.max, columns), Colour::blue, "mean per bin");
    if (timing.periodUs > 0) plot.horizontalRule(timing.periodUs, Colour::black, "period");
    if (timing.lateThresholdUs > 0)
        plot.horizontalRule(timing.lateThresholdUs, Colour::vermillion, "late threshold");

    int lane = 0;
    std::string marked;
    for (size_t k = 0; k < eventKindCount; ++k) {
        const EventKind kind = EventKind(k);
        std::vector<const TimingEvent*> ofKind;
        for (const TimingEvent& event : timing.events)
            if (event.kind == kind) ofKind.push_back(&event);
        if (ofKind.empty()) continue;
        std::stable_sort(ofKind.begin(), ofKind.end(),
                         [](const TimingEvent* a, const TimingEvent* b) { return a->t < b->t; });
        const uint64_t total = std::max<uint64_t>(timing.eventTotals[k], ofKind.size());
        plot.marks(eventMarks(ofKind, xRange.min, xRange.max, columns * 2.0), eventColour(kind),
                   eventShape(kind), std::string(eventKindLabel(kind)) + " (" + std::to_string(total) + ")",
                   lane++);
        marked += (marked.empty() ? " Marked: " : ", ") + countedEvents(total, kind) + " from " +
                  fixedNumber(ofKind.front()->t, 3) + " s";
    }
    description += marked.empty() ? " No events." : marked + ".";
    plot.describe(description);
    return plotFigure("Callback intervals over the run", plot,
                      "The band spans the shortest to the longest interval of each bin, the line is their "
                      "mean. It should lie flat on the period line; a spike above the late threshold is a "
                      "late switch. Marks along the top show where each event happened.");
}

std::string hostTime(const TimingData& timing, double end) {
    std::vector<Point> means, maxima;
    double lowest = 0, largest = 0;
    for (const TimelineBin& bin : timing.timeline) {
        if (bin.switches == 0) continue;
        const double x = bin.t + timing.binSeconds / 2;
        means.push_back({x, bin.hostMeanUs});
        maxima.push_back({x, bin.hostMaxUs});
        if (bin.hostMeanUs > 0 && (lowest == 0 || bin.hostMeanUs < lowest)) lowest = bin.hostMeanUs;
        largest = std::max(largest, bin.hostMaxUs);
    }
    if (means.empty()) return "";
    const TickedRange xRange = linearRange(0, std::max(end, timing.binSeconds), 10);
    const TickedRange yRange = logRange(lowest > 0 ? lowest : 1, std::max(largest, timing.periodUs) * 1.01);
    const std::string description =
        "Host time per buffer switch over " + compactNumber(end, 4) + " s, mean and maximum of every " +
        compactNumber(timing.binSeconds * 1000, 3) + " ms, largest " + us(largest) +
        ", against the period of " + us(timing.periodUs) + " (logarithmic scale).";
    SvgPlot plot("host-time", "Host time per switch", description, axisFromRange(xRange, "Time", "s"),
                 axisFromRange(yRange, "Host time", "µs", Scale::log));
    const int columns = plot.columns();
    plot.line(decimateMinMax(maxima, xRange.min, xRange.max, columns), Colour::orange, "max per bin");
    plot.line(decimateMinMax(means, xRange.min, xRange.max, columns), Colour::blue, "mean per bin");
    if (timing.periodUs > 0) plot.horizontalRule(timing.periodUs, Colour::black, "period");
    return plotFigure(
        "Host time per switch", plot,
        "The tool's own time inside each callback (logarithmic scale). While it stays well below "
        "the period line the host is not the cause of a late switch.");
}

std::string eventTable(const TimingData& timing) {
    uint64_t total = 0;
    for (uint64_t count : timing.eventTotals)
        total += count;
    if (total == 0 && timing.events.empty()) return "";
    std::string out = "<h3>Events</h3><p class=\"totals\">";
    bool first = true;
    for (size_t k = 0; k < eventKindCount; ++k) {
        if (timing.eventTotals[k] == 0) continue;
        out += std::string(first ? "" : ", ") + "<span data-kind=\"" + eventKindName(EventKind(k)) +
               "\" data-total=\"" + std::to_string(timing.eventTotals[k]) + "\">" +
               countedEvents(timing.eventTotals[k], EventKind(k)) + "</span>";
        first = false;
    }
    out += first ? "No events counted." : ".";
    if (timing.events.size() > eventTableRows)
        out += " The table lists the first " + std::to_string(eventTableRows) + " of " +
               std::to_string(timing.events.size()) + " kept.";
    out += "</p><table class=\"events\"><thead><tr><th>Time "
           "(s)</th><th>Event</th><th>Detail</th></tr></thead><tbody>";
    for (size_t i = 0; i < timing.events.size() && i < eventTableRows; ++i) {
        const TimingEvent& event = timing.events[i];
        out += std::string("<tr data-kind=\"") + eventKindName(event.kind) + "\" data-t=\"" +
               compactNumber(event.t) + "\"><td class=\"number\">" + fixedNumber(event.t, 3) + "</td><td>" +
               eventKindLabel(event.kind) + "</td><td>" + escapeMarkup(event.detail) + "</td></tr>";
    }
    out += "</tbody></table>";
    return out;
}

} // namespace

std::string timingSection(const TimingData& timing) {
    const double end = runEnd(timing);
    std::string body = intervalHistogram(timing) + intervalTimeline(timing, end) + hostTime(timing, end) +
                       eventTable(timing);
    if (body.empty()) return "";
    return "<section id=\"timing\"><h2>Buffer switch timing</h2>" + body + "</section>";
}

} // namespace report
