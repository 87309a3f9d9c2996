#include "conform/judge/messages.h"

#include "conform/texts.h"

namespace conform {

const std::vector<std::pair<int32_t, const char*>>& canQueries() {
    static const std::vector<std::pair<int32_t, const char*>> queries{
        {kAsioCanInputMonitor, "canInputMonitor"},
        {kAsioCanTimeInfo, "canTimeInfo"},
        {kAsioCanTimeCode, "canTimeCode"},
        {kAsioCanTransport, "canTransport"},
        {kAsioCanInputGain, "canInputGain"},
        {kAsioCanInputMeter, "canInputMeter"},
        {kAsioCanOutputGain, "canOutputGain"},
        {kAsioCanOutputMeter, "canOutputMeter"},
        {kAsioCanReportOverload, "canReportOverload"},
    };
    return queries;
}

const std::vector<int32_t>& unknownSelectors() {
    static const std::vector<int32_t> selectors{1000, 0x7FFFFFFF};
    return selectors;
}

Outcome judgeFutureSelectors(const FutureSelectorsObservation& seen) {
    Findings findings;
    std::vector<std::string> yes;
    for (const SelectorAnswer& answer : seen.canQueries) {
        std::string name = std::to_string(answer.selector);
        for (const auto& [selector, text] : canQueries())
            if (selector == answer.selector) name = text;
        if (answer.answer == ASE_SUCCESS || answer.answer == ASE_OK)
            yes.push_back(name);
        else if (answer.answer != ASE_NotPresent && answer.answer != ASE_InvalidParameter)
            findings.fault(name + " answered " + statusText(answer.answer) +
                           ", not success, NotPresent or InvalidParameter");
    }
    for (const SelectorAnswer& answer : seen.unknown)
        if (answer.answer == ASE_SUCCESS || answer.answer == ASE_OK)
            findings.fault("the unknown selector " + hexText(static_cast<uint32_t>(answer.selector)) +
                           " answered with success");
    return findings.outcome("yes to " + (yes.empty() ? std::string("none") : joined(yes)) + " of " +
                            std::to_string(seen.canQueries.size()) +
                            " can-queries; unknown selectors refused");
}

std::string messageName(int32_t selector) {
    switch (selector) {
    case kAsioSelectorSupported:
        return "selectorSupported";
    case kAsioEngineVersion:
        return "engineVersion";
    case kAsioResetRequest:
        return "resetRequest";
    case kAsioBufferSizeChange:
        return "bufferSizeChange";
    case kAsioResyncRequest:
        return "resyncRequest";
    case kAsioLatenciesChanged:
        return "latenciesChanged";
    case kAsioSupportsTimeInfo:
        return "supportsTimeInfo";
    case kAsioSupportsTimeCode:
        return "supportsTimeCode";
    case kAsioSupportsInputMonitor:
        return "supportsInputMonitor";
    case kAsioOverload:
        return "overload";
    default:
        return "selector " + std::to_string(selector);
    }
}

Outcome judgeHostMessages(const HostMessagesObservation& seen) {
    Findings findings;
    const std::string full = runFault(seen.fullHost, 3, false);
    if (!full.empty()) findings.fault("with a host that answers as hosts do: " + full);
    const std::string minimal = runFault(seen.minimalHost, 3, false);
    if (!minimal.empty()) findings.fault("with a host that answers no to every message: " + minimal);
    // Such a host said it takes no time info: it need not have bufferSwitchTimeInfo at all.
    const uint32_t timeInfo = examineSwitches(seen.minimalHost.notes, seen.minimalHost.size).timeInfoSwitches;
    if (timeInfo > 0)
        findings.fault("with a host that answers no to every message: " +
                       counted(timeInfo, "switch came", "switches came") +
                       " through bufferSwitchTimeInfo, which such a host need not have");
    std::vector<std::string> asked, sent;
    for (int32_t selector : seen.asked)
        asked.push_back(messageName(selector));
    for (const auto& [selector, count] : seen.sent)
        sent.push_back(messageName(selector) + " x" + std::to_string(count));
    return findings.outcome("asks about " + (asked.empty() ? std::string("nothing") : joined(asked)) +
                            "; sends " + (sent.empty() ? std::string("nothing") : joined(sent)) +
                            "; runs with a host that answers no to everything");
}

Outcome judgeResetCycle(const ResetCycleObservation& seen) {
    const std::string first = runFault(seen.first, 3, false);
    if (!first.empty()) return failed("before the first reset: " + first);
    Findings findings;
    for (size_t i = 0; i < seen.rounds.size(); ++i) {
        const ResetRound& round = seen.rounds[i];
        const std::string which = "reset " + std::to_string(i + 1) + ": ";
        if (!round.failedStep.empty()) {
            findings.fault(which + round.failedStep + " answered " + statusText(round.status));
            continue;
        }
        const std::string fault = runFault(round.run, 3, false);
        if (!fault.empty()) findings.fault(which + fault);
    }
    return findings.outcome(std::to_string(seen.rounds.size()) +
                            " resets (stop, disposeBuffers, Release, create, init, createBuffers, start): "
                            "ran every time");
}

Outcome judgeResetRequests(const Outcome& outcome, int honoured) {
    if (honoured <= 0 || outcome.result == Result::skip) return outcome;
    const std::string count = counted(static_cast<uint64_t>(honoured), "reset request", "reset requests");
    if (honoured >= 2)
        return withFault(outcome, count +
                                      " without a cause, honoured: the driver asked again after the host's "
                                      "full reset and never settled");
    Outcome result = outcome;
    result.detail += "; " + count + " without a cause honoured";
    if (result.result == Result::pass) result.result = Result::warn;
    return result;
}

Outcome judgeControlPanel(const ControlPanelObservation& seen) {
    if (seen.skipped) return skipped("skipped with /skipcp");
    if (seen.status == ASE_OK) return passed("returned 0 after " + secondsText(seen.took));
    return passed("no panel: answered " + statusText(seen.status) + " after " + secondsText(seen.took));
}

} // namespace conform
