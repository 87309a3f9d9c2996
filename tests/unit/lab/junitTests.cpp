// The JUnit report of measured runs, sweeps and every driver: a case per class of finding
// with the verdict's own reasons, errors for what was not run or was cut short, names a
// CI server does not split, and text escaped.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "lab/junitReport.h"
#include "tests/unit/lab/labDocuments.h"

using lab::RunMode;
using json = nlohmann::json;

namespace {

// The element of test case `name` (from its opening tag to its end).
std::string caseOf(const std::string& xml, const std::string& name) {
    const size_t begin = xml.find("<testcase name=\"" + name + "\"");
    if (begin == std::string::npos) return {};
    const size_t selfClosed = xml.find("/>", begin), open = xml.find('>', begin);
    if (selfClosed + 1 == open) return xml.substr(begin, selfClosed + 2 - begin);
    return xml.substr(begin, xml.find("</testcase>", begin) + 11 - begin);
}

std::string outcomeOf(const std::string& element) {
    for (const char* outcome : {"failure", "error", "skipped"})
        if (element.find(std::string("<") + outcome) != std::string::npos) return outcome;
    return element.empty() ? "missing" : "pass";
}

std::string countsOf(const std::string& xml) {
    std::smatch found;
    std::regex_search(xml, found, std::regex("<testsuites [^>]*(tests=\"[^>]*skipped=\"[0-9]+\")"));
    return found[1];
}

} // namespace

TEST(JUnit, EachReasonOfTheVerdictFailsItsOwnClassOfFinding) {
    const std::string xml =
        lab::junitReport(labtest::measuredRun("Loop.Box 2.0", {3, 2, 1, 0}), RunMode::measured, 1.5e9);
    EXPECT_EQ(outcomeOf(caseOf(xml, "run")), "pass");
    EXPECT_EQ(outcomeOf(caseOf(xml, "timing")), "failure");
    EXPECT_NE(caseOf(xml, "timing").find("3 late switches"), std::string::npos) << caseOf(xml, "timing");
    EXPECT_EQ(outcomeOf(caseOf(xml, "continuity")), "failure");
    EXPECT_NE(caseOf(xml, "continuity").find("2 gaps"), std::string::npos);
    EXPECT_EQ(outcomeOf(caseOf(xml, "rate")), "pass");
    EXPECT_EQ(outcomeOf(caseOf(xml, "latency")), "failure");
    EXPECT_NE(caseOf(xml, "latency").find("1 glitch"), std::string::npos);
    EXPECT_EQ(outcomeOf(caseOf(xml, "recording")), "skipped");
    EXPECT_EQ(countsOf(xml), "tests=\"6\" failures=\"3\" errors=\"0\" skipped=\"1\"");
    // The description's dots would split the class into packages; the index keeps two
    // drivers of one name apart.
    EXPECT_NE(xml.find("classname=\"measured.Loop_Box 2_0 (index 1)\""), std::string::npos);
    EXPECT_NE(xml.find("timestamp=\"2017-07-14T02:40:00\""), std::string::npos);
}

TEST(JUnit, WhatWasNotRunOrWasCutShortIsAnErrorNeverAPass) {
    const std::string interrupted =
        lab::junitReport(labtest::measuredRun("Loop", {0, 0, 0, 15}), RunMode::measured, 0);
    for (const char* name : {"run", "timing", "continuity", "rate", "latency"})
        EXPECT_EQ(outcomeOf(caseOf(interrupted, name)), "error") << name;
    EXPECT_NE(caseOf(interrupted, "run").find("stopped by signal 15"), std::string::npos);

    const std::string failed = lab::junitReport(
        labtest::failedRun("Could not create selected driver, error code=0x8007007E"), RunMode::measured, 0);
    for (const char* name : {"run", "timing", "continuity", "rate", "latency", "recording"})
        EXPECT_EQ(outcomeOf(caseOf(failed, name)), "error") << name;
    EXPECT_NE(caseOf(failed, "timing").find("not run: Could not create selected driver"), std::string::npos);
    EXPECT_EQ(countsOf(failed), "tests=\"6\" failures=\"0\" errors=\"6\" skipped=\"0\"");

    // A run whose process ended before it told a verdict judged nothing.
    json untold = labtest::measuredRun("Loop");
    untold["verdict"] = nullptr;
    const std::string silent = lab::junitReport(untold, RunMode::measured, 0);
    EXPECT_EQ(outcomeOf(caseOf(silent, "run")), "error");
    EXPECT_EQ(outcomeOf(caseOf(silent, "timing")), "error");
    json untoldSweep = labtest::sweepWithRefusal();
    untoldSweep["verdict"] = nullptr;
    EXPECT_EQ(outcomeOf(caseOf(lab::junitReport(untoldSweep, RunMode::sweep, 0), "run")), "error");
}

TEST(JUnit, ASweepHasACasePerSettingAndARefusedOneIsSkipped) {
    const std::string xml = lab::junitReport(labtest::sweepWithRefusal(), RunMode::sweep, 0);
    const std::string refused = caseOf(xml, "48000 Hz, 64 samples");
    EXPECT_EQ(outcomeOf(refused), "skipped");
    EXPECT_NE(refused.find("refused: createBuffers refused 64 samples"), std::string::npos);
    EXPECT_EQ(outcomeOf(caseOf(xml, "48000 Hz, 128 samples")), "pass");
    EXPECT_EQ(outcomeOf(caseOf(xml, "run")), "pass");
    EXPECT_NE(xml.find("classname=\"sweep.Sweep_Driver (index 0)\""), std::string::npos);

    // A setting that failed fails with its reasons; the sweep's own reason for it stays there.
    json failing = labtest::sweepWithRefusal();
    failing["sweep"][1]["verdict"] = "fail";
    failing["sweep"][1]["reasons"] = {"2 gaps"};
    failing["verdict"] = "fail";
    failing["reasons"] = {"48000 Hz, 128 samples: 2 gaps"};
    const std::string failed = lab::junitReport(failing, RunMode::sweep, 0);
    EXPECT_EQ(outcomeOf(caseOf(failed, "48000 Hz, 128 samples")), "failure");
    EXPECT_EQ(outcomeOf(caseOf(failed, "run")), "pass");
}

TEST(JUnit, EveryDriverHasASuitePerDriverAndSaysWhenItWasCutShort) {
    json document = labtest::failedRun("");
    document["failure"] = nullptr;
    document["verdict"] = "interrupted";
    document["reasons"] = {"stopped by signal 2"};
    document["runs"] = json::array({labtest::measuredRun("First"), labtest::sweepWithRefusal()});
    const std::string xml = lab::junitReport(document, RunMode::everyDriver, 0);
    EXPECT_NE(xml.find("<testsuite name=\"First (index 1)\""), std::string::npos);
    EXPECT_NE(xml.find("<testsuite name=\"Sweep.Driver (index 0)\""), std::string::npos);
    EXPECT_NE(xml.find("classname=\"sweep.Sweep_Driver (index 0)\""), std::string::npos);
    EXPECT_EQ(outcomeOf(caseOf(xml, "every driver")), "error");
}

TEST(JUnit, TextIsEscapedControlCharactersToo) {
    json document = labtest::measuredRun("A<b> & \"c\" 'd'\x01");
    document["reasons"] = {"the recording could not be completed: disk <full>\x02"};
    document["verdict"] = "error";
    const std::string xml = lab::junitReport(document, RunMode::measured, 0);
    EXPECT_NE(xml.find("A&lt;b&gt; &amp; &quot;c&quot; &apos;d&apos;\xEF\xBF\xBD (index 1)"),
              std::string::npos);
    EXPECT_NE(caseOf(xml, "recording").find("disk &lt;full&gt;\xEF\xBF\xBD"), std::string::npos);
    for (char ch : xml)
        EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 && ch != '\n') << "control character in the XML";
}
