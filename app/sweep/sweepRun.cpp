#include "app/sweep/sweepRun.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/measured/measuredRun.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "app/supervised/childLink.h"
#include "app/sweep/sweepTable.h"
#include "conform/texts.h"
#include "measure/runDocument.h"
#include "measure/sweepPlan.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

using json = nlohmann::json;
using measure::VerdictWord;

struct setting {
    double rate = 0;
    int32_t buffer = 0;
    bool advertised = false; // the driver offers the rate and the size
    std::string refusal;     // the rate was refused while the sweep was planned
};

void printText(const std::string& text) {
    printMessage(plat::fromNarrow(text));
}

// "48000 Hz, 256 samples"; "48000 Hz" for a rate refused before a size was chosen.
std::string settingName(double rate, int32_t buffer) {
    return rateText(rate) + " Hz" + (buffer > 0 ? ", " + std::to_string(buffer) + " samples" : "");
}

// The rates and sizes to run. The sizes of each rate are read at that rate, with no
// buffers: the driver may offer other sizes at other rates. A rate or size given on the
// command line is run whether or not the driver offers it; only what it offers counts
// against it when refused.
std::vector<setting> planSweep(telAsioDriver& driver, const programOptions& options) {
    std::vector<std::pair<double, bool>> rates; // each with whether the driver offers it
    if (options.sampleRate)
        rates.emplace_back(*options.sampleRate, driver.canSampleRate(*options.sampleRate) != telFalse);
    else
        for (double rate : measure::standardSampleRates())
            if (driver.canSampleRate(rate)) rates.emplace_back(rate, true);
    std::vector<setting> settings;
    for (const auto& [rate, offered] : rates) {
        if (const ASIOError status = driver.setSampleRate(rate); status != ASE_OK) {
            settings.push_back({rate, 0, offered, "setSampleRate answered " + conform::statusText(status)});
            continue;
        }
        measure::BufferSizeRule rule{};
        const bool ruled =
            driver.getBufferSize(rule.min, rule.max, rule.preferred, rule.granularity) == ASE_OK;
        std::vector<int32_t> sizes;
        if (options.bufferSize)
            sizes.push_back(*options.bufferSize);
        else if (ruled)
            sizes = measure::sweepBufferSizes(rule);
        if (sizes.empty())
            settings.push_back({rate, 0, offered, "the driver gives no legal buffer size at this rate"});
        for (int32_t size : sizes)
            settings.push_back({rate, size, offered && ruled && measure::isLegalBufferSize(rule, size), {}});
    }
    return settings;
}

sweepRow refusedRow(const setting& at, const std::string& refusal) {
    return refusedSweepRow(at.rate, at.buffer, at.advertised, refusal);
}

// The live line that says which setting runs, rewritten in place; a blank one clears it.
void liveLine(const std::string& text) {
    writeLiveLine(plat::fromNarrow(text + std::string(text.size() < 79 ? 79 - text.size() : 0, ' ') + "\r"));
}

// What a callback that never left the processor's wait is.
constexpr const char* callbackStuck = "a callback of the driver did not return within 2 s";

class sweeper {
  public:
    sweeper(telAsioDriver& driver, measuringBP& processor, const programOptions& options)
        : f_driver(driver), f_processor(processor), f_options(options) {}

    // Sets the driver up for the setting and runs it; the row of what happened.
    sweepRow run(const setting& at, const std::string& lead) {
        sweepRow row = runSetting(at, lead);
        // The run's parts went with it, once the processor was detached and every callback
        // inside it had left; one still inside keeps the processor (and the parts it
        // holds) as they are, and nothing is built for another setting.
        if (f_driver.bufferProcessor() == &f_processor) f_callbackStuck = true;
        return row;
    }

    // Whether another setting may follow.
    bool goesOn() const {
        return !f_prepareFailed && !f_driverGone && !f_callbackStuck && f_signal == 0 && !f_endedEarly;
    }

    bool f_started = false, f_driverGone = false, f_endedEarly = false, f_callbackStuck = false;
    // Why the run could not be set up (a loopback without its channels): the same at
    // every setting, so the sweep ends with it.
    std::optional<std::string> f_prepareFailed;
    int f_signal = 0;

  private:
    sweepRow runSetting(const setting& at, const std::string& lead) {
        // What a host does when its user picks another setting: stop, dispose, new rate,
        // new buffers, start.
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
        row.messages = findings.messages;
        row.latency = findings.latency;
        row.channelMap = findings.channelMap;
        row.verdict = findings.verdict;
        return row;
    }

    telAsioDriver& f_driver;
    measuringBP& f_processor;
    const programOptions& f_options;
};

// What a row that did not pass says in the sweep's reasons; nothing for one that passed
// or was refused without counting.
std::optional<std::string> sweepReason(const sweepRow& row) {
    const std::string name = settingName(row.rate, row.buffer) + ": ";
    if (!row.accepted())
        return row.advertised ? std::optional(name + "refused: " + *row.refusal) : std::nullopt;
    if (!row.verdict || row.verdict->passed()) return std::nullopt;
    return name + (row.verdict->reasons.empty() ? std::string(measure::verdictName(row.verdict->word))
                                                : row.verdict->reasons.front());
}

} // namespace

sweepOutcome runSweep(telAsioDriver& driver, measuringBP& processor, const programOptions& options,
                      const std::function<void(const json&)>& rowsChanged) {
    sweepOutcome outcome;
    const double originalRate = driver.sampleRate();
    // The buffers of the start-up go first: the sizes are read at each rate without any.
    driver.stop(telTrue);
    sweeper sweep(driver, processor, options);
    // The processor is attached to the driver only while a setting runs.
    if (!driver.setBufferProcessor(nullptr)) sweep.f_callbackStuck = true;
    const std::vector<setting> settings = planSweep(driver, options);
    size_t rates = 0;
    for (size_t i = 0; i < settings.size(); ++i)
        rates += i == 0 || settings[i].rate != settings[i - 1].rate;
    printText(sweepPlanLine(settings.size(), rates, *options.seconds));
    printText("");
    printText(sweepHeaderLine());

    std::vector<measure::SweepSettingOutcome> outcomes;
    for (size_t i = 0; i < settings.size() && sweep.goesOn(); ++i) {
        const setting& at = settings[i];
        const std::string lead = "[" + std::to_string(i + 1) + "/" + std::to_string(settings.size()) + "] " +
                                 settingName(at.rate, at.buffer);
        if (plat::interruptRequested() || parentStopSignal() != 0) {
            sweep.f_signal = runStopSignal() != 0 ? runStopSignal() : 2;
            break;
        }
        liveLine(lead);
        tellParentSetting(at.rate, at.buffer, i + 1, settings.size());
        sweepRow row = at.refusal.empty() ? sweep.run(at, lead) : refusedRow(at, at.refusal);
        liveLine("");
        printText(sweepRowLine(row));
        outcomes.push_back(sweepOutcomeOf(row));
        outcome.rows.push_back(std::move(row));
        if (rowsChanged) rowsChanged(sweepRowsJson(outcome.rows));
    }
    outcome.started = sweep.f_started;
    outcome.signal = sweep.f_signal;
    outcome.driverGone = sweep.f_driverGone;
    printText("");
    printText(smallestPassingLine(outcome.rows));

    // The driver as the sweep found it: no buffers (the tear-down needs none) and its rate.
    if (!outcome.driverGone) {
        driver.stop(telTrue);
        driver.setSampleRate(originalRate);
    }

    outcome.verdict.word = measure::sweepVerdictWord(outcomes);
    if (sweep.f_prepareFailed) {
        outcome.verdict = {VerdictWord::error, {*sweep.f_prepareFailed}};
        return outcome;
    }
    const bool anyCounted = std::any_of(outcome.rows.begin(), outcome.rows.end(),
                                        [](const sweepRow& row) { return row.accepted() || row.advertised; });
    if (!anyCounted && sweep.f_signal == 0)
        outcome.verdict.reasons.push_back("the driver accepted none of the " +
                                          std::to_string(settings.size()) + " settings");
    for (const sweepRow& row : outcome.rows)
        if (const std::optional<std::string> reason = sweepReason(row))
            outcome.verdict.reasons.push_back(*reason);
    if (sweep.f_callbackStuck)
        outcome.verdict.add(VerdictWord::fail, std::string("the sweep could not go on: ") + callbackStuck);
    if (sweep.f_endedEarly || outcome.rows.size() < settings.size()) {
        if (outcome.signal == 0)
            outcome.verdict.add(VerdictWord::inconclusive, "the sweep ended after " +
                                                               std::to_string(outcome.rows.size()) + " of " +
                                                               std::to_string(settings.size()) + " settings");
    }
    if (outcome.signal != 0)
        outcome.verdict.add(VerdictWord::interrupted, "stopped by signal " + std::to_string(outcome.signal));
    return outcome;
}
