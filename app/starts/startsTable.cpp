#include "app/starts/startsTable.h"

#include <cmath>
#include <cstdio>

#include "app/report.h"

namespace {

std::string columns(const std::string& start, const std::string& first, const std::string& roundTrip,
                    const std::string& late, const std::string& missing, const std::string& verdict) {
    char line[160];
    std::snprintf(line, sizeof line, "%7s  %14s  %-19s  %5s  %7s  ", start.c_str(), first.c_str(),
                  roundTrip.c_str(), late.c_str(), missing.c_str());
    return line + verdict;
}

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

std::string startsPlanLine(int32_t starts, double rate, int32_t buffer, int64_t seconds) {
    return "Starts: " + std::to_string(starts) + " at " + rateText(rate) + " Hz, " + std::to_string(buffer) +
           " samples, " + std::to_string(seconds) + " s each. Press SPACE to end it early.";
}

std::string startsHeaderLine() {
    return columns("Start", "First callback", "Round trip", "Late", "Missing", "Verdict");
}

std::string startsRowLine(const sweepRow& row, int32_t start) {
    std::string first = "-", roundTrip = "-", late = "-", missing = "-";
    if (row.stats) {
        first = row.firstCallbackMs ? fixed(*row.firstCallbackMs, 2) + " ms" : "none";
        if (row.stats->intervalsKnown) late = std::to_string(row.stats->intervalUs.late);
        missing = std::to_string(measure::missingSwitches(*row.stats));
    }
    const measure::StartOutcome outcome = startOutcomeOf(row, start);
    if (outcome.roundTrip) {
        roundTrip = fixed(*outcome.roundTrip, 1);
        if (row.rate > 0) roundTrip += " (" + fixed(1000.0 * *outcome.roundTrip / row.rate, 3) + " ms)";
    } else if (outcome.roundTripMissing) {
        roundTrip = "not found";
    }
    std::string verdict = "error";
    if (row.verdict) {
        verdict = measure::verdictName(row.verdict->word);
        for (size_t i = 0; i < row.verdict->reasons.size(); ++i)
            verdict += (i == 0 ? ": " : ", ") + row.verdict->reasons[i];
    } else if (row.refusal) {
        verdict = "refused: " + *row.refusal;
    }
    return columns(std::to_string(start), first, roundTrip, late, missing, verdict);
}

std::vector<std::string> startsSummaryLines(const measure::StartsSummary& summary, int32_t bufferSize) {
    std::vector<std::string> lines;
    const std::string spread = measure::roundTripSpreadText(summary, bufferSize);
    if (!spread.empty()) lines.push_back("Round trip: " + spread);
    for (const measure::FailureKind& failure : summary.failures) {
        // What the starts could not judge, or could not do, is no failure of the driver.
        const char* lead = failure.word == measure::VerdictWord::inconclusive ? "Not judged: "
                           : failure.word == measure::VerdictWord::error      ? "Error     : "
                                                                              : "Failed    : ";
        lines.push_back(lead + measure::failureRateText(failure, summary.starts));
    }
    if (summary.failures.empty()) lines.push_back("Failed    : none");
    return lines;
}
