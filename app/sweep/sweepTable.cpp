#include "app/sweep/sweepTable.h"

#include <cstdio>
#include <vector>

#include "app/report.h"
#include "measure/sweepPlan.h"

namespace {

using json = nlohmann::json;

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

// A number of the row, or nothing where the report holds null.
const json* numberAt(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number() ? &*found : nullptr;
}

std::string verdictText(const json& row) {
    std::string text = row.value("verdict", std::string("error"));
    const json reasons = row.value("reasons", json::array());
    for (size_t i = 0; i < reasons.size(); ++i)
        if (reasons[i].is_string()) text += (i == 0 ? ": " : ", ") + reasons[i].get<std::string>();
    return text;
}

} // namespace

std::string sweepPlanLine(size_t settings, size_t rates, int64_t seconds) {
    return "Sweep: " + std::to_string(settings) + (settings == 1 ? " setting at " : " settings at ") +
           std::to_string(rates) + (rates == 1 ? " rate, " : " rates, ") + std::to_string(seconds) +
           " s each. Press SPACE to end it early.";
}

std::string sweepHeaderLine() {
    return columns("Rate", "Buffer", "Reported", "Round trip", "Left out", "Switches", "Late", "Longest",
                   "Load", "Verdict");
}

std::string sweepRowLine(const json& row) {
    const std::string rate = rateText(row.value("rate", 0.0));
    const std::string buffer = std::to_string(row.value("buffer", 0));
    if (!row.value("accepted", false))
        return columns(rate, buffer, "", "", "", "", "", "", "",
                       "refused: " + row.value("refusal", std::string()));
    const json reported = row.value("reportedLatency", json::object());
    const std::string reportedText = std::to_string(reported.value("input", 0) + reported.value("output", 0));
    std::string roundTrip = "-", leftOut = "-";
    const json latency = row.value("latency", json());
    if (latency.is_object()) {
        if (const json* samples = numberAt(latency, "measuredSamples")) {
            roundTrip = fixed(samples->get<double>(), 1);
            if (const json* ms = numberAt(latency, "measuredMs"))
                roundTrip += " (" + fixed(ms->get<double>(), 3) + " ms)";
        } else {
            roundTrip = "not found";
        }
        if (const json* unreported = numberAt(latency, "unreportedSamples"))
            leftOut = (unreported->get<double>() >= 0 ? "+" : "") + fixed(unreported->get<double>(), 1);
    }
    const json stats = row.value("stats", json::object());
    const std::string switches = std::to_string(stats.value("switches", uint64_t{0})) + "/" +
                                 std::to_string(stats.value("expectedSwitches", uint64_t{0}));
    std::string late = "-", longest = "-", load = "-";
    if (const json* count = numberAt(stats, "late")) late = std::to_string(count->get<uint64_t>());
    if (const json* interval = stats.contains("intervalUs") ? numberAt(stats["intervalUs"], "max") : nullptr)
        longest = fixed(interval->get<double>() / 1000.0, 2) + " ms";
    if (const json* share = numberAt(stats, "hostLoad")) load = fixed(share->get<double>() * 100.0, 2) + "%";
    return columns(rate, buffer, reportedText, roundTrip, leftOut, switches, late, longest, load,
                   verdictText(row));
}

std::string smallestPassingLine(const json& rows) {
    std::vector<measure::SweepSettingOutcome> settings;
    std::vector<double> rates;
    for (const json& row : rows) {
        measure::SweepSettingOutcome setting;
        setting.rate = row.value("rate", 0.0);
        setting.buffer = row.value("buffer", 0);
        setting.accepted = row.value("accepted", false);
        setting.verdict = row.value("verdict", std::string()) == "pass" ? measure::VerdictWord::pass
                                                                        : measure::VerdictWord::fail;
        settings.push_back(setting);
        if (rates.empty() || rates.back() != setting.rate) rates.push_back(setting.rate);
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
