// What a check found: its result and a one-line detail that says what was seen, and the
// same with the check's id and time once it ran.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace conform {

// pass; fail; warn: what hosts survive but should not have to; skip, with the reason.
enum class Result { pass, fail, warn, skip };

// "pass", "fail", "warn", "skip".
const char* resultName(Result result);
// The result named by `name`; fail for anything unknown.
Result resultFromName(const std::string& name);

// Faults a check lists one by one; those beyond are only counted.
inline constexpr size_t listedFaults = 50;

struct Outcome {
    Result result = Result::pass;
    std::string detail;
    // A failed check's faults, the first first (at most listedFaults), and how many more
    // there were.
    std::vector<std::string> faults;
    size_t faultsLeftOut = 0;
};

inline Outcome passed(std::string detail) {
    return {Result::pass, std::move(detail), {}, 0};
}
inline Outcome failed(std::string fault) {
    return {Result::fail, fault, {fault}, 0};
}
inline Outcome warned(std::string detail) {
    return {Result::warn, std::move(detail), {}, 0};
}
inline Outcome skipped(std::string detail) {
    return {Result::skip, std::move(detail), {}, 0};
}

// `outcome` with one more fault: a failed one keeps its own and adds it to the detail
// ("...; after the check the process crashed in release (signal 11)"); any other fails
// with it alone.
Outcome withFault(const Outcome& outcome, const std::string& fault);

// The faults for a person, one a line, with the count of those not listed.
std::vector<std::string> faultLines(const Outcome& outcome);

// Collects what one check finds: faults fail it, warnings warn, and otherwise it passes
// with the description given at the end. The detail names the first fault (and says how
// many more there were), else the first warning; every fault is listed besides.
class Findings {
  public:
    void fault(std::string text) { f_faults.push_back(std::move(text)); }
    void warning(std::string text) { f_warnings.push_back(std::move(text)); }
    bool anyFault() const { return !f_faults.empty(); }
    Outcome outcome(const std::string& passDetail) const;

  private:
    std::vector<std::string> f_faults;
    std::vector<std::string> f_warnings;
};

// One check as it ran.
struct CheckReport {
    std::string id;
    Outcome outcome;
    double seconds = 0.0;
    int resetsHonoured = 0; // reset requests of the driver answered with a full reset
    // A skipped check that should have run: the suite was interrupted, or the driver
    // could not be created or had hung in a call it needs (not a skip by choice or by the
    // driver's nature, such as /skipcp or one rate only).
    bool notRun = false;
};

// The counts of a suite's results.
struct Tally {
    int passed = 0, failed = 0, warnings = 0, skipped = 0;
    int total() const { return passed + failed + warnings + skipped; }
};
Tally tally(const std::vector<CheckReport>& reports);

// "Conformance: 19 of 22 checks passed, 2 failed, 1 warning, 0 skipped"
std::string summaryLine(const Tally& counts);

} // namespace conform
