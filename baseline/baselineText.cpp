#include "baseline/baselineText.h"

#include "lab/documentReading.h"

namespace baseline {

using nlohmann::json;

namespace {

std::string driverLine(const json& document) {
    std::string name = lab::textAt(document, {"driver", "name"});
    if (name.empty()) name = lab::textAt(document, {"driver", "description"});
    if (name.empty()) return "no driver";
    const std::string version = lab::textAt(document, {"driver", "version"});
    return version.empty() ? name : name + ", version " + version;
}

std::string changeText(const Change& change) {
    return change.what + ": " + valueText(change.before, change.unit) + " -> " +
           valueText(change.after, change.unit);
}

const char* label(const Change& change) {
    if (!change.worse) return "changed";
    return *change.worse ? "worse" : "better";
}

} // namespace

std::vector<std::string> comparedWithLines(const std::string& file, const std::string& date,
                                           const json& baselineDocument, const json& current,
                                           const Comparison& comparison) {
    std::vector<std::string> lines;
    lines.push_back("Compared with baseline " + file + (date.empty() ? "" : " of " + date));
    if (lab::nodeAt(current, {"runs"}).is_null()) {
        lines.push_back("  Baseline: " + driverLine(baselineDocument));
        lines.push_back("  This run: " + driverLine(current));
    }
    for (const Change& change : comparison.changes)
        lines.push_back("  " + std::string(label(change)) + ": " + changeText(change));
    for (const std::string& lack : comparison.lacks)
        lines.push_back("  not compared: the baseline has " + lack);
    if (comparison.changes.empty()) lines.push_back("  no change since the baseline");
    return lines;
}

std::vector<std::string> regressionReasons(const Comparison& comparison) {
    std::vector<std::string> reasons;
    for (const Change& change : comparison.changes)
        if (change.worse == true) reasons.push_back("regressed: " + changeText(change));
    return reasons;
}

json baselineJson(const std::string& file, const std::string& date, const Comparison& comparison) {
    json changes = json::array();
    for (const Change& change : comparison.changes)
        changes.push_back({{"what", change.what},
                           {"before", change.before},
                           {"after", change.after},
                           {"unit", change.unit.empty() ? json(nullptr) : json(change.unit)},
                           {"worse", change.worse ? json(*change.worse) : json(nullptr)}});
    return {{"file", file},
            {"date", date.empty() ? json(nullptr) : json(date)},
            {"changes", changes},
            {"lacks", comparison.lacks},
            {"regressed", comparison.regressed()}};
}

} // namespace baseline
