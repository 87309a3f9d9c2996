// A sweep over rates and buffer sizes: the round trip against the buffer size for each
// rate, one table row per setting, and the smallest size that passed at each rate.
//
// Both axes of the plot are logarithmic in powers of two, so sizes from 32 to 2048
// stand evenly apart. Rates whose round trips coincide (the same number of samples at
// every rate) stay apart by their outlined shapes and their lines' dashes. A failed
// setting is crossed out where it is drawn; a setting with no round trip to draw (the
// driver refused it, it failed before a burst came back, the run ended in it) has a
// mark in a row along the top at its size.
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
constexpr Dash rateDashes[] = {Dash::solid, Dash::dashed, Dash::dotted, Dash::dashDotted};
// The marks of the first rates are drawn larger, so that at a point where several
// rates' round trips coincide each outline stays in sight around the next.
constexpr double rateMarkSizes[] = {1.9, 1.4, 1.0, 0.75};

std::string rateText(double rate) {
    return compactNumber(rate) + " Hz";
}

// The word of a row's verdict column: "refused" for a setting the driver did not take.
std::string verdictWord(const SweepRow& row) {
    if (!row.accepted) return "refused";
    return row.verdict ? outcomeName(*row.verdict) : "none";
}

std::string settingAttributes(double rate, int32_t buffer) {
    return "data-rate=\"" + compactNumber(rate) + "\" data-buffer=\"" + std::to_string(buffer) + "\"";
}

// The marks in the row along the top: settings with no round trip to draw.
struct UnplottedKind {
    const char* kind;
    const char* legend;
    Colour colour;
    Shape shape;
};
constexpr UnplottedKind refusedKind{"refused", "refused", Colour::grey, Shape::square};
constexpr UnplottedKind failedKind{"failed", "failed, no round trip", Colour::vermillion, Shape::cross};
constexpr UnplottedKind crashedKind{"crashed", "the run ended here", Colour::black, Shape::star};

Mark unplottedMark(double rate, int32_t buffer, const char* kind, const std::string& what) {
    return {double(buffer), 0, std::string("data-kind=\"") + kind + "\" " + settingAttributes(rate, buffer),
            rateText(rate) + ", " + std::to_string(buffer) + " samples: " + what};
}

bool plotted(const SweepRow& row) {
    return row.accepted && row.roundTripSamples;
}

// The baseline's round trips under this run's: a faint line per rate and a hollow mark
// per setting, a cross where the setting failed.
void baselineLayers(SvgPlot& plot, const std::vector<SweepRow>& rows) {
    std::map<double, std::vector<const SweepRow*>> byRate;
    for (const SweepRow& row : rows)
        if (plotted(row)) byRate[row.rate].push_back(&row);
    std::vector<Mark> marks, crossed;
    for (auto& [rate, settings] : byRate) {
        std::sort(settings.begin(), settings.end(),
                  [](const SweepRow* a, const SweepRow* b) { return a->buffer < b->buffer; });
        std::vector<Point> line;
        for (const SweepRow* row : settings) {
            const std::string word = verdictWord(*row);
            line.push_back({double(row->buffer), *row->roundTripSamples});
            (row->verdict == Outcome::fail ? crossed : marks)
                .push_back({double(row->buffer), *row->roundTripSamples,
                            settingAttributes(rate, row->buffer) + " data-round-trip=\"" +
                                compactNumber(*row->roundTripSamples) + "\" data-verdict=\"" + word + "\"",
                            "baseline: " + rateText(rate) + ", " + std::to_string(row->buffer) +
                                " samples: round trip " + compactNumber(*row->roundTripSamples) +
                                " samples, " + word});
        }
        plot.faintLine(std::move(line), rate == byRate.begin()->first ? "baseline" : "");
    }
    if (!marks.empty()) plot.faintMarks(std::move(marks), Shape::circle, "");
    if (!crossed.empty()) plot.faintMarks(std::move(crossed), Shape::cross, "");
}

std::string roundTripPlot(const std::vector<SweepRow>& rows, const std::optional<SweepSetting>& crashed,
                          const std::vector<SweepRow>& baseline) {
    std::map<double, std::vector<const SweepRow*>> byRate;
    double low = 0, high = 0, smallest = 0, largest = 0;
    bool any = false;
    const auto widen = [&](double buffer) {
        smallest = std::min(smallest, buffer);
        largest = std::max(largest, buffer);
    };
    const auto hold = [&](const SweepRow& row) {
        if (!any) {
            low = high = *row.roundTripSamples;
            smallest = largest = double(row.buffer);
            any = true;
        }
        low = std::min(low, *row.roundTripSamples);
        high = std::max(high, *row.roundTripSamples);
        widen(double(row.buffer));
    };
    for (const SweepRow& row : rows) {
        if (!plotted(row)) continue;
        byRate[row.rate].push_back(&row);
        hold(row);
    }
    // The axes hold the baseline's round trips as well: where this run lost every round
    // trip the baseline had, they are what the plot shows.
    for (const SweepRow& row : baseline)
        if (plotted(row)) hold(row);
    if (!any) return "";

    // The settings with nothing to draw at a round trip, by kind.
    std::vector<Mark> refused, failed, ended;
    for (const SweepRow& row : rows) {
        if (row.buffer <= 0 || plotted(row)) continue;
        widen(double(row.buffer));
        if (!row.accepted)
            refused.push_back(
                unplottedMark(row.rate, row.buffer, refusedKind.kind, "refused: " + row.refusal));
        else if (row.verdict == Outcome::fail)
            failed.push_back(
                unplottedMark(row.rate, row.buffer, failedKind.kind,
                              "failed" + (row.reasons.empty() ? "" : ": " + row.reasons.front())));
    }
    if (crashed && crashed->buffer > 0) {
        widen(double(crashed->buffer));
        ended.push_back(
            unplottedMark(crashed->rate, crashed->buffer, crashedKind.kind, "the run ended here"));
    }

    const TickedRange xRange = powerOfTwoRange(smallest, largest);
    // Room above the highest round trip for the row of marks along the top.
    const TickedRange yRange = powerOfTwoRange(low * 0.85, high * 1.25);
    Axis x = axisFromRange(xRange, "Buffer size", "samples", Scale::log);
    Axis y = axisFromRange(yRange, "Measured round trip", "samples", Scale::log);
    x.compactLabels = y.compactLabels = false;

    std::string description = "Measured round trip against buffer size, both on logarithmic scales";
    size_t index = 0;
    SvgPlot plot("sweep-round-trip", "Round trip against buffer size", "", x, y);
    baselineLayers(plot, baseline);
    std::vector<Mark> crossed;
    for (auto& [rate, settings] : byRate) {
        std::sort(settings.begin(), settings.end(),
                  [](const SweepRow* a, const SweepRow* b) { return a->buffer < b->buffer; });
        std::vector<Point> line;
        std::vector<Mark> marks;
        description += std::string(index == 0 ? ": " : "; ") + "at " + rateText(rate);
        for (const SweepRow* row : settings) {
            const std::string word = verdictWord(*row);
            const std::string where = settingAttributes(rate, row->buffer) + " data-round-trip=\"" +
                                      compactNumber(*row->roundTripSamples) + "\"";
            const std::string tip = rateText(rate) + ", " + std::to_string(row->buffer) +
                                    " samples: round trip " + compactNumber(*row->roundTripSamples) +
                                    " samples, " + word;
            line.push_back({double(row->buffer), *row->roundTripSamples});
            marks.push_back(
                {double(row->buffer), *row->roundTripSamples, where + " data-verdict=\"" + word + "\"", tip});
            if (row->verdict == Outcome::fail)
                crossed.push_back({double(row->buffer), *row->roundTripSamples,
                                   std::string("data-kind=\"") + failedKind.kind + "\" " + where, tip});
            description += " " + std::to_string(row->buffer) + " → " + compactNumber(*row->roundTripSamples) +
                           (row->verdict == Outcome::fail ? " (failed)" : "");
        }
        const Colour colour = rateColours[index % std::size(rateColours)];
        plot.line(std::move(line), colour, "", rateDashes[index % std::size(rateDashes)]);
        plot.marks(std::move(marks), colour, rateShapes[index % std::size(rateShapes)], rateText(rate), -1,
                   true, rateMarkSizes[std::min(index, std::size(rateMarkSizes) - 1)]);
        ++index;
    }
    description += " (samples).";
    if (std::any_of(baseline.begin(), baseline.end(), plotted))
        description += " The baseline's round trips are drawn faintly under them.";
    if (!crossed.empty()) {
        description += " " + std::to_string(crossed.size()) +
                       (crossed.size() == 1 ? " setting" : " settings") + " failed.";
        plot.marks(std::move(crossed), Colour::vermillion, Shape::cross, "failed");
    }
    int lane = 0;
    for (auto [kind, marks] : {std::pair{&refusedKind, &refused}, std::pair{&failedKind, &failed},
                               std::pair{&crashedKind, &ended}}) {
        if (marks->empty()) continue;
        description += " " + std::string(kind->legend) + ": " + std::to_string(marks->size()) +
                       (marks->size() == 1 ? " setting" : " settings") + ", marked along the top.";
        plot.marks(std::move(*marks), kind->colour, kind->shape, kind->legend, lane++);
    }
    plot.describe(description);
    return plotFigure(
        "Round trip against buffer size", plot,
        "One line per rate, one outlined mark per setting that ran with a loopback; both axes double "
        "at every grid line. A driver with a fixed number of buffers in flight gives lines that rise "
        "evenly with the size; a setting that bends its line added or dropped a buffer of its own. "
        "A cross marks a setting that failed; the marks along the top are settings with no round "
        "trip to draw.");
}

std::string optionalSamples(const std::optional<double>& value) {
    return value ? compactNumber(*value) : std::string("–");
}

// The verdict and its reasons, in a cell of a few lines that scrolls for the rest.
std::string verdictCell(const std::string& word, const std::string& cssWord,
                        const std::vector<std::string>& reasons) {
    std::string text = word;
    for (size_t i = 0; i < reasons.size(); ++i)
        text += (i ? ", " : ": ") + reasons[i];
    return "<td class=\"verdict-cell " + cssWord + "\"><div class=\"cell-scroll\" tabindex=\"0\" title=\"" +
           escapeMarkup(text) + "\">" + escapeMarkup(text) + "</div></td>";
}

std::string sweepTable(const std::vector<SweepRow>& rows, const std::optional<SweepSetting>& crashed,
                       const std::string& crashLine, const BaselineData* baseline) {
    auto before = [baseline](double rate, int32_t buffer) {
        return baseline ? baselineCell(
                              *baseline,
                              compactNumber(rate) + " Hz, " + std::to_string(buffer) + " samples: ", "as now")
                        : std::string();
    };
    std::string out =
        "<table class=\"sweep\"><thead><tr><th>Rate (Hz)</th><th>Buffer</th><th>Reported in + out</th>"
        "<th>Round trip</th><th>Left out</th><th>Switches / expected</th><th>Late</th>"
        "<th>Longest interval (µs)</th><th>Host load</th><th>Verdict</th>" +
        std::string(baseline ? "<th>Baseline</th>" : "") + "</tr></thead><tbody>";
    for (const SweepRow& row : rows) {
        const std::string word = verdictWord(row);
        out += "<tr " + settingAttributes(row.rate, row.buffer);
        if (row.accepted && row.roundTripSamples)
            out += " data-round-trip=\"" + compactNumber(*row.roundTripSamples) + "\"";
        out += " data-accepted=\"" + std::string(row.accepted ? "true" : "false") + "\" data-verdict=\"" +
               word + "\">";
        out += "<td class=\"number\">" + compactNumber(row.rate) + "</td><td class=\"number\">" +
               std::to_string(row.buffer) + "</td>";
        if (!row.accepted) {
            out += "<td colspan=\"7\" class=\"refused\">not run: the driver refused the setting</td>";
            out += verdictCell(word, "refused", {row.refusal});
            out += before(row.rate, row.buffer) + "</tr>";
            continue;
        }
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
        out += verdictCell(word, word, row.reasons) + before(row.rate, row.buffer) + "</tr>";
    }
    if (crashed) {
        out += "<tr " + settingAttributes(crashed->rate, crashed->buffer) +
               " data-accepted=\"true\" data-verdict=\"fail\" data-crashed=\"true\"><td class=\"number\">" +
               compactNumber(crashed->rate) + "</td><td class=\"number\">" + std::to_string(crashed->buffer) +
               "</td><td colspan=\"7\" class=\"refused\">the run ended in this setting</td>" +
               verdictCell("fail", "fail",
                           crashLine.empty() ? std::vector<std::string>{}
                                             : std::vector<std::string>{crashLine}) +
               before(crashed->rate, crashed->buffer) + "</tr>";
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

std::string sweepSection(const std::vector<SweepRow>& rows, const std::optional<SweepSetting>& crashed,
                         const std::string& crashLine, const BaselineData* baseline) {
    if (rows.empty() && !crashed) return "";
    return "<section id=\"sweep\"><h2>Sweep over rates and buffer sizes</h2>" +
           roundTripPlot(rows, crashed, baseline ? baseline->sweep : std::vector<SweepRow>()) +
           sweepTable(rows, crashed, crashLine, baseline) + (rows.empty() ? "" : smallestPassing(rows)) +
           "</section>";
}

} // namespace report
