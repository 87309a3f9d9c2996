#include "baseline/judgement.h"

#include "baseline/baselineText.h"
#include "baseline/comparison.h"
#include "baseline/documentKind.h"

namespace baseline {

std::string unusableLine(const std::string& fileName, const std::string& why) {
    return "The baseline " + fileName + " " + why + ".";
}

Judgement judgeAgainst(const BaselineFile& file, const std::string& fileName, const nlohmann::json& current) {
    Judgement judgement;
    const std::string why = incompatibility(file.document, current);
    if (!why.empty()) {
        judgement.error = unusableLine(fileName, why);
        judgement.lines.push_back(judgement.error);
        return judgement;
    }
    const Comparison comparison = compareDocuments(file.document, current);
    judgement.lines = comparedWithLines(fileName, file.date, file.document, current, comparison);
    judgement.section = baselineJson(fileName, file.date, comparison);
    judgement.regressions = regressionReasons(comparison);
    return judgement;
}

} // namespace baseline
