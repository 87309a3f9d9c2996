// /starts=N: the stream of one setting started N times, each start the host's full cycle
// (app/sweep/settingCycle.h) and each measured and judged as a run of its own; then what
// the starts add up to (measure/startsSummary.h). Alone, a table with one row per start
// is printed as each start ends, then the spread of the round trips and each kind of
// failure with its rate; in a sweep, every setting runs its N starts and its row says
// what they add up to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/measured/measuringBP.h"
#include "app/options.h"
#include "app/sweep/settingCycle.h"
#include "app/sweep/sweepRow.h"
#include "measure/startsSummary.h"

struct startsOutcome {
    std::vector<sweepRow> rows; // one per start made, in order
    measure::StartsSummary summary;
    measure::Verdict verdict; // the summary's, and how the starts ended
};

// What a start's row says to the summary.
measure::StartOutcome startOutcomeOf(const sweepRow& row, int32_t start);

// Runs the N starts of `at` through `cycle`; `rowDone` hears the rows so far after each
// start (the start that ended last). `acceptedBefore`: the driver made buffers of this
// setting before the first start. A start the driver refuses once it has taken the
// setting (before, or at an earlier start) is a start that failed, and the starts go on;
// a setting refused at the first start is refused, and no more starts are made.
startsOutcome runStartsOf(settingCycle& cycle, const cycleSetting& at, int32_t count, const std::string& lead,
                          bool acceptedBefore,
                          const std::function<void(const std::vector<sweepRow>& rows)>& rowDone);
// The summary of the rows so far.
measure::StartsSummary summariseRows(const std::vector<sweepRow>& rows);

// The report's `starts` (each start's row with `start`, `firstCallbackMs` and
// `missingSwitches`) and
// `startsSummary`.
nlohmann::json startsRowsJson(const std::vector<sweepRow>& rows);
nlohmann::json startsSummaryJson(const measure::StartsSummary& summary, int32_t planned, int32_t bufferSize);

struct startsRunOutcome {
    startsOutcome starts;
    bool started = false;
    int signal = 0;
};

// The starts of a driver initialised with buffers, at its rate and buffer size, with
// the table on the console. `changed` hears the report's `starts` and `startsSummary`
// after every start.
startsRunOutcome
runStarts(telAsioDriver& driver, measuringBP& processor, const programOptions& options,
          const std::function<void(const nlohmann::json& rows, const nlohmann::json& summary)>& changed);
