// What the console and the JSON document say of a comparison.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "baseline/comparison.h"

namespace baseline {

// The "Compared with" block: the baseline's file and date, the driver on both sides, one
// line per change, worst first, the keys the baseline lacks; or that nothing changed.
std::vector<std::string> comparedWithLines(const std::string& file, const std::string& date,
                                           const nlohmann::json& baselineDocument,
                                           const nlohmann::json& current, const Comparison& comparison);
// The verdict's reasons: one "regressed: ..." per change for the worse.
std::vector<std::string> regressionReasons(const Comparison& comparison);
// The document's `baseline` object: file, date, changes[] (what, before, after, worse), lacks[].
nlohmann::json baselineJson(const std::string& file, const std::string& date, const Comparison& comparison);

} // namespace baseline
