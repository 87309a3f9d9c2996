#include "app/echoprobe.h"

#include <exception>

#include "app/inventory/driverInventory.h"
#include "app/measured/measuredRun.h"
#include "app/myBP.h"
#include "app/options.h"
#include "app/inventory/probe.h"
#include "app/report.h"
#include "app/measured/runJson.h"
#include "app/runLoop.h"
#include "app/selection.h"
#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriverList.h"
#include "conform/caseChild.h"
#include "conform/suite.h"
#include "core/telClasses.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// Exit statuses of a run with /seconds; without it every path ends with 0.
constexpr int exitPass = 0;
constexpr int exitFail = 1;
constexpr int exitNotRun = 2;

// What the main block carries from step to step.
struct mainState {
    const programOptions& options;
    runJson& json;
    int exitStatus = exitNotRun; // until a run has been judged
};

void printShutdown() { printMessage(u"\r\n\r\nASIO Loopback: normal shutdown.\r\nHave a nice DOS."); }

// One line that names an exception which escaped the work. Guarded, since printing
// itself may fail the same way (a bad_alloc).
void printUnexpectedFailure(std::exception_ptr failure) {
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            printMessage(u"echoprobe: stopped by an unexpected failure: " + plat::fromNarrow(error.what()));
        } catch (...) {
            printMessage(u"echoprobe: stopped by an unexpected failure of unknown kind");
        }
    } catch (...) {
    }
}

// Initialises the driver with buffers of the chosen size: the size given with /buffer
// when the driver's rules take it, else 300 samples or the legal size nearest to it.
bool initialise(telAsioDriver& driver, mainState& state) {
    telText failure;
    std::optional<measure::BufferSizeRule> figures;
    if (!initialiseWithoutBuffers(driver, figures, &failure)) {
        state.json.failure(failure);
        return false;
    }
    if (plat::interruptRequested()) return false;
    int32_t size = defaultBufferSize(figures);
    if (state.options.bufferSize) {
        size = *state.options.bufferSize;
        if (figures && !measure::isLegalBufferSize(*figures, size)) {
            failure = u"The driver does not take a buffer of " + decimalText(size) + u" samples; it takes " +
                      plat::fromNarrow(measure::legalBufferSizesText(*figures)) + u".";
            printMessage(failure);
            state.json.failure(failure);
            return false;
        }
    }
    if (initialiseDriver(driver, size, &failure)) return true;
    state.json.failure(failure);
    return false;
}

// The rate given with /rate, when the driver can run at it; else 48000 Hz when it can,
// or 44100 Hz.
bool setRate(telAsioDriver& driver, mainState& state) {
    if (!state.options.sampleRate) {
        chooseSampleRate(driver);
        return true;
    }
    const double rate = *state.options.sampleRate;
    telText failure;
    if (!driver.canSampleRate(rate)) {
        telText possible;
        for (double common : {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0,
                              176400.0, 192000.0, 352800.0, 384000.0, 705600.0, 768000.0})
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
    state.json.failure(failure);
    return false;
}

// Start, status loop and stop of a measuring run, then the summary and the verdict.
void runMeasured(telAsioDriver& driver, measuringBP& processor, measuredRun& measured, mainState& state) {
    telText failure;
    if (!measured.prepare(driver, processor, &failure)) {
        state.json.failure(failure);
        return;
    }
    if (plat::interruptRequested()) return;
    measured.started();
    if (!startDriver(driver, &failure)) {
        state.json.failure(failure);
        return;
    }
    const stopCause cause = runStatusLoop(driver, platformStatusLoopPorts(), measured.loopLimits());
    measured.stopping();
    const ASIOError stopStatus = driver.stop(telTrue);
    // A driver that refuses to stop may go on calling back: take its buffers and its
    // callback slot away before the processor goes.
    if (stopStatus != ASE_OK) driver.release();
    const runFindings findings = measured.finish(driver, processor, cause, stopStatus);
    if (state.options.stats) printRunSummary(findings);
    state.json.findings(findings);
    state.exitStatus = findings.verdict.pass ? exitPass : exitFail;
}

// Control panel, switches, sample rate, report, start, status loop and stop. The
// processor exists and is attached for all of it. A stop request (Ctrl+C) that comes
// before the driver is started ends the run there: the driver is never started.
void runDriver(telAsioDriver& driver, myBP& processor, mainState& state) {
    if (state.options.showControlPanel) driver.controlPanel();
    if (plat::interruptRequested()) return;
    processor.f_noSine = switchPresent(u"nosine", telFalse);
    processor.f_noLoop = switchPresent(u"noloop", telFalse);
    if (!setRate(driver, state)) return;
    printDriverReport(driver);
    state.json.describeDriver(driver);
    if (plat::interruptRequested()) return;

    if (state.options.probe) {
        switchProbe probe;
        probeDriver(driver, static_cast<measuringBP&>(processor), probe, state.json);
        // The probe goes with this scope: no later message of the driver may reach it.
        driver.setBufferProcessor(nullptr);
        state.exitStatus = exitPass;
        return;
    }

    if (state.options.measures()) {
        measuredRun measured(state.options);
        runMeasured(driver, static_cast<measuringBP&>(processor), measured, state);
        return;
    }
    if (!startDriver(driver)) return;
    runStatusLoop(driver, platformStatusLoopPorts());
    if (driver.stop(telTrue) != ASE_OK) driver.release();
    state.exitStatus = exitPass;
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
    (void)processor.release();
}

telOwned<myBP> createProcessor(telAsioDriver* driver, const programOptions& options) {
    if (options.measures()) return telCreate<measuringBP>(driver);
    return telCreate<myBP>(driver);
}

void runSelected(telAsioDriverList& driverList, mainState& state, telOwned<myBP>& processor) {
    if (state.options.list) {
        printDriverInventory(driverList, state.options.requestedIndex, state.json);
        state.exitStatus = exitPass;
        return;
    }
    int32_t selectedIndex = 0;
    telText failure;
    telAsioDriver* driver = selectAndOpenDriver(driverList, state.options.requestedIndex, selectedIndex, &failure);
    if (driverList.numDrv() > 0) state.json.describeEntry(driverList, selectedIndex);
    if (driver == nullptr) {
        state.json.failure(failure);
        return;
    }
    if (!initialise(*driver, state) || plat::interruptRequested()) return;
    processor = createProcessor(driver, state.options);
    if (processor) runDriver(*driver, *processor, state);
    freeProcessor(*driver, processor);
    closeSelectedDriver(driverList, selectedIndex);
}

} // namespace

int runMainBlock() {
    // This process runs one check of a conformance suite for its parent, and prints nothing.
    if (conform::caseChildRequested()) return conform::runCaseChild();
    printBanner();
    const programOptions options = readOptions();
    if (options.stopsAfterOptions()) {
        printShutdown();
        return (options.secondsGiven || options.conform) && options.usageError ? exitNotRun : 0;
    }
    if (options.conform) {
        const int status = conform::runConformanceSuite(suiteSettings(options));
        printShutdown();
        return status;
    }

    runJson json(options.jsonPath);
    mainState state{options, json};
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
        // The processor and the list are freed by now; put the console back, say what
        // happened and let the platform end the program as it ends any such failure.
        plat::restoreConsole();
        printUnexpectedFailure(std::current_exception());
        throw;
    }
    json.write();
    printShutdown();
    return options.secondsGiven ? state.exitStatus : 0;
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
    return exitStatus;
}
