// The conformance suite: for the suite over every driver an overview with a row per
// driver, then a table of checks per driver, each check's faults listed under its row.
#include <cstddef>

#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// Faults listed under a check's row; the suite keeps no more than this itself.
constexpr size_t faultsListed = 50;

const char* checkSymbol(CheckResult result) {
    switch (result) {
    case CheckResult::pass:
        return "✓";
    case CheckResult::fail:
        return "✗";
    case CheckResult::warn:
        return "!";
    case CheckResult::skip:
        return "–";
    }
    return "";
}

struct Counts {
    size_t of[4] = {};
    size_t passed() const { return of[size_t(CheckResult::pass)]; }
    size_t failed() const { return of[size_t(CheckResult::fail)]; }
    size_t warned() const { return of[size_t(CheckResult::warn)]; }
    size_t skipped() const { return of[size_t(CheckResult::skip)]; }
};

Counts countsOf(const ConformanceDriver& driver) {
    Counts counts;
    for (const ConformanceCheck& check : driver.checks)
        ++counts.of[size_t(check.result)];
    return counts;
}

// A driver passes when it could be created and no check failed.
bool passes(const ConformanceDriver& driver) {
    return !driver.failure && countsOf(driver).failed() == 0;
}

std::string anchor(size_t position) {
    return "conformance-driver-" + std::to_string(position + 1);
}

std::string overview(const std::vector<ConformanceDriver>& drivers) {
    std::string out = "<table class=\"drivers\"><thead><tr><th>Driver</th><th>Verdict</th><th>Passed</th>"
                      "<th>Failed</th><th>Warnings</th><th>Skipped</th></tr></thead><tbody>";
    for (size_t i = 0; i < drivers.size(); ++i) {
        const ConformanceDriver& driver = drivers[i];
        const Counts counts = countsOf(driver);
        const char* word = passes(driver) ? "pass" : "fail";
        out += "<tr data-driver=\"" + escapeMarkup(driver.driver) + "\" data-verdict=\"" + word +
               "\"><td><a href=\"#" + anchor(i) + "\">" + escapeMarkup(driver.driver) + "</a>" +
               (driver.failure ? " (could not be created)" : "") + "</td><td class=\"verdict-cell " + word +
               "\">" + word + "</td><td class=\"number\">" + std::to_string(counts.passed()) +
               "</td><td class=\"number\">" + std::to_string(counts.failed()) + "</td><td class=\"number\">" +
               std::to_string(counts.warned()) + "</td><td class=\"number\">" +
               std::to_string(counts.skipped()) + "</td></tr>";
    }
    return out + "</tbody></table>";
}

// The faults under a check's row, where they say more than its detail.
std::string faultsRow(const ConformanceCheck& check, int columns) {
    const std::vector<std::string>& faults = check.faults;
    if (faults.empty() || (faults.size() == 1 && faults.front() == check.detail)) return "";
    std::string out = "<tr class=\"faults\" data-faults-of=\"" + escapeMarkup(check.id) + "\" data-count=\"" +
                      std::to_string(faults.size()) + "\"><td></td><td colspan=\"" +
                      std::to_string(columns - 1) + "\">" + std::to_string(faults.size()) +
                      (faults.size() == 1 ? " fault" : " faults") + ":<ol class=\"faults\">";
    for (size_t i = 0; i < faults.size() && i < faultsListed; ++i)
        out += "<li>" + escapeMarkup(faults[i]) + "</li>";
    out += "</ol>";
    if (faults.size() > faultsListed)
        out += "<p>and " + std::to_string(faults.size() - faultsListed) + " more.</p>";
    return out + "</td></tr>";
}

std::string checksTable(const ConformanceDriver& driver, const BaselineData* baseline) {
    std::string out = "<table class=\"conformance\" data-driver=\"" + escapeMarkup(driver.driver) +
                      "\"><thead><tr><th>Check</th><th>Result</th>" + (baseline ? "<th>Baseline</th>" : "") +
                      "<th>Detail</th><th>Time (s)</th></tr></thead><tbody>";
    for (const ConformanceCheck& check : driver.checks) {
        const char* result = checkResultName(check.result);
        out += "<tr data-check=\"" + escapeMarkup(check.id) + "\" data-result=\"" + result + "\"><td><code>" +
               escapeMarkup(check.id) + "</code></td><td class=\"check " + result + "\">" +
               checkSymbol(check.result) + " " + result + "</td>" +
               (baseline ? baselineCell(*baseline, "check " + check.id, result) : "") + "<td>" +
               escapeMarkup(check.detail) + "</td><td class=\"number\">" + fixedNumber(check.seconds, 3) +
               "</td></tr>" + faultsRow(check, baseline ? 5 : 4);
    }
    return out + "</tbody></table>";
}

} // namespace

std::string conformanceSection(const std::vector<ConformanceDriver>& drivers, const BaselineData* baseline) {
    if (drivers.empty()) return "";
    std::string out = "<section id=\"conformance\"><h2>Conformance checks</h2>";
    bool everyDriver = false;
    for (const ConformanceDriver& driver : drivers)
        everyDriver = everyDriver || driver.index.has_value();
    if (everyDriver) out += overview(drivers);
    for (size_t i = 0; i < drivers.size(); ++i) {
        const ConformanceDriver& driver = drivers[i];
        const Counts counts = countsOf(driver);
        out += "<h3 id=\"" + anchor(i) + "\">" + escapeMarkup(driver.driver) + "</h3>";
        if (driver.failure)
            out += "<p class=\"failure\">Could not be created: " + escapeMarkup(*driver.failure) + "</p>";
        if (driver.checks.empty() && driver.failure) continue;
        out += "<p>" + std::to_string(counts.passed()) + " passed, " + std::to_string(counts.failed()) +
               " failed, " + std::to_string(counts.warned()) + " warned, " +
               std::to_string(counts.skipped()) + " skipped.</p>" +
               checksTable(driver, everyDriver ? nullptr : baseline);
    }
    return out + "</section>";
}

} // namespace report
