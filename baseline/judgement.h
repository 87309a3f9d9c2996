// A run's document judged against the baseline read before the run: the lines the console
// shows, the document's `baseline` object and what the verdict gains.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "baseline/baselineFile.h"

namespace baseline {

struct Judgement {
    std::vector<std::string> lines;       // the "Compared with" block, or the error line
    nlohmann::json section;               // the document's `baseline`; null after an error
    std::vector<std::string> regressions; // reasons of a failing verdict
    std::string error;                    // a baseline that cannot be compared: the error's reason
};

// The line that says why FILE cannot be used ("The baseline FILE is not JSON.").
std::string unusableLine(const std::string& fileName, const std::string& why);

// `file` was read without an error; `current` is this run's document with its verdict.
Judgement judgeAgainst(const BaselineFile& file, const std::string& fileName, const nlohmann::json& current);

} // namespace baseline
