#include "app/supervised/everyDriver.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/baselineRun.h"
#include "app/labReports.h"
#include "app/measured/measuredRun.h"
#include "app/supervised/childLink.h"
#include "app/supervised/supervisedRun.h"
#include "asio/telAsioDriverList.h"
#include "conform/texts.h"
#include "measure/runDocument.h"
#include "platform/platform.h"
#include "util/reportFile.h"
#include "util/telUtils.h"

namespace {

using measure::VerdictWord;

void print(const std::string& utf8) {
    printMessage(conform::fromUtf8(utf8));
}

struct driverRun {
    int32_t index = 0;
    std::string description;
    bool ran = false; // false: stopped before its turn
    supervisedOutcome outcome;
};

// This program's switches for the run of driver `index`: the same as given, with that
// index, without /json, /metrics and /junit (this process writes the one report of each)
// and as a bare child.
std::vector<telText> childArguments(int32_t index) {
    std::vector<telText> arguments;
    const std::vector<telText> given = plat::arguments();
    for (size_t i = 1; i < given.size(); ++i)
        if (!isSwitchNamed(given[i], u"index") && !isSwitchNamed(given[i], u"json") &&
            !isSwitchNamed(given[i], u"metrics") && !isSwitchNamed(given[i], u"junit") &&
            !isSwitchNamed(given[i], u"baseline"))
            arguments.push_back(given[i]);
    arguments.push_back(u"/index=" + intToText(index));
    arguments.push_back(u"/" + telText(supervisedSwitch) + u"=bare");
    return arguments;
}

std::string firstReason(const driverRun& run) {
    if (!run.ran) return "not run: stopped before its turn";
    if (!run.outcome.started) return "the run's process could not be started";
    const nlohmann::json document = run.outcome.document();
    const auto reasons = document.find("reasons");
    if (reasons == document.end() || !reasons->is_array() || reasons->empty() || !(*reasons)[0].is_string())
        return {};
    return (*reasons)[0].get<std::string>();
}

void printTable(const std::vector<driverRun>& runs) {
    print("");
    print("Runs of every installed driver:");
    print("  index  verdict       driver");
    for (const driverRun& run : runs) {
        const char* word = run.ran ? measure::verdictName(run.outcome.verdictWord()) : "-";
        char row[64];
        std::snprintf(row, sizeof row, "  %5d  %-12s  ", static_cast<int>(run.index), word);
        const std::string reason = firstReason(run);
        print(row + run.description + (reason.empty() ? "" : ": " + reason));
    }
}

} // namespace

int runEveryDriver(const programOptions& options) {
    reportFile jsonFile(options.jsonPath, u"JSON");
    labReports lab(options.metricsPath, options.junitPath, lab::RunMode::everyDriver);
    baselineRun baseline(options.baselinePath);
    telText why;
    if (!jsonFile.writable(&why) || !lab.writable(&why) || !baseline.readable(&why)) {
        printMessage(why);
        return measure::exitStatusOf(VerdictWord::error);
    }
    measure::RunDocument document;
    document.setTool("1.0", static_cast<int>(sizeof(void*) * 8));
    measure::Verdict verdict;

    std::vector<driverRun> runs;
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    const int32_t count = list ? list->numDrv() : 0;
    for (int32_t index = 0; index < count; ++index)
        runs.push_back({index, plat::toUtf8(plat::fromNarrow(list->asioGetDriverName(index))), false, {}});
    telFree(list);

    if (count < 1) {
        print("No ASIO drivers found.");
        document.setFailure("No ASIO drivers found.");
        verdict.add(VerdictWord::error, "No ASIO drivers found.");
    } else {
        print("Installed ASIO Drivers: " + std::to_string(count) + "; selected index=all");
        const int32_t limit = supervisedTimeLimit();
        for (driverRun& run : runs) {
            if (plat::interruptRequested()) break;
            run.ran = true;
            print("");
            run.outcome = superviseRun(childArguments(run.index), limit, std::nullopt);
            const std::string reason = firstReason(run);
            verdict.add(run.outcome.verdictWord(),
                        std::to_string(run.index) + ": " + (reason.empty() ? "pass" : reason));
        }
        // Only what did not pass gives a reason.
        std::vector<std::string> reasons;
        for (const driverRun& run : runs)
            if (run.ran && run.outcome.verdictWord() != VerdictWord::pass)
                reasons.push_back(std::to_string(run.index) + ": " + firstReason(run));
        verdict.reasons = reasons;
        printTable(runs);
    }

    const int signal = plat::interruptSignal();
    if (signal != 0) verdict.add(VerdictWord::interrupted, "stopped by signal " + std::to_string(signal));
    nlohmann::json documents = nlohmann::json::array();
    for (const driverRun& run : runs)
        if (run.ran) documents.push_back(run.outcome.document());
    document.setSection("runs", documents);
    baseline.judge(document, verdict);
    document.setVerdict(verdict);
    if (!lab.write(document.document(), &why)) {
        printMessage(why);
        verdict.add(VerdictWord::error, utf8Text(why));
        document.setVerdict(verdict);
    }
    if (!jsonFile.write(document.text(), &why)) {
        printMessage(why);
        verdict.add(VerdictWord::error, utf8Text(why));
    }
    print("");
    printVerdict(verdict);
    return measure::exitStatusOf(verdict.word, signal);
}
