// What the command line asks of the conformance suite.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
};

} // namespace conform
