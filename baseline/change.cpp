#include "baseline/change.h"

#include <algorithm>

#include "lab/metricSet.h"

namespace baseline {

namespace {
// Worse 0, better 1, reported 2.
int group(const Change& change) {
    return change.worse ? (*change.worse ? 0 : 1) : 2;
}
} // namespace

std::string valueText(const nlohmann::json& value, const std::string& unit) {
    if (value.is_number()) return lab::metricNumber(value.get<double>()) + (unit.empty() ? "" : " " + unit);
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    return "none";
}

void orderChanges(std::vector<Change>& changes) {
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        if (group(a) != group(b)) return group(a) < group(b);
        return static_cast<int>(a.weight) > static_cast<int>(b.weight);
    });
}

} // namespace baseline
