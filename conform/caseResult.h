// One check's result as the process that ran it reports it: the check's report and what
// it learnt about the driver. A child sends it to its parent as one line of JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "conform/checkContext.h"
#include "conform/outcome.h"

namespace conform {

struct CaseResult {
    CheckReport report;
    bool created = false;
    int32_t createStatus = 0;
    bool initialised = false;
    bool initRefused = false;
    std::string driverName; // UTF-8
    int32_t driverVersion = 0;
    std::optional<measure::FigureFacts> figures;
    telDriverCall barred = telDriverCall::none; // a call that hung before ended the check
};

CaseResult caseResultOf(const CheckReport& report, const CheckContext& context);

// One line of JSON, ending in a line feed.
std::string caseResultLine(const CaseResult& result);
// The last line of `received` that holds a result; empty when none does.
std::optional<CaseResult> readCaseResult(const std::string& received);

// A line that tells the parent the step of the check that begins; the last one of
// `received` ("" when none came).
std::string caseStageLine(const std::string& stage);
std::string readCaseStage(const std::string& received);

} // namespace conform
