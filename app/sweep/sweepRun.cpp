#include "app/sweep/sweepRun.h"

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
    std::string refusal; // the rate was refused while the sweep was planned
};

void print(const std::string& text) {
    printMessage(plat::fromNarrow(text));
}

std::string settingName(double rate, int32_t buffer) {
    return rateText(rate) + " Hz, " + std::to_string(buffer) + " samples";
}

// The rates and sizes to run. The sizes of each rate are read at that rate, with no
// buffers: the driver may offer other sizes at other rates.
std::vector<setting> planSweep(telAsioDriver& driver, const programOptions& options) {
    std::vector<double> rates;
    if (options.sampleRate)
        rates.push_back(*options.sampleRate);
    else
        for (double rate : measure::standardSampleRates())
            if (driver.canSampleRate(rate)) rates.push_back(rate);
    std::vector<setting> settings;
    for (double rate : rates) {
        if (const ASIOError status = driver.setSampleRate(rate); status != ASE_OK) {
            settings.push_back({rate, 0, "setSampleRate answered " + conform::statusText(status)});
            continue;
        }
        std::vector<int32_t> sizes;
        measure::BufferSizeRule rule{};
        if (options.bufferSize)
            sizes.push_back(*options.bufferSize);
        else if (driver.getBufferSize(rule.min, rule.max, rule.preferred, rule.granularity) == ASE_OK)
            sizes = measure::sweepBufferSizes(rule);
        if (sizes.empty())
            settings.push_back({rate, 0, "the driver gives no legal buffer size at this rate"});
        for (int32_t size : sizes)
            settings.push_back({rate, size, {}});
    }
    return settings;
}

json refusedRow(const setting& at, const std::string& refusal) {
    return {{"rate", at.rate},         {"buffer", at.buffer},        {"accepted", false},
            {"refusal", refusal},      {"reportedLatency", nullptr}, {"seconds", nullptr},
            {"stats", nullptr},        {"latency", nullptr},         {"verdict", nullptr},
            {"reasons", json::array()}};
}

// The row of a setting that ran, with the same keys as a single run's report.
json ranRow(const setting& at, telAsioDriver& driver, const runFindings& findings) {
    measure::RunDocument document;
    document.setStats(findings.stats, findings.messages);
    if (findings.latency) document.setLatency(*findings.latency);
    if (findings.channelMap) document.setChannelMap(*findings.channelMap);
    document.setVerdict(findings.verdict);
    const json& whole = document.document();
    return {{"rate", at.rate},
            {"buffer", at.buffer},
            {"accepted", true},
            {"refusal", nullptr},
            {"reportedLatency", {{"input", driver.inputLatency()}, {"output", driver.outputLatency()}}},
            {"seconds", std::round(findings.seconds * 1000.0) / 1000.0},
            {"stats", whole["stats"]},
            {"latency", whole["latency"]},
            {"verdict", whole["verdict"]},
            {"reasons", whole["reasons"]}};
}

// A setting the driver took and then could not run at: its row says what failed.
json failedRow(const setting& at, telAsioDriver& driver, const std::string& failure) {
    json row = refusedRow(at, "");
    row["accepted"] = true;
    row["reportedLatency"] = {{"input", driver.inputLatency()}, {"output", driver.outputLatency()}};
    row["verdict"] = "fail";
    row["reasons"] = json::array({failure});
    return row;
}

// The live line that says which setting runs, rewritten in place; a blank one clears it.
void liveLine(const std::string& text) {
    writeLiveLine(plat::fromNarrow(text + std::string(text.size() < 79 ? 79 - text.size() : 0, ' ') + "\r"));
}

class sweeper {
  public:
    sweeper(telAsioDriver& driver, measuringBP& processor, const programOptions& options)
        : f_driver(driver), f_processor(processor), f_options(options) {}

    // Sets the driver up for the setting and runs it; the row of what happened.
    json run(const setting& at, const std::string& lead) {
        // What a host does when its user picks another setting: stop, dispose, new rate,
        // new buffers, start.
        f_driver.stop(telTrue);
        if (f_driver.sampleRate() != at.rate)
            if (const ASIOError status = f_driver.setSampleRate(at.rate); status != ASE_OK)
                return refusedRow(at, "setSampleRate answered " + conform::statusText(status));
        if (const ASIOError status = f_driver.init(0, telTrue, at.buffer); status != ASE_OK)
            return refusedRow(at, "createBuffers answered " + conform::statusText(status));
        // The host layer's buffer set-up keeps to rates up to 96000 Hz; a higher rate the
        // driver can do is set again once the buffers exist.
        if (f_driver.sampleRate() != at.rate) {
            if (const ASIOError status = f_driver.setSampleRate(at.rate); status != ASE_OK)
                return refusedRow(at, "setSampleRate with buffers answered " + conform::statusText(status));
            f_driver.readLatencies(); // those of the rate the setting measures
        }
        if (f_driver.bufActualSize() != at.buffer)
            return refusedRow(at, "the buffers were made with " + std::to_string(f_driver.bufActualSize()) +
                                      " samples");
        if (!f_driver.setBufferProcessor(&f_processor))
            return failedRow(at, f_driver, "an earlier callback did not leave the processor");

        measuredRun measured(f_options);
        telText failure;
        if (!measured.prepare(f_driver, f_processor, &failure)) {
            f_prepareFailed = utf8Text(failure);
            return failedRow(at, f_driver, utf8Text(failure));
        }
        f_processor.prepareTone(f_driver.sampleRate());
        measured.started();
        if (const ASIOError status = f_driver.start(telFalse, -1); status != ASE_OK) {
            const std::string said = plat::toUtf8(plat::fromNarrow(f_driver.getDriverError(telTrue)));
            return failedRow(at, f_driver,
                             "start answered " + conform::statusText(status) +
                                 (said.empty() ? "" : ": " + said));
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
        return ranRow(at, f_driver, findings);
    }

    // Whether another setting may follow.
    bool goesOn() const { return !f_prepareFailed && !f_driverGone && f_signal == 0 && !f_endedEarly; }

    bool f_started = false, f_driverGone = false, f_endedEarly = false;
    // Why the run could not be set up (a loopback without its channels): the same at
    // every setting, so the sweep ends with it.
    std::optional<std::string> f_prepareFailed;
    int f_signal = 0;

  private:
    telAsioDriver& f_driver;
    measuringBP& f_processor;
    const programOptions& f_options;
};

measure::SweepSettingOutcome outcomeOf(const json& row) {
    measure::SweepSettingOutcome outcome;
    outcome.rate = row.value("rate", 0.0);
    outcome.buffer = row.value("buffer", 0);
    outcome.accepted = row.value("accepted", false);
    const std::string word = row["verdict"].is_string() ? row["verdict"].get<std::string>() : "";
    for (VerdictWord each : {VerdictWord::pass, VerdictWord::inconclusive, VerdictWord::error,
                             VerdictWord::fail, VerdictWord::interrupted})
        if (word == measure::verdictName(each)) outcome.verdict = each;
    return outcome;
}

} // namespace

sweepOutcome runSweep(telAsioDriver& driver, measuringBP& processor, const programOptions& options,
                      const std::function<void(const json&)>& rowsChanged) {
    sweepOutcome outcome;
    const double originalRate = driver.sampleRate();
    // The buffers of the start-up go first: the sizes are read at each rate without any.
    driver.stop(telTrue);
    const std::vector<setting> settings = planSweep(driver, options);
    size_t rates = 0;
    for (size_t i = 0; i < settings.size(); ++i)
        rates += i == 0 || settings[i].rate != settings[i - 1].rate;
    print(sweepPlanLine(settings.size(), rates, *options.seconds));
    print("");
    print(sweepHeaderLine());

    sweeper sweep(driver, processor, options);
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
        const json row = at.refusal.empty() ? sweep.run(at, lead) : refusedRow(at, at.refusal);
        liveLine("");
        print(sweepRowLine(row));
        outcome.rows.push_back(row);
        outcomes.push_back(outcomeOf(row));
        if (rowsChanged) rowsChanged(outcome.rows);
    }
    outcome.started = sweep.f_started;
    outcome.signal = sweep.f_signal;
    outcome.driverGone = sweep.f_driverGone;
    print("");
    print(smallestPassingLine(outcome.rows));

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
    if (outcome.verdict.word == VerdictWord::error && sweep.f_signal == 0)
        outcome.verdict.reasons.push_back("the driver accepted none of the " +
                                          std::to_string(settings.size()) + " settings");
    for (const json& row : outcome.rows) {
        if (!row.value("accepted", false) || row["verdict"] == "pass") continue;
        const json& reasons = row["reasons"];
        outcome.verdict.reasons.push_back(
            settingName(row.value("rate", 0.0), row.value("buffer", 0)) + ": " +
            (reasons.empty() ? row["verdict"].get<std::string>() : reasons[0].get<std::string>()));
    }
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
