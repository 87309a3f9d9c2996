// A sweep over rates and buffer sizes: the round trip against the buffer size for each
// rate, one table row per setting, and the smallest size that passed at each rate.
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>

#include "report/axisTicks.h"
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

constexpr Colour rateColours[] = {Colour::blue,   Colour::vermillion, Colour::green, Colour::orange,
                                  Colour::purple, Colour::skyBlue,    Colour::black, Colour::yellow};
constexpr Shape rateShapes[] = {Shape::circle,       Shape::square, Shape::triangle, Shape::diamond,
                                Shape::triangleDown, Shape::star,   Shape::cross,    Shape::plus};

std::string rateText(double rate) {
    return compactNumber(rate) + " Hz";
}

std::string roundTripPlot(const std::vector<SweepRow>& rows) {
    std::map<double, std::vector<const SweepRow*>> byRate;
    double low = 0, high = 0, smallest = 0, largest = 0;
    bool any = false;
    for (const SweepRow& row : rows) {
        if (!row.accepted || !row.roundTripSamples) continue;
        byRate[row.rate].push_back(&row);
        const double buffer = double(row.buffer);
        if (!any) {
            low = high = *row.roundTripSamples;
            smallest = largest = buffer;
            any = true;
        }
        low = std::min(low, *row.roundTripSamples);
        high = std::max(high, *row.roundTripSamples);
        smallest = std::min(smallest, buffer);
        largest = std::max(largest, buffer);
    }
    if (!any) return "";
    const TickedRange xRange = linearRange(std::min(0.0, smallest), largest * 1.04, 8);
    const TickedRange yRange = linearRange(std::min(0.0, low), high * 1.04, 6);
    Axis x{"Buffer size", "samples", xRange.min, xRange.max, xRange.ticks, xRange.step, Scale::linear};
    Axis y{"Measured round trip", "samples",   yRange.min,   yRange.max,
           yRange.ticks,          yRange.step, Scale::linear};

    std::string description = "Measured round trip against buffer size";
    size_t index = 0;
    SvgPlot plot("sweep-round-trip", "Round trip against buffer size", "", x, y);
    for (auto& [rate, settings] : byRate) {
        std::sort(settings.begin(), settings.end(),
                  [](const SweepRow* a, const SweepRow* b) { return a->buffer < b->buffer; });
        std::vector<Point> line;
        std::vector<Mark> marks;
        description += std::string(index == 0 ? ": " : "; ") + "at " + rateText(rate);
        for (const SweepRow* row : settings) {
            line.push_back({double(row->buffer), *row->roundTripSamples});
            marks.push_back(
                {double(row->buffer), *row->roundTripSamples,
                 "data-rate=\"" + compactNumber(rate) + "\" data-buffer=\"" + std::to_string(row->buffer) +
                     "\" data-round-trip=\"" + compactNumber(*row->roundTripSamples) + "\" data-verdict=\"" +
                     outcomeName(row->verdict) + "\"",
                 rateText(rate) + ", " + std::to_string(row->buffer) + " samples: round trip " +
                     compactNumber(*row->roundTripSamples) + " samples, " + outcomeName(row->verdict)});
            description += " " + std::to_string(row->buffer) + " → " + compactNumber(*row->roundTripSamples);
        }
        const Colour colour = rateColours[index % std::size(rateColours)];
        plot.line(std::move(line), colour, "");
        plot.marks(std::move(marks), colour, rateShapes[index % std::size(rateShapes)], rateText(rate));
        ++index;
    }
    plot.describe(description + " (samples).");
    return plotFigure(
        "Round trip against buffer size", plot,
        "One line per rate, one mark per setting that ran with a loopback. A driver with a fixed "
        "number of buffers in flight gives straight lines; a setting that bends the line added "
        "or dropped a buffer of its own.");
}

std::string optionalSamples(const std::optional<double>& value) {
    return value ? compactNumber(*value) : std::string("–");
}

std::string sweepTable(const std::vector<SweepRow>& rows) {
    std::string out =
        "<table class=\"sweep\"><thead><tr><th>Rate (Hz)</th><th>Buffer</th><th>Reported in + out</th>"
        "<th>Round trip</th><th>Unreported</th><th>Switches / expected</th><th>Late</th>"
        "<th>Longest interval (µs)</th><th>Host load</th><th>Verdict</th></tr></thead><tbody>";
    for (const SweepRow& row : rows) {
        out += "<tr data-rate=\"" + compactNumber(row.rate) + "\" data-buffer=\"" +
               std::to_string(row.buffer) + "\"";
        if (row.accepted && row.roundTripSamples)
            out += " data-round-trip=\"" + compactNumber(*row.roundTripSamples) + "\"";
        out += " data-accepted=\"" + std::string(row.accepted ? "true" : "false") + "\" data-verdict=\"" +
               outcomeName(row.verdict) + "\">";
        out += "<td class=\"number\">" + compactNumber(row.rate) + "</td><td class=\"number\">" +
               std::to_string(row.buffer) + "</td>";
        if (!row.accepted) {
            out += "<td colspan=\"7\" class=\"refused\">refused: " + escapeMarkup(row.refusal) + "</td>";
        } else {
            out += "<td class=\"number\">" + std::to_string(row.inputLatency) + " + " +
                   std::to_string(row.outputLatency) + "</td><td class=\"number\" data-key=\"round-trip\">" +
                   optionalSamples(row.roundTripSamples) +
                   (row.roundTripMs ? " (" + fixedNumber(*row.roundTripMs, 3) + " ms)" : std::string()) +
                   "</td><td class=\"number\">" + optionalSamples(row.unreportedSamples) +
                   "</td><td class=\"number\">" + std::to_string(row.switches) + " / " +
                   std::to_string(row.expectedSwitches) + "</td><td class=\"number\">" +
                   std::to_string(row.lateSwitches) + "</td><td class=\"number\">" +
                   fixedNumber(row.longestIntervalUs, 1) + "</td><td class=\"number\">" +
                   fixedNumber(row.hostLoad * 100, 2) + " %</td>";
        }
        out += std::string("<td class=\"verdict-cell ") + outcomeName(row.verdict) + "\">" +
               outcomeName(row.verdict);
        if (!row.reasons.empty()) {
            out += ": ";
            for (size_t i = 0; i < row.reasons.size(); ++i)
                out += (i ? ", " : "") + escapeMarkup(row.reasons[i]);
        }
        out += "</td></tr>";
    }
    return out + "</tbody></table>";
}

std::string smallestPassing(const std::vector<SweepRow>& rows) {
    std::map<double, std::optional<int32_t>> byRate;
    for (const SweepRow& row : rows) {
        auto& smallest = byRate[row.rate];
        if (row.accepted && row.verdict == Outcome::pass && (!smallest || row.buffer < *smallest))
            smallest = row.buffer;
    }
    std::string out = "<p class=\"smallest\">Smallest buffer size that passed: ";
    bool first = true;
    for (const auto& [rate, smallest] : byRate) {
        out += std::string(first ? "" : "; ") + "<span data-rate=\"" + compactNumber(rate) + "\"" +
               (smallest ? " data-buffer=\"" + std::to_string(*smallest) + "\"" : std::string()) + ">" +
               rateText(rate) + ": " +
               (smallest ? std::to_string(*smallest) + " samples" : std::string("none")) + "</span>";
        first = false;
    }
    return out + ".</p>";
}

} // namespace

std::string sweepSection(const std::vector<SweepRow>& rows) {
    if (rows.empty()) return "";
    return "<section id=\"sweep\"><h2>Sweep over rates and buffer sizes</h2>" + roundTripPlot(rows) +
           sweepTable(rows) + smallestPassing(rows) + "</section>";
}

} // namespace report
