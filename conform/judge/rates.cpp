#include "conform/judge/rates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "conform/texts.h"
#include "measure/sweepPlan.h"

namespace conform {

namespace {

bool sameRate(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-6 * std::fabs(a);
}

std::string hertz(const std::vector<std::string>& rates) {
    return joined(rates) + " Hz";
}

// What the stream run at a setting's rate shows against it: "" when it ran at that pace.
std::string paceFault(const RateSetting& setting) {
    if (!setting.run) return {};
    const std::string call =
        "setSampleRate(" + rateText(setting.rate) + ") succeeded and getSampleRate reported it, ";
    const std::string fault = runFault(*setting.run, 4, false);
    if (!fault.empty()) return call + "then a stream at that rate: " + fault;
    const std::optional<double> pace = positionPace(setting.run->notes);
    if (!pace) return call + "but the pace of a stream at that rate could not be measured";
    if (std::fabs(*pace / setting.rate - 1) <= ratePaceTolerance) return {};
    if (setting.again && ranAtRate(*setting.again, setting.rate)) return {};
    char ran[64];
    std::snprintf(ran, sizeof ran, "%.0f", *pace);
    std::string text = call + "but the stream ran at " + ran + " Hz (its positions against the host's clock)";
    if (setting.again)
        if (const std::optional<double> second = positionPace(setting.again->notes)) {
            std::snprintf(ran, sizeof ran, "%.0f", *second);
            text += std::string("; measured again: ") + ran + " Hz";
        }
    return text;
}

} // namespace

bool ranAtRate(const RunTrace& run, double rate) {
    if (!runFault(run, 4, false).empty()) return false;
    const std::optional<double> pace = positionPace(run.notes);
    return pace && std::fabs(*pace / rate - 1) <= ratePaceTolerance;
}

const std::vector<double>& standardRates() {
    return measure::standardSampleRates();
}

uint32_t paceSwitches(double rate, int32_t size) {
    if (!(rate > 0) || size < 1) return 8;
    const double quarterSecond = std::ceil(0.25 * rate / size);
    return quarterSecond > 8 ? static_cast<uint32_t>(std::min(quarterSecond, 4096.0)) : 8;
}

const std::vector<double>& nonsenseRates() {
    static const std::vector<double> rates{-1.0, 0.0, std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::infinity(), 1e12};
    return rates;
}

Outcome judgeSampleRates(const SampleRatesObservation& seen) {
    Findings findings;
    std::vector<std::string> accepted;
    for (const RateAnswer& answer : seen.standard)
        if (answer.status == ASE_OK) accepted.push_back(rateText(answer.rate));
    if (accepted.empty()) findings.fault("canSampleRate accepts none of the standard rates");
    if (seen.currentStatus != ASE_OK)
        findings.fault("getSampleRate answered " + statusText(seen.currentStatus));
    else if (seen.currentAccepted != ASE_OK)
        findings.fault("the current rate " + rateText(seen.current) + " Hz is one canSampleRate refuses (" +
                       statusText(seen.currentAccepted) + ")");
    std::vector<std::string> refused;
    for (const RateAnswer& answer : seen.nonsense) {
        if (answer.status == ASE_OK)
            findings.fault("canSampleRate(" + rateText(answer.rate) + ") answered 0 (accepted)");
        else
            refused.push_back(rateText(answer.rate));
    }
    return findings.outcome("accepts " + hertz(accepted) + "; current " + rateText(seen.current) +
                            " Hz; refuses " + joined(refused));
}

Outcome judgeSetSampleRate(const SetSampleRateObservation& seen) {
    if (seen.accepted.size() < 2)
        return skipped(seen.accepted.empty() ? "the driver accepts none of the standard rates"
                                             : "the driver runs at one rate only (" +
                                                   rateText(seen.accepted.front().rate) + " Hz)");
    Findings findings;
    std::vector<std::string> set;
    for (const RateSetting& setting : seen.accepted) {
        const std::string call = "setSampleRate(" + rateText(setting.rate) + ")";
        if (setting.setStatus != ASE_OK)
            findings.fault(call + " answered " + statusText(setting.setStatus) +
                           " although canSampleRate accepts it");
        else if (setting.readStatus != ASE_OK)
            findings.fault(call + " succeeded, getSampleRate then answered " +
                           statusText(setting.readStatus));
        else if (!sameRate(setting.readBack, setting.rate))
            findings.fault(call + " succeeded, getSampleRate then reported " + rateText(setting.readBack));
        else if (const std::string ran = paceFault(setting); !ran.empty())
            findings.fault(ran);
        else
            set.push_back(rateText(setting.rate));
    }
    std::string refusedText = "every standard rate accepted";
    if (seen.refused) {
        const RateSetting& refused = *seen.refused;
        const std::string call = "setSampleRate(" + rateText(refused.rate) + ")";
        if (refused.setStatus == ASE_OK)
            findings.fault(call + " succeeded although canSampleRate refuses it");
        else if (refused.readStatus == ASE_OK && !sameRate(refused.readBack, seen.beforeRefused))
            findings.fault(call + " was refused, yet the rate changed from " + rateText(seen.beforeRefused) +
                           " to " + rateText(refused.readBack));
        refusedText = rateText(refused.rate) + " Hz refused, the rate stayed";
    }
    const RateSetting& restored = seen.restored;
    if (restored.setStatus != ASE_OK || restored.readStatus != ASE_OK ||
        !sameRate(restored.readBack, seen.original))
        findings.fault("the original " + rateText(seen.original) +
                       " Hz did not come back: setSampleRate answered " + statusText(restored.setStatus) +
                       ", getSampleRate reported " + rateText(restored.readBack));
    return findings.outcome("set " + hertz(set) + ", read each back and ran at each at its pace; " +
                            refusedText + "; " + rateText(seen.original) + " Hz restored");
}

Outcome judgeClockSources(const ClockSourcesObservation& seen) {
    Findings findings;
    if (seen.status != ASE_OK) return failed("getClockSources answered " + statusText(seen.status));
    if (seen.sources.empty()) return failed("no clock source");
    std::set<int32_t> indexes;
    std::vector<std::string> current;
    for (const ClockSourceEntry& source : seen.sources) {
        if (!indexes.insert(source.index).second)
            findings.fault("the index " + std::to_string(source.index) + " is given twice");
        if (!source.nameTerminated)
            findings.fault("source " + std::to_string(source.index) +
                           " has a name without its terminating zero");
        if (source.current) current.push_back(std::to_string(source.index) + " " + source.name);
    }
    if (current.empty()) findings.fault("no source is current");
    if (current.size() > 1) findings.fault(std::to_string(current.size()) + " sources are current");
    if (current.size() == 1 && seen.setCurrentStatus != ASE_OK)
        findings.fault("setClockSource of the current source answered " + statusText(seen.setCurrentStatus));
    if (seen.setOutOfRangeStatus == ASE_OK)
        findings.fault("setClockSource(" + std::to_string(seen.outOfRangeIndex) +
                       "), out of range, answered 0");
    return findings.outcome(counted(seen.sources.size(), "source", "sources") + ", current " +
                            (current.empty() ? std::string("none") : current.front()) +
                            "; setting it works, " + std::to_string(seen.outOfRangeIndex) + " refused");
}

} // namespace conform
