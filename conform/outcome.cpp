#include "conform/outcome.h"

namespace conform {

const char* resultName(Result result) {
    switch (result) {
    case Result::pass:
        return "pass";
    case Result::fail:
        return "fail";
    case Result::warn:
        return "warn";
    case Result::skip:
        return "skip";
    }
    return "fail";
}

Result resultFromName(const std::string& name) {
    for (Result result : {Result::pass, Result::warn, Result::skip})
        if (name == resultName(result)) return result;
    return Result::fail;
}

Outcome withFault(const Outcome& outcome, const std::string& fault) {
    if (outcome.result != Result::fail) return failed(fault);
    Outcome more = outcome;
    more.detail += "; " + fault;
    if (more.faults.size() < listedFaults)
        more.faults.push_back(fault);
    else
        ++more.faultsLeftOut;
    return more;
}

std::vector<std::string> faultLines(const Outcome& outcome) {
    std::vector<std::string> lines = outcome.faults;
    if (outcome.faultsLeftOut > 0)
        lines.push_back("and " + std::to_string(outcome.faultsLeftOut) +
                        (outcome.faultsLeftOut == 1 ? " more fault" : " more faults"));
    return lines;
}

Outcome Findings::outcome(const std::string& passDetail) const {
    if (!f_faults.empty()) {
        std::string detail = f_faults.front();
        if (f_faults.size() > 1)
            detail += "; " + std::to_string(f_faults.size() - 1) +
                      (f_faults.size() == 2 ? " more fault" : " more faults");
        Outcome outcome = failed(detail);
        const size_t listed = f_faults.size() < listedFaults ? f_faults.size() : listedFaults;
        outcome.faults.assign(f_faults.begin(), f_faults.begin() + static_cast<std::ptrdiff_t>(listed));
        outcome.faultsLeftOut = f_faults.size() - listed;
        return outcome;
    }
    if (!f_warnings.empty()) return warned(f_warnings.front());
    return passed(passDetail);
}

Tally tally(const std::vector<CheckReport>& reports) {
    Tally counts;
    for (const CheckReport& report : reports) {
        switch (report.outcome.result) {
        case Result::pass:
            ++counts.passed;
            break;
        case Result::fail:
            ++counts.failed;
            break;
        case Result::warn:
            ++counts.warnings;
            break;
        case Result::skip:
            ++counts.skipped;
            break;
        }
    }
    return counts;
}

std::string summaryLine(const Tally& counts) {
    return "Conformance: " + std::to_string(counts.passed) + " of " + std::to_string(counts.total()) +
           " checks passed, " + std::to_string(counts.failed) + " failed, " +
           std::to_string(counts.warnings) + (counts.warnings == 1 ? " warning, " : " warnings, ") +
           std::to_string(counts.skipped) + " skipped";
}

} // namespace conform
