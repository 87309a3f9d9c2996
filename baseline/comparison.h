// Two documents of the same kind compared: what got worse, what got better, what only
// changed. Counts the machine can cause (late switches that fell into its stalls) are
// left out; a count judged worse is one that was 0 and is not any more.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "baseline/change.h"

namespace baseline {

struct Comparison {
    std::vector<Change> changes;    // ordered by orderChanges
    std::vector<std::string> lacks; // what the baseline has no keys for ("no per-pair round trips")
    bool regressed() const;
};

// Both documents must be compatible (incompatibility() empty).
Comparison compareDocuments(const nlohmann::json& baselineDocument, const nlohmann::json& current);

} // namespace baseline
