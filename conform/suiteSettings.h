// What the command line asks of the conformance suite.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure/runDocument.h"
#include "measure/verdict.h"

namespace conform {

inline constexpr int32_t defaultTimeLimitSeconds = 20;

struct SuiteSettings {
    bool allDrivers = false;                            // /index=all: every installed driver in turn
    int32_t index = 0;                                  // /index=N otherwise
    bool skipControlPanel = false;                      // /skipcp
    int32_t timeLimitSeconds = defaultTimeLimitSeconds; // /timeout=S, per driver call
    bool isolate = true;                                // /isolate=no runs every check in this process
    std::vector<std::string> checks;                    // /check=ID,...: only these (empty: every check)
    std::optional<std::u16string> jsonPath;             // /json=FILE
    std::optional<std::u16string> junitPath;            // /junit=FILE
    std::optional<std::u16string> htmlPath;             // /html=FILE
    std::optional<std::u16string> metricsPath;          // /metrics=FILE
    // The HTML page of the suite's JSON document (the program's report writer).
    std::function<std::string(const nlohmann::json&)> htmlPage;
    // What the driver list's entry `index` shows of a driver that could not be created
    // (the program's /list), said with COM's answer.
    std::function<std::string(int32_t index)> creationDiagnosis;
    // /baseline=FILE (the program's): whether the earlier document can be used, else the
    // line that says why; and this suite's document judged against it, which may print,
    // add the document's `baseline` and give the verdict its reasons.
    std::function<bool(std::u16string* why)> baselineReadable;
    std::function<void(measure::RunDocument& document, measure::Verdict& verdict)> judgeAgainstBaseline;
};

} // namespace conform
