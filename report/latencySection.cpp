// The loopback measurement: the correlation peak that located the burst, the round trip
// of every burst, and the recorded waveform against the expected one around glitches.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "report/axisTicks.h"
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// Glitches drawn one plot each; the figures count all of them.
constexpr size_t glitchPlots = 4;

std::string samples(double value) {
    return compactNumber(value, 7) + " samples";
}

std::string figuresTable(const LatencyData& latency) {
    std::string out = "<table class=\"facts\"><tbody>";
    const auto row = [&](const std::string& label, const std::string& key, const std::string& value) {
        out += "<tr><th>" + label + "</th><td data-key=\"" + key + "\">" + value + "</td></tr>";
    };
    row("Loop", "loop",
        "output " + std::to_string(latency.output) + " to input " + std::to_string(latency.input) + " at " +
            compactNumber(latency.sampleRate) + " Hz");
    if (latency.roundTripSamples)
        row("Round trip", "round-trip",
            samples(*latency.roundTripSamples) +
                (latency.roundTripMs ? " (" + fixedNumber(*latency.roundTripMs, 3) + " ms)" : std::string()));
    else
        row("Round trip", "round-trip", "no burst came back");
    row("Reported", "reported", "input + output latency " + samples(double(latency.reportedSamples)));
    if (latency.unreportedSamples) row("Unreported", "unreported", samples(*latency.unreportedSamples));
    row("Gain", "gain",
        fixedNumber(latency.gainDb, 2) + " dB, " + (latency.inverted ? "inverted" : "not inverted"));
    row("Glitches", "glitches", std::to_string(latency.glitches));
    return out + "</tbody></table>";
}

std::string correlationPlot(const LatencyData& latency) {
    if (latency.correlation.empty()) return "";
    std::vector<CorrelationPoint> points = latency.correlation;
    std::sort(points.begin(), points.end(),
              [](const CorrelationPoint& a, const CorrelationPoint& b) { return a.lag < b.lag; });
    double low = 0, high = 0;
    for (const CorrelationPoint& point : points) {
        low = std::min(low, point.value);
        high = std::max(high, point.value);
    }
    const TickedRange xRange = linearRange(std::min(points.front().lag, latency.foundLag),
                                           std::max(points.back().lag, latency.foundLag), 8);
    const TickedRange yRange = linearRange(low, high, 5, 0.05);
    const auto peak = std::max_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
        return std::fabs(a.value) < std::fabs(b.value);
    });
    const std::string description =
        "Normalised correlation of a burst at lags " + compactNumber(points.front().lag) + " to " +
        compactNumber(points.back().lag) + " samples; peak " + compactNumber(peak->value, 4) + " at lag " +
        compactNumber(peak->lag) + ", lag found " + samples(latency.foundLag) + ".";
    SvgPlot plot("correlation", "Correlation around the found lag", description,
                 axisFromRange(xRange, "Lag", "samples"), axisFromRange(yRange, "Correlation", "normalised"));
    std::vector<Point> line;
    std::vector<Mark> marks;
    for (const CorrelationPoint& point : points) {
        line.push_back({point.lag, point.value});
        marks.push_back({point.lag, point.value,
                         "data-lag=\"" + compactNumber(point.lag) + "\" data-value=\"" +
                             compactNumber(point.value, 6) + "\"",
                         "lag " + compactNumber(point.lag) + ": " + compactNumber(point.value, 4)});
    }
    plot.line(decimateMinMax(line, xRange.min, xRange.max, SvgPlot::columns()), Colour::blue, "");
    if (marks.size() <= 200)
        plot.marks(std::move(marks), Colour::blue, Shape::circle, "correlation at each lag");
    plot.verticalRule(latency.foundLag, Colour::vermillion, "found lag " + samples(latency.foundLag));
    return plotFigure(
        "Correlation around the found lag", plot,
        "How well the returning input matches the burst at each lag. One sharp peak (near 1, or "
        "near -1 for a loop that inverts) means the round trip was found without doubt; the "
        "dashed line is the lag found between the samples.");
}

std::string roundTripPlot(const LatencyData& latency, const std::optional<double>& runSeconds,
                          const std::optional<double>& baseline) {
    if (latency.bursts.empty()) return "";
    std::vector<Point> points;
    double low = double(latency.reportedSamples), high = double(latency.reportedSamples), end = 0;
    for (const BurstRoundTrip& burst : latency.bursts) {
        points.push_back({burst.t, burst.roundTrip});
        low = std::min(low, burst.roundTrip);
        high = std::max(high, burst.roundTrip);
        end = std::max(end, burst.t);
    }
    if (baseline) {
        low = std::min(low, *baseline);
        high = std::max(high, *baseline);
    }
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
    // Over the whole run where its length is known; the bursts go on to its end.
    const TickedRange xRange =
        exactRange(0, std::max(runSeconds && *runSeconds > end ? *runSeconds : end, 1.0), 10);
    const TickedRange yRange = linearRange(low, high, 6, 0.05);
    const auto [fewest, most] =
        std::minmax_element(latency.bursts.begin(), latency.bursts.end(),
                            [](const auto& a, const auto& b) { return a.roundTrip < b.roundTrip; });
    std::string description = "Round trip of each of " + std::to_string(latency.bursts.size()) +
                              " bursts over " + compactNumber(end, 4) + " s: from " +
                              samples(fewest->roundTrip) + " to " + samples(most->roundTrip) +
                              "; the driver reports " + samples(double(latency.reportedSamples)) + ".";
    // The baseline document holds its loop's round trip, not each burst's: a faint line.
    if (baseline) description += " The baseline's round trip, " + samples(*baseline) + ", is drawn faintly.";
    SvgPlot plot("round-trips", "Round trip of every burst", description, axisFromRange(xRange, "Time", "s"),
                 axisFromRange(yRange, "Round trip", "samples"));
    if (baseline) plot.faintLine({{xRange.min, *baseline}, {xRange.max, *baseline}}, "baseline");
    std::vector<Mark> marks;
    for (const Point& point : decimateMinMax(points, xRange.min, xRange.max, SvgPlot::columns()))
        marks.push_back(
            {point.x, point.y,
             "data-t=\"" + compactNumber(point.x) + "\" data-round-trip=\"" + compactNumber(point.y) + "\"",
             fixedNumber(point.x, 3) + " s: " + samples(point.y)});
    plot.horizontalRule(double(latency.reportedSamples), Colour::black, "reported input + output latency");
    plot.marks(std::move(marks), Colour::blue, Shape::circle, "measured round trip");
    return plotFigure(
        "Round trip of every burst", plot,
        "Each mark is one burst's round trip. They should all lie on one line: a round trip that "
        "moves is a driver fault. The distance above the dashed line is what the driver leaves out "
        "of its reported latency.");
}

std::string glitchPlot(const GlitchSnapshot& snapshot, size_t number) {
    const size_t count = std::max(snapshot.recorded.size(), snapshot.expected.size());
    if (count == 0) return "";
    std::vector<Point> recorded, expected;
    double low = 0, high = 0;
    for (size_t i = 0; i < snapshot.recorded.size(); ++i) {
        recorded.push_back({double(snapshot.windowStart + int64_t(i)), double(snapshot.recorded[i])});
        low = std::min(low, double(snapshot.recorded[i]));
        high = std::max(high, double(snapshot.recorded[i]));
    }
    for (size_t i = 0; i < snapshot.expected.size(); ++i) {
        expected.push_back({double(snapshot.windowStart + int64_t(i)), double(snapshot.expected[i])});
        low = std::min(low, double(snapshot.expected[i]));
        high = std::max(high, double(snapshot.expected[i]));
    }
    const TickedRange xRange =
        linearRange(double(snapshot.windowStart), double(snapshot.windowStart + int64_t(count) - 1), 8);
    const TickedRange yRange = linearRange(low, high, 4, 0.05);
    const std::string name = "glitch-" + std::to_string(number);
    const std::string title = "Glitch " + std::to_string(number) + " at " + fixedNumber(snapshot.t, 3) + " s";
    const std::string description = "Recorded input against the expected signal at input positions " +
                                    std::to_string(snapshot.windowStart) + " to " +
                                    std::to_string(snapshot.windowStart + int64_t(count) - 1) +
                                    ", around the glitch at position " + std::to_string(snapshot.position) +
                                    ".";
    SvgPlot plot(name, title, description, axisFromRange(xRange, "Input position", "samples"),
                 axisFromRange(yRange, "Sample value", "full scale"));
    const int columns = SvgPlot::columns();
    plot.line(decimateMinMax(expected, xRange.min, xRange.max, columns), Colour::blue, "expected",
              Dash::dashed);
    plot.line(decimateMinMax(recorded, xRange.min, xRange.max, columns), Colour::vermillion, "recorded");
    const int64_t offset = snapshot.position - snapshot.windowStart;
    if (offset >= 0 && size_t(offset) < snapshot.recorded.size())
        plot.marks({{double(snapshot.position), double(snapshot.recorded[size_t(offset)]),
                     "data-kind=\"glitch\" data-position=\"" + std::to_string(snapshot.position) +
                         "\" data-t=\"" + compactNumber(snapshot.t) + "\"",
                     "glitch at position " + std::to_string(snapshot.position)}},
                   Colour::black, Shape::diamond, "first outlying sample");
    return plotFigure(title, plot,
                      "The input as recorded (solid) over what should have come back (dashed), "
                      "moved by the round trip. Where they part, the audio was broken.");
}

} // namespace

std::string latencySection(const LatencyData& latency, const std::optional<double>& runSeconds,
                           const BaselineData* baseline) {
    std::string out =
        "<section id=\"latency\"><h2>Round trip through the loopback</h2>" + figuresTable(latency) +
        correlationPlot(latency) +
        roundTripPlot(latency, runSeconds, baseline ? baseline->roundTripSamples : std::nullopt);
    for (size_t i = 0; i < latency.glitchSnapshots.size() && i < glitchPlots; ++i)
        out += glitchPlot(latency.glitchSnapshots[i], i + 1);
    if (latency.glitchSnapshots.size() > glitchPlots)
        out += "<p>The first " + std::to_string(glitchPlots) + " glitches are drawn.</p>";
    return out + "</section>";
}

} // namespace report
