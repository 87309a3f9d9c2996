#include "app/sweep/settingCycle.h"

#include "app/measured/measuredRun.h"
#include "app/runLoop.h"
#include "app/supervised/childLink.h"
#include "conform/texts.h"
#include "platform/platform.h"
#include "util/telUtils.h"

using measure::VerdictWord;

sweepRow refusedRow(const cycleSetting& at, const std::string& refusal) {
    return refusedSweepRow(at.rate, at.buffer, at.advertised, refusal);
}

sweepRow settingCycle::run(const cycleSetting& at, const std::string& lead) {
    sweepRow row = runSetting(at, lead);
    // The run's parts went with it, once the processor was detached and every callback
    // inside it had left; one still inside keeps the processor (and the parts it holds)
    // as they are, and nothing is built for another run.
    if (f_driver.bufferProcessor() == &f_processor) f_callbackStuck = true;
    return row;
}

// What a host does when its user picks another setting or restarts the stream: stop,
// dispose, new rate, new buffers, start.
sweepRow settingCycle::runSetting(const cycleSetting& at, const std::string& lead) {
    f_driver.stop(telTrue);
    if (f_driver.sampleRate() != at.rate)
        if (const ASIOError status = f_driver.setSampleRate(at.rate); status != ASE_OK)
            return refusedRow(at, "setSampleRate answered " + conform::statusText(status));
    if (const ASIOError status = f_driver.init(0, telTrue, at.buffer); status != ASE_OK)
        return refusedRow(at, "createBuffers answered " + conform::statusText(status));
    // A driver that changed its rate while it made the buffers (or a rate above the
    // host layer's buffer set-up, which keeps to 96000 Hz) is set to the setting's
    // again, or the row would name a rate it did not run at.
    if (f_driver.sampleRate() != at.rate) {
        if (const ASIOError status = f_driver.setSampleRate(at.rate); status != ASE_OK)
            return refusedRow(at, "setSampleRate with buffers answered " + conform::statusText(status));
        f_driver.readLatencies(); // those of the rate the setting measures
    }
    if (f_driver.bufActualSize() != at.buffer)
        return refusedRow(at, "the buffers were made with " + std::to_string(f_driver.bufActualSize()) +
                                  " samples");

    sweepRow row;
    row.rate = at.rate;
    row.buffer = at.buffer;
    row.advertised = at.advertised;
    row.reportedLatency = sweepRow::latencies{f_driver.inputLatency(), f_driver.outputLatency()};
    measuredRun measured(f_options);
    telText failure;
    if (!measured.prepare(f_driver, f_processor, &failure)) {
        f_prepareFailed = utf8Text(failure);
        row.verdict = measure::Verdict{VerdictWord::error, {*f_prepareFailed}};
        return row;
    }
    f_processor.prepareTone(f_driver.sampleRate());
    // Everything a callback can reach is built: only now may one reach it.
    if (!f_driver.setBufferProcessor(&f_processor)) {
        row.verdict = measure::Verdict{VerdictWord::fail, {callbackStuck}};
        return row;
    }
    measured.started();
    if (const ASIOError status = f_driver.start(telFalse, -1); status != ASE_OK) {
        const std::string said = plat::toUtf8(plat::fromNarrow(f_driver.getDriverError(telTrue)));
        row.verdict = measure::Verdict{
            VerdictWord::fail,
            {"start answered " + conform::statusText(status) + (said.empty() ? "" : ": " + said)}};
        return row;
    }
    measured.startReturned();
    // Every setting's start: a run that ends in this setting is timed from it.
    tellParentStarted();
    f_started = true;
    statusLoopLimits limits = measured.loopLimits();
    limits.statusLead = plat::fromNarrow(lead + ": ");
    const stopCause cause = runStatusLoop(f_driver, measuringStatusLoopPorts(), limits);
    measured.stopping();
    const ASIOError stopStatus = f_driver.stop(telTrue);
    if (stopStatus != ASE_OK) {
        // A driver that cannot stop is not taken through another setting.
        f_driver.release();
        f_driverGone = true;
    }
    if (cause == stopCause::interrupt) f_signal = runStopSignal() != 0 ? runStopSignal() : 2;
    if (cause == stopCause::space || cause == stopCause::endOfInput) f_endedEarly = true;
    const runFindings findings = measured.finish(f_driver, f_processor, cause, stopStatus, f_signal);
    row.seconds = findings.seconds;
    row.stats = findings.stats;
    row.firstCallbackMs = findings.firstCallbackMs;
    row.messages = findings.messages;
    row.latency = findings.latency;
    row.channelMap = findings.channelMap;
    row.verdict = findings.verdict;
    return row;
}
