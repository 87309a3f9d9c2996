#include "lab/junitReport.h"

#include <map>
#include <vector>

#include "lab/documentReading.h"
#include "lab/findingClasses.h"
#include "lab/junitDocument.h"

namespace lab {

namespace {

using json = nlohmann::json;
using Outcome = JunitCase::Outcome;

std::vector<std::string> reasonsOf(const json& node) {
    std::vector<std::string> reasons;
    const json& list = nodeAt(node, {"reasons"});
    if (list.is_array())
        for (const json& reason : list)
            if (reason.is_string()) reasons.push_back(reason.get<std::string>());
    return reasons;
}

std::string joined(const std::vector<std::string>& lines, const char* between) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : between) + line;
    return text;
}

// A case that failed (the driver did wrong, or the run could not judge) or is in error
// (the run was not made as asked, or was cut short): its reasons as message and text.
void judged(JunitCase& each, Outcome outcome, const std::string& type,
            const std::vector<std::string>& reasons) {
    each.outcome = outcome;
    each.type = type;
    each.message = joined(reasons, "; ");
    each.text = joined(reasons, "\n");
}

bool isError(const std::string& verdict) {
    return verdict == "error" || verdict == "interrupted";
}

bool isVerdict(const std::string& word) {
    return word == "pass" || word == "fail" || word == "inconclusive" || isError(word);
}

// What a run whose process ended before it told a verdict (and without a crash its
// parent saw) is said to have done: it judged nothing, and never passes.
constexpr const char* noVerdict = "the run ended without a verdict";

// The reason the run was cut short by a signal, if it was.
std::string interruption(const json& document) {
    for (const std::string& reason : reasonsOf(document))
        if (reason.rfind("stopped by signal", 0) == 0) return reason;
    return textAt(document, {"verdict"}) == "interrupted" ? "interrupted" : "";
}

// The reasons /baseline gives the verdict: a change for the worse, a baseline that could
// not be compared. They belong to the "baseline" case alone.
bool regression(const std::string& reason) {
    return reason.rfind("regressed: ", 0) == 0;
}
bool baselineError(const std::string& reason) {
    return reason.rfind("The baseline ", 0) == 0;
}

// With /baseline: a case "baseline" that fails with the regressions, in error where the
// baseline could not be compared.
void addBaselineCase(std::vector<JunitCase>& cases, const json& document, const std::string& className) {
    std::vector<std::string> regressions, errors;
    for (const std::string& reason : reasonsOf(document)) {
        if (regression(reason)) regressions.push_back(reason);
        if (baselineError(reason)) errors.push_back(reason);
    }
    if (!nodeAt(document, {"baseline"}).is_object() && errors.empty()) return;
    JunitCase each;
    each.name = "baseline";
    each.className = className;
    if (!errors.empty())
        judged(each, Outcome::error, "error", errors);
    else if (!regressions.empty())
        judged(each, Outcome::failure, "fail", regressions);
    cases.push_back(each);
}

JunitSuite driverSuite(const json& document, double unixSeconds) {
    JunitSuite suite;
    const json& driver = nodeAt(document, {"driver"});
    const std::string description = textAt(driver, {"description"});
    const std::string index = textAt(driver, {"index"});
    suite.name = (description.empty() ? std::string("no driver") : description) +
                 (index.empty() ? "" : " (index " + index + ")");
    suite.timestamp = isoTimestamp(unixSeconds);
    for (const auto& [property, key] :
         {std::pair{"clsid", "clsid"}, {"driverName", "name"}, {"driverVersion", "version"}})
        if (const std::string value = textAt(driver, {key}); !value.empty())
            suite.properties.push_back({property, value});
    return suite;
}

std::string caseClass(const char* mode, const json& document) {
    const json& driver = nodeAt(document, {"driver"});
    return driverClassName(mode, textAt(driver, {"description"}), textAt(driver, {"index"}));
}

// A measured run: a case per class of finding.
JunitSuite measuredSuite(const json& document, double unixSeconds) {
    JunitSuite suite = driverSuite(document, unixSeconds);
    const std::string told = textAt(document, {"verdict"});
    const std::string verdict = isVerdict(told) ? told : "error";
    std::string failure = textAt(document, {"failure"});
    if (!isVerdict(told) && failure.empty()) failure = noVerdict;
    const std::string cutShort = interruption(document);
    const bool ran = isVerdict(told) && numberAt(document, {"stats", "switches"}).has_value();
    suite.seconds = numberAt(document, {"run", "seconds"}).value_or(0.0);
    if (const std::string rate = textAt(document, {"figures", "sampleRate"}); !rate.empty())
        suite.properties.push_back({"rate", rate});
    if (const std::string buffer = textAt(document, {"figures", "bufferSizes", "actual"}); !buffer.empty())
        suite.properties.push_back({"buffer", buffer});

    std::map<FindingClass, std::vector<std::string>> byClass;
    for (const std::string& reason : reasonsOf(document))
        if (reason != cutShort && !regression(reason) && !baselineError(reason))
            byClass[classOfReason(reason)].push_back(reason);
    // A run that could not be made was not run; one that ended in a crash was not judged.
    const std::string notRun = (told == "error" ? "not run: " : "not judged: ") +
                               (failure.empty() ? (cutShort.empty() ? verdict : cutShort) : failure);

    for (const FindingClass finding : allFindingClasses) {
        JunitCase each;
        each.name = findingClassName(finding);
        each.className = caseClass("measured", document);
        const std::vector<std::string>& reasons = byClass[finding];
        if (finding == FindingClass::run) {
            each.seconds = suite.seconds;
            std::vector<std::string> all = reasons;
            if (!failure.empty() && (all.empty() || all.front() != failure)) all.insert(all.begin(), failure);
            if (!cutShort.empty()) all.push_back(cutShort);
            if (!all.empty())
                judged(each, isError(verdict) ? Outcome::error : Outcome::failure, verdict, all);
        } else if (!ran) {
            judged(each, Outcome::error, verdict, {notRun});
        } else if (!reasons.empty()) {
            judged(each, Outcome::failure, verdict == "inconclusive" ? verdict : "fail", reasons);
        } else if (finding == FindingClass::latency && !nodeAt(document, {"latency"}).is_object()) {
            each.outcome = Outcome::skipped;
            each.message = "not measured: no loopback was asked for (/latency)";
        } else if (finding == FindingClass::recording && !nodeAt(document, {"recording"}).is_object()) {
            each.outcome = Outcome::skipped;
            each.message = "not recorded: no recording was asked for (/record)";
        } else if (!cutShort.empty()) {
            judged(each, Outcome::error, "interrupted", {"not judged whole: " + cutShort});
        }
        suite.cases.push_back(each);
    }
    addBaselineCase(suite.cases, document, caseClass("measured", document));
    return suite;
}

// One case per start of /starts (`starts` of a run or of a sweep's setting), each named
// "start K" after `lead`: passed, or failed with the start's own reasons.
std::vector<JunitCase> startCases(const json& starts, const std::string& lead, const std::string& className) {
    std::vector<JunitCase> cases;
    if (!starts.is_array()) return cases;
    for (const json& row : starts) {
        JunitCase each;
        each.name = lead + "start " + textAt(row, {"start"});
        each.className = className;
        each.seconds = numberAt(row, {"seconds"}).value_or(0.0);
        const std::string word = textAt(row, {"verdict"});
        // A start refused without a verdict was never made; one the driver refused after
        // it had taken the setting failed, with its verdict.
        const bool refused =
            !nodeAt(row, {"accepted"}).is_boolean() || !nodeAt(row, {"accepted"}).get<bool>();
        if (refused && word.empty()) {
            judged(each, Outcome::error, "error", {"refused: " + textAt(row, {"refusal"})});
        } else if (word != "pass") {
            std::vector<std::string> reasons = reasonsOf(row);
            if (reasons.empty()) reasons.push_back(word.empty() ? std::string("no verdict") : word);
            judged(each, isError(word) || word.empty() ? Outcome::error : Outcome::failure,
                   word.empty() ? "error" : word, reasons);
        }
        cases.push_back(each);
    }
    return cases;
}

// /starts of one setting: the run's case with what the starts add up to (the round trip
// that moved, each kind of failure with its rate, how the run ended), then a case per
// start.
JunitSuite startsSuite(const json& document, double unixSeconds) {
    JunitSuite suite = driverSuite(document, unixSeconds);
    const std::string className = caseClass("starts", document);
    const std::string told = textAt(document, {"verdict"});
    if (const std::string rate = textAt(document, {"figures", "sampleRate"}); !rate.empty())
        suite.properties.push_back({"rate", rate});
    if (const std::string buffer = textAt(document, {"figures", "bufferSizes", "actual"}); !buffer.empty())
        suite.properties.push_back({"buffer", buffer});
    const std::vector<JunitCase> starts = startCases(nodeAt(document, {"starts"}), "", className);
    JunitCase run;
    run.name = "run";
    run.className = className;
    std::vector<std::string> own;
    if (const std::string failure = textAt(document, {"failure"}); !failure.empty()) own.push_back(failure);
    for (const std::string& reason : reasonsOf(document))
        if (own.empty() || reason != own.front()) own.push_back(reason);
    if (!isVerdict(told)) own.push_back(noVerdict);
    if (!own.empty())
        judged(run, isError(told) || !isVerdict(told) ? Outcome::error : Outcome::failure,
               isVerdict(told) ? told : "error", own);
    suite.cases.push_back(run);
    for (const JunitCase& each : starts) {
        suite.seconds += each.seconds;
        suite.cases.push_back(each);
    }
    return suite;
}

std::string settingName(const json& row) {
    return textAt(row, {"rate"}) + " Hz, " + textAt(row, {"buffer"}) + " samples";
}

// A sweep: the run, then a case per setting it got to.
JunitSuite sweepSuite(const json& document, double unixSeconds) {
    JunitSuite suite = driverSuite(document, unixSeconds);
    const std::string className = caseClass("sweep", document);
    const std::string verdict = textAt(document, {"verdict"});
    const json& rows = nodeAt(document, {"sweep"});

    std::vector<JunitCase> settings;
    std::vector<std::string> settingPrefixes;
    if (rows.is_array())
        for (const json& row : rows) {
            JunitCase each;
            each.name = settingName(row);
            each.className = className;
            each.seconds = numberAt(row, {"seconds"}).value_or(0.0);
            suite.seconds += each.seconds;
            settingPrefixes.push_back(each.name + ": ");
            const std::string word = textAt(row, {"verdict"});
            if (!nodeAt(row, {"accepted"}).is_boolean() || !nodeAt(row, {"accepted"}).get<bool>()) {
                each.outcome = Outcome::skipped;
                each.message = "refused: " + textAt(row, {"refusal"});
            } else if (word != "pass") {
                std::vector<std::string> reasons = reasonsOf(row);
                if (reasons.empty()) reasons.push_back(word.empty() ? std::string("no verdict") : word);
                judged(each, isError(word) || word.empty() ? Outcome::error : Outcome::failure,
                       word.empty() ? "error" : word, reasons);
            }
            settings.push_back(each);
            const std::vector<JunitCase> starts =
                startCases(nodeAt(row, {"starts"}), each.name + ", ", className);
            settings.insert(settings.end(), starts.begin(), starts.end());
        }

    // The run's own reasons: those of no setting.
    JunitCase run;
    run.name = "run";
    run.className = className;
    std::vector<std::string> own;
    const std::string failure = textAt(document, {"failure"});
    if (!failure.empty()) own.push_back(failure);
    for (const std::string& reason : reasonsOf(document)) {
        bool ofSetting = reason == failure || regression(reason) || baselineError(reason);
        for (const std::string& prefix : settingPrefixes)
            ofSetting = ofSetting || reason.rfind(prefix, 0) == 0;
        if (!ofSetting) own.push_back(reason);
    }
    if (!isVerdict(verdict)) own.push_back(noVerdict);
    if (settings.empty() && own.empty() && verdict != "pass") own.push_back("no setting was run");
    if (!own.empty())
        judged(run, isError(verdict) || !isVerdict(verdict) ? Outcome::error : Outcome::failure,
               isVerdict(verdict) ? verdict : "error", own);
    suite.cases.push_back(run);
    suite.cases.insert(suite.cases.end(), settings.begin(), settings.end());
    addBaselineCase(suite.cases, document, className);
    return suite;
}

JunitSuite suiteOf(const json& document, bool sweep, double unixSeconds) {
    if (sweep) return sweepSuite(document, unixSeconds);
    return nodeAt(document, {"starts"}).is_array() ? startsSuite(document, unixSeconds)
                                                   : measuredSuite(document, unixSeconds);
}

} // namespace

std::string junitReport(const json& document, RunMode mode, double unixSeconds) {
    std::vector<JunitSuite> suites;
    if (mode != RunMode::everyDriver) {
        suites.push_back(suiteOf(document, mode == RunMode::sweep, unixSeconds));
        return junitXml(std::string("echoprobe ") + modeName(mode), suites);
    }
    const json& runs = nodeAt(document, {"runs"});
    if (runs.is_array())
        for (const json& run : runs)
            suites.push_back(suiteOf(run, nodeAt(run, {"sweep"}).is_array(), unixSeconds));
    // What befell the whole: no driver, a signal before every driver had its turn.
    const std::string verdict = textAt(document, {"verdict"});
    const std::string failure = textAt(document, {"failure"});
    const std::string cutShort = interruption(document);
    if (!failure.empty() || !cutShort.empty() || suites.empty()) {
        JunitSuite whole;
        whole.name = "every driver";
        whole.timestamp = isoTimestamp(unixSeconds);
        JunitCase each;
        each.name = "every driver";
        each.className = "every-driver.drivers";
        std::vector<std::string> why;
        if (!failure.empty()) why.push_back(failure);
        if (!cutShort.empty()) why.push_back(cutShort + ": drivers after the last one listed were not run");
        if (why.empty()) why.push_back("no driver was run");
        judged(each, Outcome::error, verdict.empty() ? "error" : verdict, why);
        whole.cases.push_back(each);
        suites.push_back(whole);
    }
    // Every driver's runs against the baseline's, as a whole.
    JunitSuite compared;
    compared.name = "baseline";
    compared.timestamp = isoTimestamp(unixSeconds);
    addBaselineCase(compared.cases, document, "every-driver.baseline");
    if (!compared.cases.empty()) suites.push_back(compared);
    return junitXml("echoprobe every-driver", suites);
}

} // namespace lab
