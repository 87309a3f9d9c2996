// The console lines of /starts: the plan, the table of starts, the spread of the round
// trips and the failures with their rates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/sweep/sweepRow.h"
#include "measure/startsSummary.h"

// "Starts: 6 at 48000 Hz, 256 samples, 1 s each. Press SPACE to end it early."
std::string startsPlanLine(int32_t starts, double rate, int32_t buffer, int64_t seconds);
// "  Start  First callback  Round trip ..." and one start's row, aligned with it.
std::string startsHeaderLine();
std::string startsRowLine(const sweepRow& row, int32_t start);
// "Round trip: 696.0 in 48 of 50 starts, 952.0 in 2: one buffer more" (nothing without a
// round trip), then "Failed    : no first callback within 1 s: 1 of 50" per kind (what
// could not be judged as "Not judged: ...", what could not be done as "Error     : ..."),
// or "Failed    : none".
std::vector<std::string> startsSummaryLines(const measure::StartsSummary& summary, int32_t bufferSize);
