#include "conform/checkList.h"

#include <chrono>

#include "conform/checks/checks.h"
#include "conform/judge/messages.h"
#include "conform/texts.h"

namespace conform {

const std::vector<CheckEntry>& allChecks() {
    static const std::vector<CheckEntry> checks{
        {"create-release", "create, init and release three times, and once without init: alike every time",
         checkCreateRelease},
        {"figures", "channel counts, buffer-size rules, rate and latencies make sense", checkFigures},
        {"channel-info", "every channel answers for itself; channels out of range are refused",
         checkChannelInfo},
        {"sample-rates", "canSampleRate accepts the current rate and refuses nonsense", checkSampleRates},
        {"set-sample-rate", "every rate it can do is set and reported; others refused", checkSetSampleRate},
        {"clock-sources", "one current source among distinct ones; setting it works", checkClockSources},
        {"buffer-sizes", "legal sizes run at their size; an illegal one is refused", checkBufferSizes},
        {"latency-report", "the latencies reported after createBuffers hold the buffer and follow its size",
         checkLatencyReport},
        {"channel-subsets", "subsets of the channels run", checkChannelSubsets},
        {"create-twice", "a second createBuffers is refused or handled", checkCreateTwice},
        {"bad-create", "impossible buffer requests are refused and leave nothing running", checkBadCreate},
        {"start-stop", "callbacks begin after start and end when stop returns, three times", checkStartStop},
        {"call-order", "calls out of order are refused or harmless", checkCallOrder},
        {"dispose-running", "disposeBuffers while running is refused or stops first", checkDisposeRunning},
        {"release-running", "the last Release while running ends the stream", checkReleaseRunning},
        {"switch-sequence", "two seconds of switches: halves, positions, times and pace",
         checkSwitchSequence},
        {"sample-position", "positions before start and from another thread while running",
         checkSamplePosition},
        {"time-info", "time records are valid and kAsioCanTimeInfo says so", checkTimeInfo},
        {"future-selectors", "can-queries answered sensibly, unknown selectors refused",
         checkFutureSelectors},
        {"output-ready", "outputReady after every switch; stop without it returns", checkOutputReady},
        {"host-messages", "what the driver asks and sends; it runs with a minimal host", checkHostMessages},
        {"reset-cycle", "the host's full reaction to a reset request, three times", checkResetCycle},
        {"control-panel", "the control panel opens and returns", checkControlPanel},
    };
    return checks;
}

const CheckEntry* findCheck(const std::string& id) {
    for (const CheckEntry& check : allChecks())
        if (id == check.id) return &check;
    return nullptr;
}

CheckReport runCheck(const CheckEntry& check, CheckContext& context) {
    const auto began = std::chrono::steady_clock::now();
    CheckReport report;
    report.id = check.id;
    report.outcome = check.run(context);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    report.resetsHonoured = context.tally.resetsHonoured;
    const std::string& thrown = context.tally.thrown;
    if (!thrown.empty()) report.outcome = withFault(report.outcome, thrown);
    // A callback after a stopped stream's disposeBuffers returned reaches what a host has
    // freed by then, whatever the check was about.
    if (const uint32_t late = callbackLog().callbacksAfterDispose(); late > 0)
        report.outcome =
            withFault(report.outcome, counted(late, "callback", "callbacks") +
                                          " came after disposeBuffers had returned on a stopped stream");
    const char* inCallback = callbackLog().callbackThrow();
    if (*inCallback != '\0' && report.outcome.result != Result::fail)
        report.outcome = failed(std::string(inCallback) + " thrown by a driver call inside a callback");
    report.outcome = judgeResetRequests(report.outcome, report.resetsHonoured);
    // A check that needed a call which hung before did not run to its end: what it saw
    // up to there proves nothing either way.
    if (context.tally.barredNeeded != telDriverCall::none)
        report.outcome = skipped(std::string("needs ") + driverCallName(context.tally.barredNeeded) +
                                 ", which did not answer in an earlier check");
    return report;
}

} // namespace conform
