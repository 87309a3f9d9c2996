// A JUnit XML report as CI servers (Jenkins, GitLab) read it: suites of test cases, each
// passed, failed, in error or skipped, with the counts every element carries worked out
// from the cases when the report is written.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lab {

struct JunitCase {
    enum class Outcome { pass, failure, error, skipped };
    std::string name;
    std::string className; // no dots but the one after the mode: CI servers read dots as packages
    double seconds = 0;
    Outcome outcome = Outcome::pass;
    std::string type;    // of a failure or an error: the verdict's word
    std::string message; // one line
    std::string text;    // every reason, one a line
};

struct JunitSuite {
    std::string name;
    std::string timestamp; // ISO 8601, UTC; empty for none
    double seconds = 0;
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<JunitCase> cases;
};

// The report of `suites` under one testsuites element named `name`.
std::string junitXml(const std::string& name, const std::vector<JunitSuite>& suites);

// "2026-03-01T12:00:00" for seconds since 1970, UTC.
std::string isoTimestamp(double unixSeconds);

// The class name of a driver's cases: the mode, a dot, then the driver's list name with
// its dots made underscores and its index ("measured.USB Audio 2_0 (index 3)").
std::string driverClassName(const std::string& mode, const std::string& description,
                            const std::string& index);

} // namespace lab
