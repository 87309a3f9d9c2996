#include "app/echoprobe.h"

#include <exception>
#include <memory>
#include <vector>

#include "app/baselineRun.h"
#include "app/html/htmlFile.h"
#include "app/inventory/driverInventory.h"
#include "app/inventory/probe.h"
#include "app/labReports.h"
#include "app/measured/measuredRun.h"
#include "app/measured/runJson.h"
#include "app/myBP.h"
#include "app/options.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "app/selection.h"
#include "app/starts/startsRun.h"
#include "app/supervised/childLink.h"
#include "app/supervised/everyDriver.h"
#include "app/supervised/supervisedRun.h"
#include "app/sweep/sweepRun.h"
#include "asio/leftInMemory.h"
#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriverList.h"
#include "conform/caseChild.h"
#include "conform/suite.h"
#include "core/telClasses.h"
#include "measure/bufferSizes.h"
#include "measure/sweepPlan.h"
#include "platform/platform.h"
#include "util/reportFile.h"
#include "util/telUtils.h"

namespace {

using measure::VerdictWord;

// What the main block carries from step to step. The verdict starts as "error": until a
// step says otherwise, the run could not be made as asked.
struct mainState {
    mainState(const programOptions& runOptions, runJson& report, htmlFile& page, labReports& labOutputs,
              baselineRun& earlierRun)
        : options(runOptions), json(report), html(page), lab(labOutputs), baseline(earlierRun) {}
    const programOptions& options;
    runJson& json;
    htmlFile& html;
    labReports& lab;
    baselineRun& baseline;
    measure::Verdict verdict{VerdictWord::error, {}};
    bool ran = false;             // the driver was started
    bool swept = false;           // a sweep got to its settings, or /starts to its starts
    std::vector<telText> notices; // to be said after the report

    // A step that could not be done: its line is the failure, and the reason.
    void failed(const telText& line) {
        json.failure(line);
        verdict = measure::Verdict{VerdictWord::error, {utf8Text(line)}};
    }
    // A step that ended the run on a signal.
    void interrupted(const char* when) {
        const int signal = runStopSignal();
        verdict = measure::Verdict{VerdictWord::interrupted,
                                   {"stopped by signal " + std::to_string(signal) + " " + when}};
    }
    void finishedWithout(measure::Verdict findings) { verdict = std::move(findings); }
};

void printShutdown() {
    printMessage(u"\r\n\r\nASIO Loopback: normal shutdown.\r\nHave a nice DOS.");
}

// What an exception that escaped the work says of itself.
std::string escapedText(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
    }
    return "an exception of unknown kind";
}

// A driver call that threw instead of answering failed as that call: its line says so
// after the call's own failure line, and the JSON's failure holds both.
telText withDriverThrow(telAsioDriver& driver, const telText& line) {
    const std::string thrown = driver.driverThrow();
    if (thrown.empty()) return line;
    const telText said = u"echoprobe: " + plat::fromNarrow(thrown);
    printMessage(said);
    return line + u" (" + said + u")";
}

// A notice of a measuring run: printed in the report's style and kept in the JSON.
void notice(mainState& state, const telText& text) {
    printMessage(u"Notice    : " + text);
    state.json.notice(text);
}

// The rate given with /rate, when the driver can run at it; false, after the failure
// line, when it cannot.
bool setRequestedRate(telAsioDriver& driver, mainState& state) {
    const double rate = *state.options.sampleRate;
    telText failure;
    if (!driver.canSampleRate(rate)) {
        telText possible;
        for (double common : measure::standardSampleRates())
            if (driver.canSampleRate(common))
                possible += (possible.empty() ? u"" : u", ") + decimalText(static_cast<int64_t>(common));
        failure = u"The driver cannot run at " + plat::fromNarrow(rateText(rate)) + u" Hz; " +
                  (possible.empty() ? telText(u"it runs at none of the common rates.")
                                    : u"it runs at " + possible + u" Hz.");
    } else if (const ASIOError status = driver.setSampleRate(rate); status != ASE_OK) {
        failure = u"The driver refused to run at " + plat::fromNarrow(rateText(rate)) + u" Hz, error code=" +
                  hexCodeText(status);
    } else {
        return true;
    }
    printMessage(failure);
    state.failed(withDriverThrow(driver, failure));
    return false;
}

// Initialises the driver with buffers of the chosen size: the size given with /buffer
// when the driver's rules take it, else 300 samples or the legal size nearest to it.
// A rate given with /rate is set first, so the sizes are those of that rate.
bool initialise(telAsioDriver& driver, mainState& state) {
    telText failure;
    std::optional<measure::BufferSizeRule> figures;
    if (!initialiseWithoutBuffers(driver, figures, &failure)) {
        state.json.describeRefusal(driver);
        state.failed(withDriverThrow(driver, failure));
        return false;
    }
    if (plat::interruptRequested()) return false;
    if (state.options.sampleRate) {
        if (!setRequestedRate(driver, state)) return false;
        measure::BufferSizeRule rule{};
        figures.reset();
        if (driver.getBufferSize(rule.min, rule.max, rule.preferred, rule.granularity) == ASE_OK)
            figures = rule;
    }
    int32_t size = defaultBufferSize(figures);
    if (state.options.bufferSize) {
        size = *state.options.bufferSize;
        if (figures && !measure::isLegalBufferSize(*figures, size)) {
            failure = u"The driver does not take a buffer of " + decimalText(size) + u" samples; it takes " +
                      plat::fromNarrow(measure::legalBufferSizesText(*figures)) + u".";
            printMessage(failure);
            state.failed(failure);
            return false;
        }
    }
    if (initialiseDriver(driver, size, &failure)) {
        // The plain run's buffer set-up keeps to rates up to 96000 Hz and sets 44100 Hz
        // otherwise; a higher rate that was asked for, and that the driver took, is set
        // again, or the run would run at another rate than the one it names.
        if (!state.options.sampleRate || driver.sampleRate() == *state.options.sampleRate) return true;
        const ASIOError status = driver.setSampleRate(*state.options.sampleRate);
        if (status == ASE_OK) {
            driver.readLatencies(); // those of the rate the run measures
            return true;
        }
        failure = u"The driver refused to run at " + plat::fromNarrow(rateText(*state.options.sampleRate)) +
                  u" Hz once its buffers existed, error code=" + hexCodeText(status);
        printMessage(failure);
        state.failed(withDriverThrow(driver, failure));
        return false;
    }
    state.json.describeRefusal(driver);
    state.failed(withDriverThrow(driver, failure));
    return false;
}

// 48000 Hz when the driver can do it, else 44100 Hz; a measuring run says when the
// driver refused the rate and runs at another.
void chooseRate(telAsioDriver& driver, mainState& state) {
    if (!state.options.measures()) {
        chooseSampleRate(driver);
        return;
    }
    const double wanted = driver.canSampleRate(48000.0) ? 48000.0 : 44100.0;
    const ASIOError status = driver.setSampleRate(wanted);
    if (status != ASE_OK)
        state.notices.push_back(u"the driver refused " + decimalText(static_cast<int64_t>(wanted)) +
                                u" Hz (error code=" + hexCodeText(status) + u"); it runs at " +
                                plat::fromNarrow(rateText(driver.sampleRate())) + u" Hz");
}

// What a measuring run says after the report: a rate the driver refused, channels beyond
// what the driver object handles.
void printNotices(telAsioDriver& driver, mainState& state) {
    for (const telText& text : state.notices)
        notice(state, text);
    int32_t inputs = 0, outputs = 0;
    if (driver.getChannels(inputs, outputs) != ASE_OK) return;
    if (inputs > driver.inputChannels())
        notice(state, u"the driver reports " + decimalText(inputs) + u" inputs; only the first " +
                          decimalText(driver.inputChannels()) + u" are used");
    if (outputs > driver.outputChannels())
        notice(state, u"the driver reports " + decimalText(outputs) + u" outputs; only the first " +
                          decimalText(driver.outputChannels()) + u" are used");
}

// Start, status loop and stop of a measuring run, then the summary and the verdict.
void runMeasured(telAsioDriver& driver, measuringBP& processor, measuredRun& measured, mainState& state) {
    telText failure;
    if (!measured.prepare(driver, processor, &failure)) {
        state.failed(failure);
        return;
    }
    if (plat::interruptRequested()) {
        state.interrupted("before the driver started");
        return;
    }
    processor.prepareTone(driver.sampleRate());
    measured.started();
    if (!startDriver(driver, &failure)) {
        state.failed(withDriverThrow(driver, failure));
        return;
    }
    measured.startReturned();
    state.ran = true;
    tellParentStarted();
    const stopCause cause = runStatusLoop(driver, measuringStatusLoopPorts(), measured.loopLimits());
    measured.stopping();
    // Stop, then disposeBuffers, each timed.
    ASIOError stopStatus = driver.stop(telFalse);
    measured.stopReturned();
    if (stopStatus == ASE_OK) {
        stopStatus = driver.stop(telTrue);
        measured.disposed();
    }
    // A driver that refuses to stop may go on calling back: take its buffers and its
    // callback slot away before the processor goes.
    if (stopStatus != ASE_OK) driver.release();
    const runFindings findings = measured.finish(driver, processor, cause, stopStatus,
                                                 cause == stopCause::interrupt ? runStopSignal() : 0);
    if (state.options.stats) printRunSummary(findings);
    if (stopStatus != ASE_OK) withDriverThrow(driver, u"");
    state.json.findings(findings);
    state.html.findings(findings);
    state.finishedWithout(findings.verdict);
}

// Control panel, switches, sample rate, report, start, status loop and stop. The
// processor exists and is attached for all of it. A stop request (Ctrl+C) that comes
// before the driver is started ends the run there: the driver is never started.
void runDriver(telAsioDriver& driver, myBP& processor, mainState& state) {
    if (state.options.showControlPanel) driver.controlPanel();
    if (plat::interruptRequested()) return state.interrupted("before the driver started");
    processor.f_noSine = switchPresent(u"nosine", telFalse);
    processor.f_noLoop = switchPresent(u"noloop", telFalse);
    if (!state.options.sampleRate) chooseRate(driver, state);
    printDriverReport(driver);
    state.json.describeDriver(driver);
    if (state.options.measures()) printNotices(driver, state);
    if (plat::interruptRequested()) return state.interrupted("before the driver started");

    if (state.options.probe) {
        auto probe = std::make_unique<switchProbe>();
        probeDriver(driver, static_cast<measuringBP&>(processor), *probe, state.json);
        // The probe goes with this scope once no message of the driver can reach it.
        if (!driver.setBufferProcessor(nullptr)) leaveInMemory(probe);
        state.finishedWithout({});
        return;
    }

    if (state.options.sweep) {
        const sweepOutcome outcome =
            runSweep(driver, static_cast<measuringBP&>(processor), state.options,
                     [&state](const nlohmann::json& rows) { state.json.sweep(rows); });
        state.ran = outcome.started;
        state.swept = true;
        state.finishedWithout(outcome.verdict);
        return;
    }
    if (state.options.starts) {
        const startsRunOutcome outcome =
            runStarts(driver, static_cast<measuringBP&>(processor), state.options,
                      [&state](const nlohmann::json& rows, const nlohmann::json& summary) {
                          state.json.starts(rows, summary);
                      });
        state.ran = outcome.started;
        state.swept = true;
        state.finishedWithout(outcome.starts.verdict);
        return;
    }
    if (state.options.measures()) {
        measuredRun measured(state.options);
        runMeasured(driver, static_cast<measuringBP&>(processor), measured, state);
        return;
    }
    processor.prepareTone(driver.sampleRate());
    if (!startDriver(driver)) return;
    statusLoopLimits limits;
    limits.eachPass = [&processor] { processor.fillTone(); };
    runStatusLoop(driver, platformStatusLoopPorts(), limits);
    if (driver.stop(telTrue) != ASE_OK) driver.release();
    state.finishedWithout({});
}

// Detaches the processor and frees it once no callback can be inside it any more. A
// driver that is still inside a callback after the wait keeps its processor: it is
// left in memory rather than freed while in use.
void freeProcessor(telAsioDriver& driver, telOwned<myBP>& processor) {
    if (!processor) return;
    if (driver.setBufferProcessor(nullptr)) {
        telFree(processor);
        return;
    }
    printMessage(u"The driver is still inside a callback; its buffer processor is left in memory.");
    leaveInMemory(processor);
}

telOwned<myBP> createProcessor(telAsioDriver* driver, const programOptions& options) {
    if (options.measures()) return telCreate<measuringBP>(driver);
    return telCreate<myBP>(driver);
}

void runSelected(telAsioDriverList& driverList, mainState& state, telOwned<myBP>& processor) {
    if (state.options.list) {
        printDriverInventory(driverList, state.options.requestedIndex, state.json);
        state.finishedWithout({});
        return;
    }
    int32_t selectedIndex = 0;
    telText failure;
    telAsioDriver* driver = selectAndOpenDriver(driverList, state.options.requestedIndex, selectedIndex,
                                                &failure, state.options.measures());
    if (driverList.numDrv() > 0)
        state.json.describeEntry(driverList, state.options.requestedIndex, selectedIndex);
    if (driver == nullptr) {
        state.failed(failure);
        return;
    }
    // A measuring run sets the rate it runs at itself, above 96000 Hz too.
    driver->keepRateForBuffers(state.options.measures());
    if (!initialise(*driver, state)) {
        if (plat::interruptRequested() && state.verdict.reasons.empty())
            state.interrupted("before the driver started");
        return;
    }
    if (plat::interruptRequested()) {
        state.interrupted("before the driver started");
        return;
    }
    processor = createProcessor(driver, state.options);
    if (processor) runDriver(*driver, *processor, state);
    freeProcessor(*driver, processor);
    closeSelectedDriver(driverList, selectedIndex);
}

// Judges the run against the baseline, then writes the HTML report, the metrics, the
// JUnit report and the JSON report; a report that cannot be written is an output that
// failed, which the JSON report (written last) then says.
void finishReport(mainState& state) {
    state.baseline.judge(state.json.document(), state.verdict);
    state.json.verdict(state.verdict);
    state.html.baseline(state.baseline.document());
    telText why;
    if (!state.html.write(state.json.document().document(), &why)) {
        printMessage(why);
        state.verdict.add(VerdictWord::error, utf8Text(why));
        state.json.verdict(state.verdict);
    }
    if (!state.lab.write(state.json.document().document(), &why)) {
        printMessage(why);
        state.verdict.add(VerdictWord::error, utf8Text(why));
        state.json.verdict(state.verdict);
    }
    if (state.json.write(&why)) return;
    printMessage(why);
    state.verdict.add(VerdictWord::error, utf8Text(why));
}

// A run that could not be made as asked (a switch given wrongly, a report that cannot be
// written): each report that can be written says why, and what has nothing to say (a
// recording, a JUnit report) is removed, so nothing of an earlier run reads as this one's.
void writeRefusal(mainState& state, const std::vector<telText>& lines) {
    for (const telText& line : lines)
        state.verdict.reasons.push_back(utf8Text(line));
    state.json.failure(lines.empty() ? telText(u"a switch was given wrongly") : lines[0]);
    state.json.verdict(state.verdict);
    // Removed first: a file named twice (refused for that) then holds the JSON report.
    removeStaleOutput(state.options.recordPath);
    state.lab.writeRefusal(state.json.document().document());
    if (state.html.writable(nullptr)) state.html.write(state.json.document().document(), nullptr);
    if (state.json.writable(nullptr)) state.json.write(nullptr);
}

int exitStatus(const mainState& state) {
    if (!state.options.judged()) return 0;
    return measure::exitStatusOf(state.verdict.word, runStopSignal());
}

} // namespace

int runMainBlock() {
    // This process runs one check of a conformance suite for its parent, and prints nothing.
    if (conform::caseChildRequested()) return conform::runCaseChild();
    // A measured run happens in a child process this one supervises; the child is the
    // run a person sees.
    connectSupervisedChild();
    if (!isSupervisedChild() && wantsSupervision()) return runSupervised();
    if (!supervisedWithoutBanner()) printBanner();
    const programOptions options = readOptions();
    if (options.conform && !options.stopsAfterOptions()) {
        const int status = conform::runConformanceSuite(suiteSettings(options));
        printShutdown();
        return status;
    }
    if (options.allDrivers && !options.stopsAfterOptions()) {
        const int status = runEveryDriver(options);
        printShutdown();
        return status;
    }
    runJson json(options.jsonPath);
    htmlFile html(options.htmlPath);
    labReports lab(options.metricsPath, options.junitPath, labModeOf(options));
    baselineRun baseline(options.baselinePath);
    mainState state{options, json, html, lab, baseline};
    if (options.stopsAfterOptions()) {
        if (options.usageError) writeRefusal(state, options.usageErrors);
        printShutdown();
        return options.usageError ? exitStatus(state) : 0;
    }
    telText why;
    if (!json.writable(&why) || !html.writable(&why) || !lab.writable(&why) || !baseline.readable(&why)) {
        // A report that cannot be written, or a baseline that cannot be read, is found
        // before anything runs.
        printMessage(why);
        writeRefusal(state, {why});
        printShutdown();
        return options.judged() ? measure::exitStatusOf(VerdictWord::error) : 0;
    }
    // A recording of an earlier run goes: this run's is made anew when its recording begins.
    removeStaleOutput(options.recordPath);

    try {
        telOwned<telAsioDriverList> driverList = telCreate<telAsioDriverList>();
        // Declared after the list, so that an exception frees the processor first and
        // then the list, which releases the driver.
        telOwned<myBP> processor;
        if (driverList) {
            runSelected(*driverList, state, processor);
            // Freeing the list releases any driver object still open, then ends COM.
            telFree(driverList);
        }
    } catch (...) {
        // This program's own code failed (a driver call's exception never gets here). The
        // processor and the list are freed by now, so the driver is let go: put the
        // console back, say what failed, and end as any run that could not be made, with
        // the reports written; never as a crash, which would read as the driver's.
        plat::restoreConsole();
        const std::string line = toolFailureLine(escapedText(std::current_exception()));
        try {
            printMessage(plat::fromNarrow(line));
            state.json.failure(plat::fromNarrow(line));
            state.verdict.add(VerdictWord::error, line);
            finishReport(state);
            printShutdown();
        } catch (...) {
        }
        return exitStatus(state);
    }
    finishReport(state);
    if ((options.stats && state.ran) || state.swept) printVerdict(state.verdict);
    printShutdown();
    return exitStatus(state);
}

int echoprobeMain() {
    plat::guardStandardStreams();
    telTypesStartup();
    telUtilsStartup();
    telClassesStartup();
    telAsioApiStartup();
    plat::prepareConsole();

    const int exitStatus = runMainBlock();

    plat::restoreConsole();
    telAsioApiShutdown();
    telClassesShutdown();
    telUtilsShutdown();
    // What follows is the process's exit, where a driver module's own tear-down runs: a
    // supervising parent times it as a driver call.
    tellParentEnding();
    return exitStatus;
}
