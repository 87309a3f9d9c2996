// One setting of a sweep as it ended. The sweep, its table and its verdict work on these
// typed rows; the JSON report's row is made from one at the edge (sweepRowJson), with
// the keys `rate`, `buffer`, `advertised`, `accepted`, `refusal`, `reportedLatency`
// {input, output}, `seconds`, `stats`, `latency`, `verdict` and `reasons` (`stats`,
// `latency`, `verdict` and `reasons` as a single run's document has them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure/runDocument.h"
#include "measure/startsSummary.h"
#include "measure/sweepPlan.h"
#include "measure/verdict.h"

struct sweepRow {
    double rate = 0;
    int32_t buffer = 0; // 0 where the refusal came before a size was chosen
    // The driver offers the setting: it said it can run at the rate, and the size is legal
    // by the figures it gives at that rate. Refusing a setting it offers is its fault.
    bool advertised = false;
    // Why the driver did not take the setting; nothing else is known of a refused one.
    std::optional<std::string> refusal;

    struct latencies {
        int32_t input = 0;
        int32_t output = 0;
    };
    std::optional<latencies> reportedLatency; // once the buffers existed

    // What the run at the setting measured; empty when it could not start.
    std::optional<double> seconds;
    std::optional<measure::SwitchSummary> stats;
    std::optional<double> firstCallbackMs; // from the start's return to the first switch
    measure::MessageFacts messages;
    std::optional<measure::LatencyFacts> latency;
    std::optional<measure::ChannelMapFacts> channelMap; // /latency=all

    // The setting's verdict: that of its run, or of the step that failed before it ran.
    // Empty for a refused setting.
    std::optional<measure::Verdict> verdict;

    // /starts: the setting's every start, in order, and what they add up to; the row's
    // figures are then those of the first start with the most common round trip, its
    // verdict that of all starts.
    std::vector<sweepRow> starts;
    std::optional<measure::StartsSummary> startsSummary;
    int32_t startsPlanned = 0;

    bool accepted() const { return !refusal; }
};

// A refused setting's row.
sweepRow refusedSweepRow(double rate, int32_t buffer, bool advertised, std::string refusal);

// What the sweep's verdict and its smallest passing sizes need of a row.
measure::SweepSettingOutcome sweepOutcomeOf(const sweepRow& row);

// The JSON report's row, and the report's `sweep` from every row.
nlohmann::json sweepRowJson(const sweepRow& row);
nlohmann::json sweepRowsJson(const std::vector<sweepRow>& rows);
