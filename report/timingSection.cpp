// The callback timing of a run: the histogram of intervals, the intervals over time with
// every event marked at its time, and the host's time per switch against the period. The
// time axes end where the run ended; the machine's stalls are left out where the probe
// could not resolve them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "report/axisTicks.h"
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// Events of one kind closer than this many pixels share one mark (which counts them).
constexpr double eventMergePixels = 8;
// Rows of the event table; the totals count every event.
constexpr size_t eventTableRows = 40;

// How the section shows the run: up to where, with or without the machine's stalls, and
// where a run that crashed or hung ended.
struct View {
    double end = 0;
    bool stallsShown = true;
    std::optional<double> failedAt;

    bool shows(const TimingEvent& event) const {
        return stallsShown || event.kind != EventKind::machineStall;
    }
    uint64_t total(const TimingData& timing, EventKind kind) const {
        return kind == EventKind::machineStall && !stallsShown ? 0 : timing.eventTotals[size_t(kind)];
    }
};

View viewOf(const ReportData& data) {
    const TimingData& timing = *data.timing;
    View view;
    // The run's length where it is known; else as far as its data reaches.
    if (data.runSeconds && *data.runSeconds > 0) {
        view.end = *data.runSeconds;
    } else {
        if (!timing.timeline.empty()) view.end = timing.timeline.back().t + timing.binSeconds;
        for (const TimingEvent& event : timing.events)
            view.end = std::max(view.end, event.t);
    }
    view.end = std::max(view.end, timing.binSeconds);
    view.stallsShown = data.machineProbed.value_or(true);
    if (data.failureAt) view.failedAt = data.failureAt->seconds;
    return view;
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

std::string intervalTimeline(const TimingData& timing, const View& view) {
    const double end = view.end;
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

    const TickedRange xRange = exactRange(0, end, 10);
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
    if (view.failedAt) plot.verticalRule(*view.failedAt, Colour::purple, "the run ended");

    int lane = 0;
    std::string marked;
    for (size_t k = 0; k < eventKindCount; ++k) {
        const EventKind kind = EventKind(k);
        std::vector<const TimingEvent*> ofKind;
        for (const TimingEvent& event : timing.events)
            if (event.kind == kind && view.shows(event)) ofKind.push_back(&event);
        if (ofKind.empty()) continue;
        std::stable_sort(ofKind.begin(), ofKind.end(),
                         [](const TimingEvent* a, const TimingEvent* b) { return a->t < b->t; });
        const uint64_t total = std::max<uint64_t>(view.total(timing, kind), ofKind.size());
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

std::string hostTime(const TimingData& timing, const View& view) {
    const double end = view.end;
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
    const TickedRange xRange = exactRange(0, end, 10);
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
    if (view.failedAt) plot.verticalRule(*view.failedAt, Colour::purple, "the run ended");
    return plotFigure(
        "Host time per switch", plot,
        "The tool's own time inside each callback (logarithmic scale). While it stays well below "
        "the period line the host is not the cause of a late switch.");
}

// The events the table lists: the driver's in time order, then the machine's stalls, so
// that a flood of stalls never hides a late switch.
std::vector<const TimingEvent*> listedEvents(const TimingData& timing, const View& view) {
    std::vector<const TimingEvent*> listed;
    for (const TimingEvent& event : timing.events)
        if (event.kind != EventKind::machineStall) listed.push_back(&event);
    for (const TimingEvent& event : timing.events)
        if (event.kind == EventKind::machineStall && view.shows(event)) listed.push_back(&event);
    const auto driverFirst = [](const TimingEvent* a, const TimingEvent* b) {
        const bool aStall = a->kind == EventKind::machineStall, bStall = b->kind == EventKind::machineStall;
        return aStall != bStall ? bStall : a->t < b->t;
    };
    std::stable_sort(listed.begin(), listed.end(), driverFirst);
    return listed;
}

std::string eventTable(const TimingData& timing, const View& view) {
    uint64_t total = 0;
    for (size_t k = 0; k < eventKindCount; ++k)
        total += view.total(timing, EventKind(k));
    const std::vector<const TimingEvent*> listed = listedEvents(timing, view);
    if (total == 0 && listed.empty()) return "";
    std::string out = "<h3>Events</h3><p class=\"totals\">";
    bool first = true;
    for (size_t k = 0; k < eventKindCount; ++k) {
        const uint64_t count = view.total(timing, EventKind(k));
        if (count == 0) continue;
        out += std::string(first ? "" : ", ") + "<span data-kind=\"" + eventKindName(EventKind(k)) +
               "\" data-total=\"" + std::to_string(count) + "\">" + countedEvents(count, EventKind(k)) +
               "</span>";
        first = false;
    }
    out += first ? "No events counted." : ".";
    const bool stalls = std::any_of(listed.begin(), listed.end(),
                                    [](const TimingEvent* e) { return e->kind == EventKind::machineStall; });
    const bool driverEvents = !listed.empty() && listed.front()->kind != EventKind::machineStall;
    if (listed.size() > eventTableRows)
        out += " The table lists the first " + std::to_string(eventTableRows) + " of " +
               std::to_string(listed.size()) + " kept" +
               (stalls && driverEvents ? ", the driver's events before the machine's stalls." : ".");
    else if (stalls && driverEvents)
        out += " The driver's events come first, then the machine's stalls.";
    out += "</p><table class=\"events\"><thead><tr><th>Time "
           "(s)</th><th>Event</th><th>Detail</th></tr></thead><tbody>";
    for (size_t i = 0; i < listed.size() && i < eventTableRows; ++i) {
        const TimingEvent& event = *listed[i];
        out += std::string("<tr data-kind=\"") + eventKindName(event.kind) + "\" data-t=\"" +
               compactNumber(event.t) + "\"><td class=\"number\">" + fixedNumber(event.t, 3) + "</td><td>" +
               eventKindLabel(event.kind) + "</td><td>" + escapeMarkup(event.detail) + "</td></tr>";
    }
    out += "</tbody></table>";
    return out;
}

// What the reader must know about the machine's stalls before reading the plots.
std::string stallNote(const ReportData& data, const View& view) {
    if (!view.stallsShown)
        return "<p class=\"note\" data-note=\"stalls-unresolved\">The machine probe could not resolve "
               "stalls on this machine: none is drawn, and no late switch could be checked against "
               "them.</p>";
    if (data.failureAt && !data.machineProbed)
        return "<p class=\"note\" data-note=\"stalls-unknown\">The machine's stalls are not known: the run "
               "ended before they were read.</p>";
    return "";
}

} // namespace

std::string timingSection(const ReportData& data) {
    if (!data.timing) return "";
    const TimingData& timing = *data.timing;
    const View view = viewOf(data);
    std::string body = intervalHistogram(timing) + intervalTimeline(timing, view) + hostTime(timing, view) +
                       eventTable(timing, view);
    if (body.empty()) return "";
    std::string heading = "Buffer switch timing";
    if (data.failureAt && data.failureAt->setting)
        heading += " of " + settingText(*data.failureAt->setting) + ", until the run ended";
    else if (data.failureAt)
        heading += " until the run ended";
    return "<section id=\"timing\"><h2>" + escapeMarkup(heading) + "</h2>" + stallNote(data, view) + body +
           "</section>";
}

} // namespace report
