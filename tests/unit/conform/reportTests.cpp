// What the suite makes of its results: the child's result line, the summary, the exit
// status, the JSON section and the JUnit document.
#include <gtest/gtest.h>

#include "conform/caseResult.h"
#include "conform/suiteResult.h"
#include "conform/texts.h"
#include "measure/runDocument.h"

using namespace conform;

namespace {

Outcome outcomeOf(Result result, const std::string& detail) {
    switch (result) {
    case Result::fail:
        return failed(detail);
    case Result::warn:
        return warned(detail);
    case Result::skip:
        return skipped(detail);
    default:
        return passed(detail);
    }
}

DriverResult driverWith(std::vector<Result> results) {
    DriverResult driver;
    driver.description = "Card & <Co> \"A\"";
    driver.clsid = "{X}";
    int n = 0;
    for (Result result : results) {
        CheckReport report;
        report.id = "check-" + std::to_string(n++);
        report.outcome = outcomeOf(result, "seen: a < b & \x01tab\t");
        report.seconds = 0.25;
        driver.reports.push_back(report);
    }
    return driver;
}

} // namespace

TEST(ConformReports, ACaseResultCrossesTheChannelIntact) {
    CaseResult sent;
    sent.report.id = "start-stop";
    sent.report.outcome = warned("stop took 2 s \xff");
    sent.report.seconds = 1.5;
    sent.report.resetsHonoured = 2;
    sent.created = sent.initialised = true;
    sent.createStatus = 0;
    sent.driverName = "Card";
    sent.driverVersion = 7;
    // Whatever else the child's driver wrote on the way comes before; the last result counts.
    const std::string received =
        "noise\n{\"result\": 5}\n" + caseResultLine(CaseResult{}) + caseResultLine(sent);
    const std::optional<CaseResult> got = readCaseResult(received);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->report.id, "start-stop");
    EXPECT_EQ(got->report.outcome.result, Result::warn);
    EXPECT_EQ(got->report.outcome.detail, "stop took 2 s \xEF\xBF\xBD"); // the stray byte replaced
    EXPECT_EQ(got->report.seconds, 1.5);
    EXPECT_EQ(got->report.resetsHonoured, 2);
    EXPECT_TRUE(got->created && got->initialised);
    EXPECT_EQ(got->driverVersion, 7);
    EXPECT_FALSE(got->figures);
    EXPECT_EQ(got->barred, telDriverCall::none);
    EXPECT_FALSE(readCaseResult("no result\n{\"id\": \"x\"}\n"));

    // Every fault, the figures read and a call the check stopped at cross too.
    CaseResult full;
    full.report.outcome = withFault(failed("first"), "second");
    full.report.outcome.faultsLeftOut = 4;
    full.figures = measure::FigureFacts{};
    full.figures->bufferActual = 256;
    full.figures->sampleRate = 48000;
    full.barred = telDriverCall::start;
    const std::optional<CaseResult> back = readCaseResult(caseResultLine(full));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->report.outcome.faults, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(back->report.outcome.faultsLeftOut, 4u);
    ASSERT_TRUE(back->figures);
    EXPECT_EQ(back->figures->bufferActual, 256);
    EXPECT_EQ(back->figures->sampleRate, 48000);
    EXPECT_EQ(back->barred, telDriverCall::start);
}

TEST(ConformReports, TheStepACheckIsInCrossesToo) {
    EXPECT_EQ(readCaseStage(""), "");
    const std::string received = caseStageLine("creation 1 of 3") + "driver noise\n" +
                                 caseStageLine("the creation without init") + caseResultLine(CaseResult{});
    EXPECT_EQ(readCaseStage(received), "the creation without init");
    EXPECT_TRUE(readCaseResult(received));
}

TEST(ConformReports, SummaryAndExitStatus) {
    const DriverResult mixed =
        driverWith({Result::pass, Result::fail, Result::fail, Result::warn, Result::skip});
    EXPECT_EQ(summaryLine(tally(mixed.reports)),
              "Conformance: 1 of 5 checks passed, 2 failed, 1 warning, 1 skipped");
    EXPECT_EQ(failedIds(mixed), (std::vector<std::string>{"check-1", "check-2"}));

    const DriverResult clean = driverWith({Result::pass, Result::warn, Result::skip});
    DriverResult uncreatable = driverWith({Result::fail, Result::skip});
    uncreatable.notCreated = true;
    EXPECT_EQ(suiteExitStatus({clean}, true), 0);
    EXPECT_EQ(suiteExitStatus({mixed}, true), 1);
    EXPECT_EQ(suiteExitStatus({uncreatable}, true), 2);
    // One of several could not be created: as in a measured run of every driver, that is
    // an error unless another driver failed, which outweighs it.
    EXPECT_EQ(suiteExitStatus({clean, uncreatable}, true), 2);
    EXPECT_EQ(suiteExitStatus({mixed, uncreatable}, true), 1);
    EXPECT_EQ(suiteExitStatus({}, false), 2);
}

TEST(ConformReports, TheJsonSectionForOneDriverAndForSeveral) {
    DriverResult clean = driverWith({Result::pass, Result::warn});
    DriverResult mixed = driverWith({Result::fail, Result::pass});
    mixed.index = 3;
    const nlohmann::json one = conformanceSection({mixed}, false, 20, true);
    EXPECT_EQ(one["checks"][0]["result"], "fail");
    EXPECT_EQ(one["checks"][0]["seconds"], 0.25);
    EXPECT_EQ(one["failed"], 1);
    EXPECT_FALSE(one.contains("drivers"));
    const nlohmann::json all = conformanceSection({clean, mixed}, true, 5, false);
    EXPECT_EQ(all["total"], 4);
    EXPECT_EQ(all["drivers"][0]["verdict"], "pass");
    EXPECT_EQ(all["drivers"][1]["reasons"], nlohmann::json::array({"check-0"}));
    EXPECT_TRUE(all["drivers"][1]["name"].is_null());
    EXPECT_EQ(suiteReasons({clean, mixed}, true), std::vector<std::string>{"3: check-0"});
}

TEST(ConformReports, JUnitIsWellFormedWithEverythingEscaped) {
    const std::string xml =
        junitReport({driverWith({Result::pass, Result::fail, Result::skip, Result::warn})});
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites ", 0), 0u);
    EXPECT_NE(xml.find("<testsuites name=\"echoprobe conformance\" tests=\"4\" failures=\"1\" errors=\"0\" "
                       "skipped=\"1\" time=\"1.000\">"),
              std::string::npos);
    EXPECT_NE(xml.find("<testsuite name=\"Card &amp; &lt;Co&gt; &quot;A&quot;\" id=\"0\" tests=\"4\""),
              std::string::npos);
    EXPECT_NE(
        xml.find("<testcase name=\"check-0\" classname=\"conformance.Card &amp; &lt;Co&gt; &quot;A&quot; "
                 "(index 0)\" time=\"0.250\"/>"),
        std::string::npos);
    EXPECT_NE(xml.find("<failure message=\"seen: a &lt; b &amp; tab\t\" type=\"fail\">"), std::string::npos);
    EXPECT_NE(xml.find("<skipped message=\"seen: a &lt; b &amp; tab\t\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<system-out>warning: seen:"), std::string::npos);
    EXPECT_EQ(xml.find('\x01'), std::string::npos); // a control character XML cannot hold
    EXPECT_EQ(xml.substr(xml.size() - 14), "</testsuites>\n");
}

TEST(ConformReports, JUnitHoldsOnlyCharactersXmlCanHold) {
    // A driver's name with bytes that are no UTF-8 and the noncharacters U+FFFE and U+FFFF.
    DriverResult odd = driverWith({Result::pass});
    odd.identified = true;
    odd.name = "Odd\xff\xef\xbf\xbe\xef\xbf\xbf\xc3";
    const std::string xml = junitReport({odd});
    EXPECT_NE(xml.find("value=\"Odd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"/>"), std::string::npos);
}

TEST(ConformReports, EveryFaultIsListedInTheJsonAndTheJUnitReport) {
    DriverResult driver = driverWith({Result::pass, Result::fail});
    Findings findings;
    findings.fault("cycle 1: stop returned early");
    findings.fault("cycle 2: <none>");
    driver.reports[1].outcome = findings.outcome("");
    const nlohmann::json section = conformanceSection({driver}, false, 20, true);
    EXPECT_EQ(section["checks"][0]["faults"], nlohmann::json::array());
    EXPECT_EQ(section["checks"][1]["faults"],
              nlohmann::json::array({"cycle 1: stop returned early", "cycle 2: <none>"}));
    const std::string xml = junitReport({driver});
    EXPECT_NE(xml.find("type=\"fail\">cycle 1: stop returned early\ncycle 2: &lt;none&gt;</failure>"),
              std::string::npos);
}

TEST(ConformReports, JUnitTellsDriversApartAndNeverPassesWhatDidNotRun) {
    DriverResult first = driverWith({Result::pass, Result::skip, Result::skip});
    first.description = "USB Audio 2.0";
    first.index = 3;
    first.reports[1].outcome = skipped("skipped with /skipcp");
    first.reports[2].outcome = skipped("interrupted");
    first.reports[2].notRun = true;
    DriverResult second = first;
    second.index = 4;
    const std::string xml = junitReport({first, second});
    // No dot in a class name, which CI servers split into packages; the index tells the two apart.
    EXPECT_NE(xml.find("classname=\"conformance.USB Audio 2_0 (index 3)\""), std::string::npos);
    EXPECT_NE(xml.find("classname=\"conformance.USB Audio 2_0 (index 4)\""), std::string::npos);
    // A check that did not run is an error; one skipped by choice stays skipped.
    EXPECT_NE(xml.find("<testsuites name=\"echoprobe conformance\" tests=\"6\" failures=\"0\" errors=\"2\" "
                       "skipped=\"2\""),
              std::string::npos);
    EXPECT_NE(xml.find("<error message=\"interrupted\" type=\"not run\">"), std::string::npos);
    EXPECT_NE(xml.find("<skipped message=\"skipped with /skipcp\"/>"), std::string::npos);

    // Without a driver the report is not empty: one test case errs with why.
    const std::string none = junitReport({}, "No ASIO drivers found.");
    EXPECT_NE(none.find("tests=\"1\" failures=\"0\" errors=\"1\""), std::string::npos);
    EXPECT_NE(none.find("<error message=\"No ASIO drivers found.\" type=\"no driver\">"), std::string::npos);
}

TEST(ConformReports, DriverTextBackToTheConsole) {
    EXPECT_EQ(fromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"), u"a\u00E9\u20AC\U0001F3B5");
    EXPECT_EQ(fromUtf8("x\xC3"), u"x\uFFFD");                     // cut short
    EXPECT_EQ(fromUtf8("\xED\xA0\x80!"), u"\uFFFD\uFFFD\uFFFD!"); // an encoded surrogate is no character
}
