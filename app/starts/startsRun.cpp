#include "app/starts/startsRun.h"

#include <cmath>

#include "app/report.h"
#include "app/runLoop.h"
#include "app/starts/startsTable.h"
#include "app/supervised/childLink.h"
#include "platform/platform.h"

namespace {

using json = nlohmann::json;
using measure::VerdictWord;

void printText(const std::string& text) {
    printMessage(plat::fromNarrow(text));
}

// The live line that says which start runs, rewritten in place; a blank one clears it.
void liveLine(const std::string& text) {
    writeLiveLine(plat::fromNarrow(text + std::string(text.size() < 79 ? 79 - text.size() : 0, ' ') + "\r"));
}

json numberOrNull(const std::optional<double>& value, double scale) {
    return value ? json(std::round(*value * scale) / scale) : json(nullptr);
}

} // namespace

measure::StartOutcome startOutcomeOf(const sweepRow& row, int32_t start) {
    measure::StartOutcome outcome;
    outcome.start = start;
    outcome.ran = row.stats.has_value();
    outcome.firstCallbackMs = row.firstCallbackMs;
    if (row.stats) {
        outcome.lateSwitches = row.stats->intervalsKnown ? row.stats->intervalUs.late : 0;
        outcome.missingSwitches = measure::missingSwitches(*row.stats);
    }
    if (row.latency) {
        const measure::LatencyResult& result = row.latency->result;
        if (result.precise.bursts > 0 && std::isfinite(result.precise.mean)) {
            outcome.roundTrip = result.precise.mean;
            outcome.roundTripHalfWidth = result.precise.halfWidth95;
        } else if (result.burstsFound > 0 && !result.lagAmbiguous && std::isfinite(result.lagMedian)) {
            outcome.roundTrip = result.lagMedian;
        } else
            outcome.roundTripMissing = true;
    } else if (row.channelMap) {
        // The slowest pair's: the round trip a host has to compensate for every input.
        const measure::ChannelMapResult& map = row.channelMap->result;
        if (map.slowestInput > 0 && std::isfinite(map.slowestRoundTrip)) {
            outcome.roundTrip = map.slowestRoundTrip;
            outcome.roundTripHalfWidth = map.slowestHalfWidth;
        } else
            outcome.roundTripMissing = true;
    }
    outcome.verdict = row.verdict.value_or(measure::Verdict{VerdictWord::error, {}});
    return outcome;
}

startsOutcome runStartsOf(settingCycle& cycle, const cycleSetting& at, int32_t count, const std::string& lead,
                          bool acceptedBefore,
                          const std::function<void(const std::vector<sweepRow>& rows)>& rowDone) {
    startsOutcome outcome;
    bool accepted = acceptedBefore;
    for (int32_t start = 1; start <= count && cycle.goesOn(); ++start) {
        if (plat::interruptRequested() || parentStopSignal() != 0) {
            cycle.f_signal = runStopSignal() != 0 ? runStopSignal() : 2;
            break;
        }
        const std::string name = lead + "start " + std::to_string(start) + " of " + std::to_string(count);
        liveLine(name);
        sweepRow row = cycle.run(at, name);
        liveLine("");
        // A setting refused at once is refused again: its one row says so. One the driver
        // took before and refuses now is a start that failed.
        const bool refused = !row.accepted() && !accepted;
        if (!row.accepted() && accepted) row.verdict = measure::Verdict{VerdictWord::fail, {*row.refusal}};
        accepted = accepted || row.accepted();
        outcome.rows.push_back(std::move(row));
        if (rowDone) rowDone(outcome.rows);
        if (refused) break;
    }
    outcome.summary = summariseRows(outcome.rows);
    outcome.verdict = outcome.summary.verdict;
    if (cycle.f_prepareFailed) {
        outcome.verdict = {VerdictWord::error, {*cycle.f_prepareFailed}};
        return outcome;
    }
    if (cycle.f_callbackStuck)
        outcome.verdict.add(VerdictWord::fail, std::string("the starts could not go on: ") + callbackStuck);
    const int32_t made = static_cast<int32_t>(outcome.rows.size());
    const bool refused = outcome.rows.size() == 1 && !outcome.rows.back().accepted() && !acceptedBefore;
    if (made < count && cycle.f_signal == 0 && !refused)
        outcome.verdict.add(VerdictWord::inconclusive, "the run ended after " + std::to_string(made) +
                                                           " of " + std::to_string(count) + " starts");
    return outcome;
}

measure::StartsSummary summariseRows(const std::vector<sweepRow>& rows) {
    std::vector<measure::StartOutcome> outcomes;
    for (size_t i = 0; i < rows.size(); ++i)
        outcomes.push_back(startOutcomeOf(rows[i], static_cast<int32_t>(i + 1)));
    return measure::summariseStarts(outcomes);
}

json startsRowsJson(const std::vector<sweepRow>& rows) {
    json list = json::array();
    for (size_t i = 0; i < rows.size(); ++i) {
        json row = sweepRowJson(rows[i]);
        row["start"] = i + 1;
        row["firstCallbackMs"] = numberOrNull(rows[i].firstCallbackMs, 1000.0);
        row["missingSwitches"] =
            rows[i].stats ? json(measure::missingSwitches(*rows[i].stats)) : json(nullptr);
        list.push_back(std::move(row));
    }
    return list;
}

json startsSummaryJson(const measure::StartsSummary& summary, int32_t planned, int32_t bufferSize) {
    json groups = json::array();
    const double common = summary.groups.empty() ? 0.0 : summary.groups.front().roundTrip;
    for (const measure::RoundTripGroup& group : summary.groups) {
        const double difference = group.roundTrip - common;
        groups.push_back(
            {{"roundTrip", std::round(group.roundTrip * 10.0) / 10.0},
             {"starts", group.starts},
             {"differenceSamples", std::round(difference * 10.0) / 10.0},
             {"differenceBuffers", bufferSize > 0 ? json(difference / bufferSize) : json(nullptr)}});
    }
    json failures = json::array();
    for (const measure::FailureKind& failure : summary.failures)
        failures.push_back({{"kind", failure.kind},
                            {"verdict", measure::verdictName(failure.word)},
                            {"count", failure.starts.size()},
                            {"starts", failure.starts}});
    const std::string spread = measure::roundTripSpreadText(summary, bufferSize);
    return {{"planned", planned},
            {"made", summary.starts},
            {"roundTrips", groups},
            {"roundTripMissing", summary.roundTripMissing},
            {"roundTripChanged", summary.groups.size() > 1},
            {"spread", spread.empty() ? json(nullptr) : json(spread)},
            {"failures", failures}};
}

startsRunOutcome runStarts(telAsioDriver& driver, measuringBP& processor, const programOptions& options,
                           const std::function<void(const json& rows, const json& summary)>& changed) {
    startsRunOutcome outcome;
    const cycleSetting at{driver.sampleRate(), driver.bufActualSize(), true, {}};
    const int32_t count = *options.starts;
    // Every start is the whole cycle, the first too: the buffers of the start-up go first.
    driver.stop(telTrue);
    settingCycle cycle(driver, processor, options);
    // The processor is attached to the driver only while a start runs.
    if (!driver.setBufferProcessor(nullptr)) cycle.f_callbackStuck = true;
    printText(startsPlanLine(count, at.rate, at.buffer, *options.seconds));
    printText("");
    printText(startsHeaderLine());
    // The run's set-up made the buffers of this setting.
    outcome.starts = runStartsOf(cycle, at, count, "", true, [&](const std::vector<sweepRow>& rows) {
        printText(startsRowLine(rows.back(), static_cast<int32_t>(rows.size())));
        if (changed) changed(startsRowsJson(rows), startsSummaryJson(summariseRows(rows), count, at.buffer));
    });
    outcome.started = cycle.f_started;
    outcome.signal = cycle.f_signal;
    printText("");
    for (const std::string& line : startsSummaryLines(outcome.starts.summary, at.buffer))
        printText(line);
    if (!cycle.f_driverGone) driver.stop(telTrue);
    if (outcome.signal != 0)
        outcome.starts.verdict.add(VerdictWord::interrupted,
                                   "stopped by signal " + std::to_string(outcome.signal));
    return outcome;
}
