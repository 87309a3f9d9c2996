#include "app/sweep/sweepRun.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/measured/measuredRun.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "app/starts/startsRun.h"
#include "app/supervised/childLink.h"
#include "app/sweep/settingCycle.h"
#include "app/sweep/sweepTable.h"
#include "conform/texts.h"
#include "measure/runDocument.h"
#include "measure/sweepPlan.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

using json = nlohmann::json;
using measure::VerdictWord;

using setting = cycleSetting;

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

// The live line that says which setting runs, rewritten in place; a blank one clears it.
void liveLine(const std::string& text) {
    writeLiveLine(plat::fromNarrow(text + std::string(text.size() < 79 ? 79 - text.size() : 0, ' ') + "\r"));
}

// The setting's N starts in one row: the figures of the first start with the most common
// round trip, the verdict of all of them (a round trip that moves between starts fails).
sweepRow runStartsOfSetting(settingCycle& cycle, const setting& at, int32_t count, const std::string& lead) {
    startsOutcome outcome = runStartsOf(cycle, at, count, lead + ", ", false, nullptr);
    if (outcome.rows.empty()) return refusedRow(at, "no start was made");
    if (outcome.rows.size() == 1 && !outcome.rows.front().accepted()) return outcome.rows.front();
    size_t shown = 0;
    if (!outcome.summary.groups.empty()) shown = size_t(outcome.summary.groups.front().starts.front() - 1);
    sweepRow row = outcome.rows[shown];
    row.verdict = outcome.verdict;
    row.startsSummary = outcome.summary;
    row.startsPlanned = count;
    row.starts = std::move(outcome.rows);
    return row;
}

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
    settingCycle sweep(driver, processor, options);
    // The processor is attached to the driver only while a setting runs.
    if (!driver.setBufferProcessor(nullptr)) sweep.f_callbackStuck = true;
    const std::vector<setting> settings = planSweep(driver, options);
    size_t rates = 0;
    for (size_t i = 0; i < settings.size(); ++i)
        rates += i == 0 || settings[i].rate != settings[i - 1].rate;
    printText(sweepPlanLine(settings.size(), rates, *options.seconds, options.starts.value_or(0)));
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
        sweepRow row = !at.refusal.empty() ? refusedRow(at, at.refusal)
                       : options.starts    ? runStartsOfSetting(sweep, at, *options.starts, lead)
                                           : sweep.run(at, lead);
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
