#include "conform/suiteResult.h"

#include <algorithm>
#include <cstdio>

namespace conform {

using json = nlohmann::json;

namespace {

json checksOf(const DriverResult& driver) {
    json checks = json::array();
    for (const CheckReport& report : driver.reports)
        checks.push_back(
            {{"id", report.id},
             {"result", resultName(report.outcome.result)},
             {"detail", report.outcome.detail},
             {"faults", faultLines(report.outcome)},
             {"seconds", static_cast<double>(static_cast<int64_t>(report.seconds * 1000.0 + 0.5)) / 1000.0},
             {"resetsHonoured", report.resetsHonoured}});
    return checks;
}

int notRunCount(const std::vector<CheckReport>& reports) {
    int count = 0;
    for (const CheckReport& report : reports)
        if (report.outcome.result == Result::skip && report.notRun) ++count;
    return count;
}

// The class of a driver's checks: its description with every dot made an underscore
// (a CI server splits a class name at its dots into packages), and its index, which
// tells two drivers of one description apart.
std::string className(const DriverResult& driver) {
    std::string name = driver.description;
    std::replace(name.begin(), name.end(), '.', '_');
    return "conformance." + name + " (index " + std::to_string(driver.index) + ")";
}

void addCounts(json& section, const Tally& counts) {
    section["total"] = counts.total();
    section["passed"] = counts.passed;
    section["failed"] = counts.failed;
    section["warnings"] = counts.warnings;
    section["skipped"] = counts.skipped;
}

std::string secondsAttribute(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// Text for an XML attribute or element: the five special characters escaped, and the
// control characters XML 1.0 cannot hold left out.
std::string xmlText(const std::string& text) {
    std::string escaped;
    for (char ch : text) {
        switch (ch) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n' || ch == '\r')
                escaped += ch;
        }
    }
    return escaped;
}

// Valid UTF-8 for the XML document: json's replacing dump does the repair. U+FFFE and
// U+FFFF are valid UTF-8 but no XML character: they become U+FFFD too.
std::string cleanUtf8(const std::string& text) {
    const std::string quoted = json(text).dump(-1, ' ', false, json::error_handler_t::replace);
    std::string clean = json::parse(quoted).get<std::string>();
    for (size_t at = clean.find("\xEF\xBF"); at != std::string::npos; at = clean.find("\xEF\xBF", at + 3))
        if (at + 2 < clean.size() && (clean[at + 2] == '\xBE' || clean[at + 2] == '\xBF'))
            clean[at + 2] = '\xBD';
    return clean;
}

} // namespace

std::vector<std::string> failedIds(const DriverResult& driver) {
    std::vector<std::string> ids;
    for (const CheckReport& report : driver.reports)
        if (report.outcome.result == Result::fail) ids.push_back(report.id);
    return ids;
}

bool passes(const DriverResult& driver) {
    return !driver.notCreated && failedIds(driver).empty();
}

int suiteExitStatus(const std::vector<DriverResult>& drivers, bool anyInstalled) {
    if (!anyInstalled || drivers.empty()) return 2;
    // A driver's fault outweighs one that could not be created, as in every verdict.
    bool anyFault = false, anyNotCreated = false;
    for (const DriverResult& driver : drivers) {
        anyNotCreated = anyNotCreated || driver.notCreated;
        anyFault = anyFault || (!driver.notCreated && !passes(driver));
    }
    if (anyFault) return 1;
    return anyNotCreated ? 2 : 0;
}

json conformanceSection(const std::vector<DriverResult>& drivers, bool allDrivers, int32_t timeLimitSeconds,
                        bool isolated) {
    json section = {{"timeLimitSeconds", timeLimitSeconds}, {"isolated", isolated}};
    std::vector<CheckReport> every;
    for (const DriverResult& driver : drivers)
        every.insert(every.end(), driver.reports.begin(), driver.reports.end());
    addCounts(section, tally(every));
    if (!allDrivers) {
        section["checks"] = drivers.empty() ? json::array() : checksOf(drivers.front());
        return section;
    }
    json list = json::array();
    for (const DriverResult& driver : drivers) {
        json entry = {{"index", driver.index},
                      {"description", driver.description},
                      {"clsid", driver.clsid},
                      {"name", driver.identified ? json(driver.name) : json(nullptr)},
                      {"version", driver.identified ? json(driver.version) : json(nullptr)},
                      {"failure", driver.notCreated ? json(driver.failure) : json(nullptr)},
                      {"verdict", driver.notCreated ? "error"
                                  : passes(driver)  ? "pass"
                                                    : "fail"},
                      {"reasons", failedIds(driver)},
                      {"checks", checksOf(driver)}};
        addCounts(entry, tally(driver.reports));
        list.push_back(entry);
    }
    section["drivers"] = list;
    return section;
}

std::vector<std::string> suiteReasons(const std::vector<DriverResult>& drivers, bool allDrivers) {
    std::vector<std::string> reasons;
    for (const DriverResult& driver : drivers)
        for (const std::string& id : failedIds(driver))
            reasons.push_back(allDrivers ? std::to_string(driver.index) + ": " + id : id);
    return reasons;
}

namespace {

// The "baseline" suite, and whether its case failed or is in error.
struct BaselineSuite {
    std::string xml;
    int failures = 0, errors = 0;
};

BaselineSuite baselineSuite(const std::vector<std::string>& reasons) {
    BaselineSuite suite;
    std::string text;
    bool error = false;
    for (const std::string& reason : reasons) {
        text += (text.empty() ? "" : "\n") + reason;
        error = error || reason.rfind("The baseline ", 0) == 0;
    }
    suite.errors = error ? 1 : 0;
    suite.failures = !error && !reasons.empty() ? 1 : 0;
    const std::string message = xmlText(cleanUtf8(reasons.empty() ? "" : reasons.front()));
    suite.xml = "  <testsuite name=\"baseline\" tests=\"1\" failures=\"" + std::to_string(suite.failures) +
                "\" errors=\"" + std::to_string(suite.errors) +
                "\" skipped=\"0\" time=\"0.000\">\n    <testcase name=\"baseline\" "
                "classname=\"conformance.baseline\" "
                "time=\"0.000\"";
    if (reasons.empty())
        suite.xml += "/>\n";
    else
        suite.xml += std::string(">\n      <") + (error ? "error" : "failure") + " message=\"" + message +
                     "\" type=\"" + (error ? "error" : "fail") + "\">" + xmlText(cleanUtf8(text)) + "</" +
                     (error ? "error" : "failure") + ">\n    </testcase>\n";
    suite.xml += "  </testsuite>\n";
    return suite;
}

} // namespace

std::string junitReport(const std::vector<DriverResult>& drivers, const std::string& noDriver,
                        const std::optional<std::vector<std::string>>& baselineReasons) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (drivers.empty()) {
        // No driver was tested: the report still fails, with why.
        const std::string why = xmlText(cleanUtf8(noDriver.empty() ? "no driver was tested" : noDriver));
        return xml +
               "<testsuites name=\"echoprobe conformance\" tests=\"1\" failures=\"0\" errors=\"1\" "
               "skipped=\"0\" "
               "time=\"0.000\">\n  <testsuite name=\"echoprobe conformance\" tests=\"1\" failures=\"0\" "
               "errors=\"1\" skipped=\"0\" time=\"0.000\">\n    <testcase name=\"drivers\" "
               "classname=\"conformance\" time=\"0.000\">\n      <error message=\"" +
               why + "\" type=\"no driver\">" + why +
               "</error>\n    </testcase>\n  </testsuite>\n</testsuites>\n";
    }
    std::vector<CheckReport> every;
    for (const DriverResult& driver : drivers)
        every.insert(every.end(), driver.reports.begin(), driver.reports.end());
    double allSeconds = 0;
    for (const CheckReport& report : every)
        allSeconds += report.seconds;
    const Tally all = tally(every);
    const int allErrors = notRunCount(every);
    const BaselineSuite compared = baselineReasons ? baselineSuite(*baselineReasons) : BaselineSuite{};
    const int comparedCases = baselineReasons ? 1 : 0;
    xml += "<testsuites name=\"echoprobe conformance\" tests=\"" +
           std::to_string(all.total() + comparedCases) + "\" failures=\"" +
           std::to_string(all.failed + compared.failures) + "\" errors=\"" +
           std::to_string(allErrors + compared.errors) + "\" skipped=\"" +
           std::to_string(all.skipped - allErrors) + "\" time=\"" + secondsAttribute(allSeconds) + "\">\n";
    for (const DriverResult& driver : drivers) {
        const Tally counts = tally(driver.reports);
        const int errors = notRunCount(driver.reports);
        double seconds = 0;
        for (const CheckReport& report : driver.reports)
            seconds += report.seconds;
        const std::string suiteName = xmlText(cleanUtf8(driver.description));
        const std::string classAttribute = xmlText(cleanUtf8(className(driver)));
        xml += "  <testsuite name=\"" + suiteName + "\" id=\"" + std::to_string(driver.index) +
               "\" tests=\"" + std::to_string(counts.total()) + "\" failures=\"" +
               std::to_string(counts.failed) + "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" +
               std::to_string(counts.skipped - errors) + "\" time=\"" + secondsAttribute(seconds) + "\">\n";
        xml += "    <properties>\n      <property name=\"clsid\" value=\"" + xmlText(driver.clsid) + "\"/>\n";
        if (driver.identified)
            xml += "      <property name=\"driverName\" value=\"" + xmlText(cleanUtf8(driver.name)) +
                   "\"/>\n      <property name=\"driverVersion\" value=\"" + std::to_string(driver.version) +
                   "\"/>\n";
        xml += "    </properties>\n";
        for (const CheckReport& report : driver.reports) {
            const std::string detail = xmlText(cleanUtf8(report.outcome.detail));
            xml += "    <testcase name=\"" + xmlText(report.id) + "\" classname=\"" + classAttribute +
                   "\" time=\"" + secondsAttribute(report.seconds) + "\"";
            switch (report.outcome.result) {
            case Result::pass:
                xml += "/>\n";
                break;
            case Result::warn:
                xml += ">\n      <system-out>warning: " + detail + "</system-out>\n    </testcase>\n";
                break;
            case Result::skip:
                xml += report.notRun ? ">\n      <error message=\"" + detail + "\" type=\"not run\">" +
                                           detail + "</error>\n    </testcase>\n"
                                     : ">\n      <skipped message=\"" + detail + "\"/>\n    </testcase>\n";
                break;
            case Result::fail: {
                std::string text;
                for (const std::string& fault : faultLines(report.outcome))
                    text += (text.empty() ? "" : "\n") + fault;
                xml += ">\n      <failure message=\"" + detail + "\" type=\"fail\">" +
                       xmlText(cleanUtf8(text.empty() ? report.outcome.detail : text)) +
                       "</failure>\n    </testcase>\n";
                break;
            }
            }
        }
        xml += "  </testsuite>\n";
    }
    return xml + compared.xml + "</testsuites>\n";
}

} // namespace conform
