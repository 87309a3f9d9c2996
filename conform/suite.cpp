#include "conform/suite.h"

#include <chrono>
#include <cstdio>

#include "asio/telAsioDriverList.h"
#include "conform/checkList.h"
#include "conform/isolatedCase.h"
#include "conform/suiteResult.h"
#include "conform/texts.h"
#include "lab/openMetrics.h"
#include "measure/runDocument.h"
#include "platform/platform.h"
#include "util/reportFile.h"
#include "util/telUtils.h"

namespace conform {

namespace {

// Columns the live line covers, so a shorter result line leaves nothing of it behind.
constexpr size_t liveWidth = 78;

void print(const std::string& utf8) {
    printMessage(fromUtf8(utf8));
}

// The live line: written straight to standard output and ended with a carriage return,
// so the next line (live or not) takes its place; only on a terminal, where it can.
void writeLive(std::string text) {
    if (!plat::standardOutputIsTerminal()) return;
    text.resize(liveWidth, ' ');
    const std::string bytes = plat::toNarrow(fromUtf8(text)) + "\r";
    const plat::Handle output = plat::stdOutput();
    if (output == 0 || output == plat::invalidHandle) return;
    uint32_t written = 0;
    plat::writeFile(output, bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    plat::flushStdOutput();
}

std::string padded(std::string text, size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string resultLine(const CheckReport& report) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%8.3f s", report.seconds);
    return "  " + padded(resultName(report.outcome.result), 6) + padded(report.id, 18) + seconds + "  " +
           report.outcome.detail;
}

std::vector<const CheckEntry*> selectedChecks(const SuiteSettings& settings) {
    std::vector<const CheckEntry*> checks;
    for (const CheckEntry& check : allChecks()) {
        bool wanted = settings.checks.empty();
        for (const std::string& id : settings.checks)
            wanted = wanted || id == check.id;
        if (wanted) checks.push_back(&check);
    }
    return checks;
}

// What one case tells about the driver as a whole.
struct DriverState {
    bool created = false, initialised = false;
    std::string stopReason; // set when no further check can run
    // Calls that hung (other than create and init, which stop the suite) and where.
    std::vector<telDriverCall> barred;
    std::vector<std::string> whereBarred; // "did not answer within 20 s in buffer-sizes"
};

void learnFrom(const SupervisedCase& ran, DriverState& state, DriverResult& result,
               const SuiteSettings& settings) {
    const CaseResult& r = ran.result;
    if (r.created) state.created = true;
    if (r.initialised) state.initialised = true;
    if (!result.identified && !r.driverName.empty()) {
        result.identified = true;
        result.name = r.driverName;
        result.version = r.driverVersion;
    }
    if (!result.figures && r.figures) result.figures = r.figures;
    const bool stuckIn = ran.end == CaseEnd::crashed || ran.end == CaseEnd::hung;
    if (!state.created && r.createStatus != 0 && !r.created) {
        result.notCreated = true;
        result.failure =
            "The driver could not be created, error code=" + hexText(static_cast<uint32_t>(r.createStatus));
        // What /list says of the driver's module goes with COM's answer.
        const std::string why =
            settings.creationDiagnosis ? settings.creationDiagnosis(result.index) : std::string();
        if (!why.empty()) result.failure += ": " + why;
        state.stopReason = "the driver could not be created";
    } else if (!state.created && stuckIn && ran.call == telDriverCall::create) {
        // A crash or a hang in create is the driver's fault, not a driver that could not
        // be made: its check fails, the rest cannot run.
        state.stopReason = "the driver could not be created";
    } else if (!state.initialised &&
               ((r.initRefused && !r.initialised) || (stuckIn && ran.call == telDriverCall::init))) {
        state.stopReason = "the driver could not be initialised";
    } else if (ran.end == CaseEnd::hung && ran.call != telDriverCall::none) {
        // Every later check that needs this call would wait the limit out again.
        state.barred.push_back(ran.call);
        state.whereBarred.push_back("did not answer within " + std::to_string(settings.timeLimitSeconds) +
                                    " s in " + r.report.id);
    }
}

// A check that stopped at a call which hung before is skipped, saying where it hung.
void explainBarred(CaseResult& result, const DriverState& state) {
    if (result.barred == telDriverCall::none) return;
    std::string where = "did not answer in an earlier check";
    for (size_t k = 0; k < state.barred.size(); ++k)
        if (state.barred[k] == result.barred) where = state.whereBarred[k];
    result.report.outcome =
        skipped(std::string("needs ") + driverCallName(result.barred) + ", which " + where);
    result.report.notRun = true;
}

SupervisedCase runInProcess(const CheckEntry& check, const plat::Guid& clsid, const SuiteSettings& settings) {
    callbackLog().clear();
    CheckContext context;
    context.clsid = clsid;
    context.skipControlPanel = settings.skipControlPanel;
    SupervisedCase ran;
    ran.result = caseResultOf(runCheck(check, context), context);
    return ran;
}

DriverResult runDriver(telAsioDriverList& list, int32_t index, const SuiteSettings& settings) {
    DriverResult result;
    result.index = index;
    const int32_t id = list.asioGetDrvID(index);
    result.description = driverText(list.asioGetDriverName(id));
    plat::Guid clsid{};
    list.asioGetDriverCLSID(id, clsid);
    result.clsid = guidText(clsid);

    print("");
    print("Conformance of " + result.description + " (index " + std::to_string(index) + "), " +
          (settings.isolate ? "each check in a process of its own, time limit " +
                                  std::to_string(settings.timeLimitSeconds) + " s:"
                            : "every check in this process, without a time limit:"));
    DriverState state;
    for (const CheckEntry* check : selectedChecks(settings)) {
        SupervisedCase ran;
        ran.result.report.id = check->id;
        if (!state.stopReason.empty()) {
            ran.result.report.outcome = skipped(state.stopReason);
            ran.result.report.notRun = true;
        } else if (plat::interruptRequested()) {
            ran.result.report.outcome = skipped("interrupted");
            ran.result.report.notRun = true;
        } else if (settings.isolate) {
            bool live = false;
            double shownAt = 0;
            CaseSupervision supervision;
            supervision.index = index;
            supervision.skipControlPanel = settings.skipControlPanel;
            supervision.timeLimitSeconds = settings.timeLimitSeconds;
            supervision.barred = state.barred;
            supervision.interrupted = [] { return plat::interruptRequested(); };
            supervision.progress = [&](double seconds, telDriverCall call) {
                if (seconds < shownAt + 0.1) return;
                shownAt = seconds;
                char text[160];
                std::snprintf(text, sizeof text, "  ...   %-17s %6.1f s  %s%s", check->id, seconds,
                              call == telDriverCall::none ? "" : "in ",
                              call == telDriverCall::none ? "" : driverCallName(call));
                writeLive(text);
                live = true;
            };
            ran = runIsolatedCase(*check, supervision);
            if (live) writeLive("");
            explainBarred(ran.result, state);
            learnFrom(ran, state, result, settings);
        } else {
            writeLive("  ...   " + std::string(check->id));
            ran = runInProcess(*check, clsid, settings);
            writeLive("");
            learnFrom(ran, state, result, settings);
        }
        print(resultLine(ran.result.report));
        result.reports.push_back(ran.result.report);
    }
    print(summaryLine(tally(result.reports)));
    return result;
}

// Now, in seconds since 1970: when the metrics are written.
double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void printTable(const std::vector<DriverResult>& drivers) {
    print("");
    print("Conformance of every installed driver:");
    print("  index  passed  failed  warnings  skipped  driver");
    for (const DriverResult& driver : drivers) {
        const Tally counts = tally(driver.reports);
        char row[96];
        std::snprintf(row, sizeof row, "  %5d  %6d  %6d  %8d  %7d  ", static_cast<int>(driver.index),
                      counts.passed, counts.failed, counts.warnings, counts.skipped);
        print(row + driver.description + (driver.notCreated ? " (could not be created)" : ""));
    }
}

} // namespace

int runConformanceSuite(const SuiteSettings& settings) {
    // The reports asked for are checked before anything runs: one that cannot be
    // written means the suite cannot be run as asked.
    reportFile jsonFile(settings.jsonPath, u"JSON");
    reportFile junitFile(settings.junitPath, u"JUnit");
    reportFile htmlFile(settings.htmlPage ? settings.htmlPath : std::nullopt, u"HTML");
    reportFile metricsFile(settings.metricsPath, u"metrics");
    telText why;
    const bool jsonReady = jsonFile.writable(&why);
    const bool junitReady = junitFile.writable(jsonReady ? &why : nullptr);
    const bool htmlReady = htmlFile.writable(jsonReady && junitReady ? &why : nullptr);
    const bool metricsReady = metricsFile.writable(jsonReady && junitReady && htmlReady ? &why : nullptr);
    const bool baselineReady =
        !settings.baselineReadable ||
        settings.baselineReadable(jsonReady && junitReady && htmlReady && metricsReady ? &why : nullptr);
    if (!jsonReady || !junitReady || !htmlReady || !metricsReady || !baselineReady) {
        printMessage(why);
        // The reports that can be written say why; no JUnit report of an earlier suite is
        // left to read as this one's.
        measure::RunDocument refused;
        refused.setTool("1.0", static_cast<int>(sizeof(void*) * 8));
        refused.setFailure(utf8Text(why));
        refused.setVerdict({measure::VerdictWord::error, {utf8Text(why)}});
        junitFile.discard();
        if (htmlReady && htmlFile.active()) htmlFile.write(settings.htmlPage(refused.document()), nullptr);
        if (metricsReady)
            metricsFile.write(lab::metricsText(refused.document(), lab::RunMode::conformance, unixNow()),
                              nullptr);
        if (jsonReady) jsonFile.write(refused.text(), nullptr);
        return measure::exitStatusOf(measure::VerdictWord::error);
    }
    measure::RunDocument document;
    document.setTool("1.0", static_cast<int>(sizeof(void*) * 8));

    std::vector<DriverResult> drivers;
    std::string noDriver; // why no driver was tested
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    const int32_t count = list ? list->numDrv() : 0;
    const bool indexExists = settings.allDrivers || (settings.index >= 0 && settings.index < count);
    if (count < 1) {
        noDriver = "No ASIO drivers found.";
        print(noDriver);
        document.setFailure(noDriver);
    } else {
        print("Installed ASIO Drivers: " + std::to_string(count) + "; selected index=" +
              (settings.allDrivers ? std::string("all") : std::to_string(settings.index)));
        if (!indexExists) {
            // The suite tests what was asked for or nothing: another driver's pass would
            // read as this one's.
            noDriver = "There is no driver at index " + std::to_string(settings.index) + ": " +
                       (count == 1 ? std::string("1 driver is installed, index 0.")
                                   : std::to_string(count) + " drivers are installed, indexes 0 to " +
                                         std::to_string(count - 1) + ".");
            print(noDriver);
            document.setFailure(noDriver);
        } else {
            for (int32_t index = settings.allDrivers ? 0 : settings.index;
                 index <= (settings.allDrivers ? count - 1 : settings.index); ++index)
                drivers.push_back(runDriver(*list, index, settings));
            if (settings.allDrivers) printTable(drivers);
        }
    }
    telFree(list);

    // A suite cut short by a signal did not show that the driver conforms.
    const int signal = plat::interruptSignal();
    int status = suiteExitStatus(drivers, count > 0);
    if (!settings.allDrivers && count > 0) {
        measure::DriverFacts facts;
        facts.requestedIndex = settings.index;
        if (!drivers.empty()) {
            const DriverResult& driver = drivers.front();
            facts.index = driver.index;
            facts.description = driver.description;
            facts.clsid = driver.clsid;
            if (driver.identified) {
                facts.name = driver.name;
                facts.version = driver.version;
            }
            if (driver.figures) document.setFigures(*driver.figures);
            if (driver.notCreated) document.setFailure(driver.failure);
        }
        document.setDriver(facts);
    }
    document.setSection("conformance", conformanceSection(drivers, settings.allDrivers,
                                                          settings.timeLimitSeconds, settings.isolate));
    measure::Verdict verdict;
    verdict.word = status == 0   ? measure::VerdictWord::pass
                   : status == 1 ? measure::VerdictWord::fail
                                 : measure::VerdictWord::error;
    verdict.reasons = suiteReasons(drivers, settings.allDrivers);
    if (signal != 0)
        verdict.add(measure::VerdictWord::interrupted, "stopped by signal " + std::to_string(signal));
    if (settings.judgeAgainstBaseline) settings.judgeAgainstBaseline(document, verdict);
    document.setVerdict(verdict);
    // Each report is written whatever became of the others.
    std::vector<telText> unwritten(4);
    jsonFile.write(document.text(), &unwritten[0]);
    std::optional<std::vector<std::string>> baselineReasons;
    if (settings.judgeAgainstBaseline) {
        baselineReasons.emplace();
        for (const std::string& reason : verdict.reasons)
            if (reason.rfind("regressed: ", 0) == 0 || reason.rfind("The baseline ", 0) == 0)
                baselineReasons->push_back(reason);
    }
    junitFile.write(junitReport(drivers, noDriver, baselineReasons), &unwritten[1]);
    if (htmlFile.active()) htmlFile.write(settings.htmlPage(document.document()), &unwritten[2]);
    metricsFile.write(lab::metricsText(document.document(), lab::RunMode::conformance, unixNow()),
                      &unwritten[3]);
    for (const telText& line : unwritten)
        if (!line.empty()) {
            printMessage(line);
            verdict.add(measure::VerdictWord::error, utf8Text(line));
        }
    return measure::exitStatusOf(verdict.word, signal);
}

} // namespace conform
