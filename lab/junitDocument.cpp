#include "lab/junitDocument.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "lab/textEscapes.h"

namespace lab {

namespace {

struct Counts {
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    double seconds = 0;
    void add(const Counts& more) {
        tests += more.tests;
        failures += more.failures;
        errors += more.errors;
        skipped += more.skipped;
        seconds += more.seconds;
    }
};

Counts countsOf(const JunitSuite& suite) {
    Counts counts;
    for (const JunitCase& each : suite.cases) {
        ++counts.tests;
        counts.failures += each.outcome == JunitCase::Outcome::failure;
        counts.errors += each.outcome == JunitCase::Outcome::error;
        counts.skipped += each.outcome == JunitCase::Outcome::skipped;
    }
    counts.seconds = suite.seconds;
    return counts;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::isfinite(seconds) && seconds > 0 ? seconds : 0.0);
    return text;
}

std::string countAttributes(const Counts& counts) {
    return " tests=\"" + std::to_string(counts.tests) + "\" failures=\"" + std::to_string(counts.failures) +
           "\" errors=\"" + std::to_string(counts.errors) + "\" skipped=\"" + std::to_string(counts.skipped) +
           "\" time=\"" + secondsText(counts.seconds) + "\"";
}

std::string caseXml(const JunitCase& each) {
    std::string xml = "    <testcase name=\"" + xmlText(each.name) + "\" classname=\"" +
                      xmlText(each.className) + "\" time=\"" + secondsText(each.seconds) + "\"";
    const std::string message = " message=\"" + xmlText(each.message) + "\"";
    switch (each.outcome) {
    case JunitCase::Outcome::pass:
        return xml + "/>\n";
    case JunitCase::Outcome::skipped:
        return xml + ">\n      <skipped" + message + "/>\n    </testcase>\n";
    case JunitCase::Outcome::failure:
    case JunitCase::Outcome::error: {
        const char* element = each.outcome == JunitCase::Outcome::failure ? "failure" : "error";
        return xml + ">\n      <" + element + message + " type=\"" + xmlText(each.type) + "\">" +
               xmlText(each.text.empty() ? each.message : each.text) + "</" + element +
               ">\n    </testcase>\n";
    }
    }
    return xml + "/>\n";
}

} // namespace

std::string junitXml(const std::string& name, const std::vector<JunitSuite>& suites) {
    Counts all;
    for (const JunitSuite& suite : suites)
        all.add(countsOf(suite));
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" + xmlText(name) +
                      "\"" + countAttributes(all) + ">\n";
    for (const JunitSuite& suite : suites) {
        xml += "  <testsuite name=\"" + xmlText(suite.name) + "\"" + countAttributes(countsOf(suite)) +
               (suite.timestamp.empty() ? "" : " timestamp=\"" + xmlText(suite.timestamp) + "\"") + ">\n";
        if (!suite.properties.empty()) {
            xml += "    <properties>\n";
            for (const auto& [property, value] : suite.properties)
                xml +=
                    "      <property name=\"" + xmlText(property) + "\" value=\"" + xmlText(value) + "\"/>\n";
            xml += "    </properties>\n";
        }
        for (const JunitCase& each : suite.cases)
            xml += caseXml(each);
        xml += "  </testsuite>\n";
    }
    return xml + "</testsuites>\n";
}

std::string isoTimestamp(double unixSeconds) {
    using namespace std::chrono;
    const sys_seconds at{seconds(static_cast<int64_t>(std::floor(unixSeconds)))};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string driverClassName(const std::string& mode, const std::string& description,
                            const std::string& index) {
    std::string name = description.empty() ? "no driver" : description;
    std::replace(name.begin(), name.end(), '.', '_');
    return mode + "." + name + (index.empty() ? "" : " (index " + index + ")");
}

} // namespace lab
