// Two documents of the same kind compared: what got worse, what got better, what only
// changed. Late switches count as the run's verdict counts them (never those that fell
// into the machine's stalls); a count of faults is worse where it was 0 and is not any
// more in a run that failed, said otherwise.
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
