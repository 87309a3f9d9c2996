// One difference between a baseline document and this run's.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace baseline {

// How much a change weighs when the list is ordered: a verdict or a check first, then
// the round trip and the buffer sizes, then counts of faults, then what is only reported.
enum class Weight { reported = 0, count = 1, figure = 2, result = 3 };

struct Change {
    std::string what;      // "round trip, output 1 to input 2"
    nlohmann::json before; // the baseline's value (600, "pass"); null for none
    nlohmann::json after;  // this run's
    std::string unit;      // of both values, where they have one ("samples")
    // True: worse (a regression), false: better, empty: reported only (not judged).
    std::optional<bool> worse;
    Weight weight = Weight::reported;
};

// A value as the console shows it: "600 samples", "pass", "none".
std::string valueText(const nlohmann::json& value, const std::string& unit);

// Worse changes first, then improvements, then what is only reported; the heavier
// first within each, in the order found otherwise.
void orderChanges(std::vector<Change>& changes);

} // namespace baseline
