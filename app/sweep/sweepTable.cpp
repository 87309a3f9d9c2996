#include "app/sweep/sweepTable.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/report.h"
#include "measure/sweepPlan.h"

namespace {

std::string columns(const std::string& rate, const std::string& buffer, const std::string& reported,
                    const std::string& roundTrip, const std::string& leftOut, const std::string& switches,
                    const std::string& late, const std::string& longest, const std::string& load,
                    const std::string& verdict) {
    char line[256];
    std::snprintf(line, sizeof line, "%8s  %6s  %8s  %-19s  %8s  %-11s  %4s  %9s  %6s  ", rate.c_str(),
                  buffer.c_str(), reported.c_str(), roundTrip.c_str(), leftOut.c_str(), switches.c_str(),
                  late.c_str(), longest.c_str(), load.c_str());
    return line + verdict;
}

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string verdictText(const sweepRow& row) {
    if (!row.verdict) return "error";
    std::string text = measure::verdictName(row.verdict->word);
    for (size_t i = 0; i < row.verdict->reasons.size(); ++i)
        text += (i == 0 ? ": " : ", ") + row.verdict->reasons[i];
    return text;
}

// "224.0 (4.667 ms)" and "-376.0": the round trip and how much of it the driver does not
// report; "not found" when no burst came back or its place was ambiguous.
void roundTripColumns(const measure::LatencyFacts& latency, std::string& roundTrip, std::string& leftOut) {
    const measure::LatencyResult& result = latency.result;
    if (result.burstsFound == 0 || result.lagAmbiguous || !std::isfinite(result.lagMedian)) {
        roundTrip = "not found";
        return;
    }
    roundTrip = fixed(result.lagMedian, 1);
    if (latency.sampleRate > 0)
        roundTrip += " (" + fixed(1000.0 * result.lagMedian / latency.sampleRate, 3) + " ms)";
    const double unreported = result.lagMedian - static_cast<double>(latency.reportedSamples);
    leftOut = (unreported >= 0 ? "+" : "") + fixed(unreported, 1);
}

} // namespace

std::string sweepPlanLine(size_t settings, size_t rates, int64_t seconds, int32_t starts) {
    return "Sweep: " + std::to_string(settings) + (settings == 1 ? " setting at " : " settings at ") +
           std::to_string(rates) + (rates == 1 ? " rate, " : " rates, ") +
           (starts > 0 ? std::to_string(starts) + " starts of " : "") + std::to_string(seconds) +
           " s each. Press SPACE to end it early.";
}

std::string sweepHeaderLine() {
    return columns("Rate", "Buffer", "Reported", "Round trip", "Left out", "Switches", "Late", "Longest",
                   "Load", "Verdict");
}

std::string sweepRowLine(const sweepRow& row) {
    const std::string rate = rateText(row.rate);
    const std::string buffer = row.buffer > 0 ? std::to_string(row.buffer) : "-";
    if (!row.accepted()) return columns(rate, buffer, "", "", "", "", "", "", "", "refused: " + *row.refusal);
    const std::string reported =
        row.reportedLatency
            ? std::to_string(int64_t{row.reportedLatency->input} + int64_t{row.reportedLatency->output})
            : "-";
    std::string roundTrip = "-", leftOut = "-";
    if (row.latency) roundTripColumns(*row.latency, roundTrip, leftOut);
    std::string switches = "-", late = "-", longest = "-", load = "-";
    if (row.stats) {
        const measure::SwitchSummary& stats = *row.stats;
        switches = std::to_string(stats.switches) + "/" + std::to_string(stats.expectedSwitches);
        if (stats.intervalsKnown) {
            late = std::to_string(stats.intervalUs.late);
            longest = fixed(stats.intervalUs.max / 1000.0, 2) + " ms";
        }
        if (stats.hostTimeKnown) load = fixed(stats.hostLoad * 100.0, 2) + "%";
    }
    return columns(rate, buffer, reported, roundTrip, leftOut, switches, late, longest, load,
                   verdictText(row));
}

std::string smallestPassingLine(const std::vector<sweepRow>& rows) {
    std::vector<measure::SweepSettingOutcome> settings;
    std::vector<double> rates;
    for (const sweepRow& row : rows) {
        settings.push_back(sweepOutcomeOf(row));
        if (rates.empty() || rates.back() != row.rate) rates.push_back(row.rate);
    }
    const std::map<double, int32_t> smallest = measure::smallestPassingSizes(settings);
    std::string line = "Smallest buffer that passed:";
    for (size_t i = 0; i < rates.size(); ++i) {
        const auto found = smallest.find(rates[i]);
        line += (i == 0 ? " " : "; ") + rateText(rates[i]) + " Hz: " +
                (found == smallest.end() ? std::string("none") : std::to_string(found->second) + " samples");
    }
    return line;
}
