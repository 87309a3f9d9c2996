// The sweep's console table, made from the rows of its JSON report so that the two
// always say the same. A row (one setting) holds `rate`, `buffer`, `accepted`, `refusal`,
// `reportedLatency` {input, output}, `seconds`, `stats`, `latency`, `verdict` and `reasons`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// "Sweep: 8 settings at 2 rates, 2 s each. Press SPACE to end it early."
std::string sweepPlanLine(size_t settings, size_t rates, int64_t seconds);

// "    Rate  Buffer  Reported  Round trip ..." and the row of one setting, aligned with it.
std::string sweepHeaderLine();
std::string sweepRowLine(const nlohmann::json& row);

// "Smallest buffer that passed: 44100 Hz: 128 samples; 48000 Hz: none", every rate of the
// rows in the order they ran.
std::string smallestPassingLine(const nlohmann::json& rows);
