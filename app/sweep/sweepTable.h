// The sweep's console table, made from the rows of its JSON report so that the two
// always say the same. A row (one setting) holds `rate`, `buffer`, `accepted`, `refusal`,
// `reportedLatency` {input, output}, `seconds`, `stats`, `latency`, `verdict` and `reasons`.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// "    Rate  Buffer  Reported  Round trip ..." and the row of one setting, aligned with it.
std::string sweepHeaderLine();
std::string sweepRowLine(const nlohmann::json& row);

// "Smallest buffer that passed: 44100 Hz: 128 samples; 48000 Hz: none", every rate of the
// rows in the order they ran.
std::string smallestPassingLine(const nlohmann::json& rows);
