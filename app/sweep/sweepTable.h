// The sweep's console table, from the sweep's typed rows (the JSON report's rows are made
// from the same rows, so the two always say the same).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/sweep/sweepRow.h"

// "Sweep: 8 settings at 2 rates, 2 s each. Press SPACE to end it early."; with /starts,
// "..., 3 starts of 2 s each. ...".
std::string sweepPlanLine(size_t settings, size_t rates, int64_t seconds, int32_t starts = 0);

// "    Rate  Buffer  Reported  Round trip ..." and the row of one setting, aligned with it.
std::string sweepHeaderLine();
std::string sweepRowLine(const sweepRow& row);

// "Smallest buffer that passed: 44100 Hz: 128 samples; 48000 Hz: none", every rate of the
// rows in the order they ran.
std::string smallestPassingLine(const std::vector<sweepRow>& rows);
