#include "app/sweep/sweepRow.h"

#include <cmath>

#include "app/starts/startsRun.h"

namespace {

using json = nlohmann::json;

} // namespace

sweepRow refusedSweepRow(double rate, int32_t buffer, bool advertised, std::string refusal) {
    sweepRow row;
    row.rate = rate;
    row.buffer = buffer;
    row.advertised = advertised;
    row.refusal = std::move(refusal);
    return row;
}

measure::SweepSettingOutcome sweepOutcomeOf(const sweepRow& row) {
    measure::SweepSettingOutcome outcome;
    outcome.rate = row.rate;
    outcome.buffer = row.buffer;
    outcome.accepted = row.accepted();
    outcome.advertised = row.advertised;
    outcome.verdict = row.verdict ? row.verdict->word : measure::VerdictWord::error;
    return outcome;
}

json sweepRowJson(const sweepRow& row) {
    // The stats and the round trip in the keys and the rounding of a single run's document.
    measure::RunDocument document;
    if (row.stats) document.setStats(*row.stats, row.messages);
    if (row.latency) document.setLatency(*row.latency);
    if (row.channelMap) document.setChannelMap(*row.channelMap);
    const json& whole = document.document();
    json reportedLatency = nullptr;
    if (row.reportedLatency)
        reportedLatency = {{"input", row.reportedLatency->input}, {"output", row.reportedLatency->output}};
    json result = {
        {"rate", row.rate},
        {"buffer", row.buffer},
        {"advertised", row.advertised},
        {"accepted", row.accepted()},
        {"refusal", row.refusal ? json(*row.refusal) : json(nullptr)},
        {"reportedLatency", reportedLatency},
        {"seconds", row.seconds ? json(std::round(*row.seconds * 1000.0) / 1000.0) : json(nullptr)},
        {"stats", row.stats ? whole["stats"] : json(nullptr)},
        {"latency", whole["latency"]},
        {"verdict", row.verdict ? json(measure::verdictName(row.verdict->word)) : json(nullptr)},
        {"reasons", row.verdict ? json(row.verdict->reasons) : json::array()}};
    if (row.startsSummary) {
        result["starts"] = startsRowsJson(row.starts);
        result["startsSummary"] = startsSummaryJson(*row.startsSummary, row.startsPlanned, row.buffer);
    }
    return result;
}

json sweepRowsJson(const std::vector<sweepRow>& rows) {
    json list = json::array();
    for (const sweepRow& row : rows)
        list.push_back(sweepRowJson(row));
    return list;
}
