// What the suite found for one driver, and the reports made of it: the JSON section, the
// JUnit document and the verdict. Plain functions of the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "conform/outcome.h"
#include "measure/runDocument.h"

namespace conform {

struct DriverResult {
    int32_t index = 0;
    std::string description; // the driver list's name, UTF-8
    std::string clsid;
    std::string name; // the driver's own name, once some check initialised it
    int32_t version = 0;
    bool identified = false;
    bool notCreated = false;                     // the driver could not be created at all
    std::string failure;                         // then why
    std::optional<measure::FigureFacts> figures; // as the figures check read them
    std::vector<CheckReport> reports;
};

// The ids of the failed checks.
std::vector<std::string> failedIds(const DriverResult& driver);
bool passes(const DriverResult& driver);

// The exit status: 0 when no check failed, 1 when one did, 2 when no driver could be
// created at all (or none is installed).
int suiteExitStatus(const std::vector<DriverResult>& drivers, bool anyInstalled);

// The `conformance` section: for one driver its checks and counts, for several a list of
// drivers each with their own, and the counts of all.
nlohmann::json conformanceSection(const std::vector<DriverResult>& drivers, bool allDrivers,
                                  int32_t timeLimitSeconds, bool isolated);
// `reasons` of the document: the failed ids ("figures"), for several drivers with their
// index ("3: figures").
std::vector<std::string> suiteReasons(const std::vector<DriverResult>& drivers, bool allDrivers);

// A JUnit XML report: one testsuite per driver, one testcase per check, with a failure
// element (its text every fault, one a line) for a failed check, an error element for
// one that should have run and did not (interrupted, or what it needs failed before),
// skipped for one skipped by choice or by the driver's nature; warnings pass, with the
// detail as output. The class of a check is the driver's description without dots
// (which CI servers read as packages) and its index. Without a driver, one test case
// whose error is `noDriver`, the line that said why. With a baseline (/baseline), a
// testsuite "baseline" of one case that fails with `baselineReasons` (its regressions),
// or is in error where they say the baseline could not be compared ("The baseline ...").
std::string junitReport(const std::vector<DriverResult>& drivers, const std::string& noDriver = "",
                        const std::optional<std::vector<std::string>>& baselineReasons = std::nullopt);

} // namespace conform
