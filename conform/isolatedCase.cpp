#include "conform/isolatedCase.h"

#include <algorithm>
#include <chrono>

#include "asio/callBeacon.h"
#include "conform/caseChild.h"
#include "conform/judge/supervision.h"
#include "conform/texts.h"
#include "platform/childProcess.h"
#include "platform/platform.h"

namespace conform {

namespace {

constexpr uint32_t progressEveryMs = 100;
// How long a child may take to start and install its beacon: no driver call happens
// before, and a process start under emulation is slow.
constexpr double startAllowanceSeconds = 60.0;

// "; during creation 2 of 3" when the child said which step it was in.
std::string stageText(const std::string& received) {
    const std::string stage = readCaseStage(received);
    return stage.empty() ? std::string() : " during " + stage;
}

} // namespace

SupervisedCase runIsolatedCase(const CheckEntry& check, const CaseSupervision& supervision) {
    SupervisedCase outcome;
    CheckReport& report = outcome.result.report;
    report.id = check.id;

    plat::ChildProcess child;
    plat::ChildOptions options;
    options.arguments =
        caseArguments(supervision.index, check.id, supervision.skipControlPanel, supervision.barred);
    options.sharedBytes = callBeaconBytes;
    const auto began = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    };
    if (!child.start(options)) {
        outcome.end = CaseEnd::notStarted;
        report.outcome = failed("the check's process could not be started");
        return outcome;
    }

    // The limit is one driver call's: the host thread must make progress (begin a driver
    // call, or beat while it waits) within it, and the process must end within it once it
    // sent its result. The check's own waits between calls are its plan, not a hang.
    const double limit = supervision.timeLimitSeconds;
    bool beaconSeen = false;
    uint32_t lastProgress = 0;
    double progressAt = 0;
    std::optional<double> resultAt;
    std::string received;
    plat::ChildEnd end = child.end();
    for (;;) {
        end = child.wait(progressEveryMs, received);
        if (end.over()) break;
        const CallBeaconReading beacon = readCallBeacon(child.shared());
        if (supervision.interrupted && supervision.interrupted()) {
            child.kill();
            outcome.end = CaseEnd::interrupted;
            report.outcome = skipped("interrupted");
            report.notRun = true;
            report.seconds = elapsed();
            return outcome;
        }
        const double now = elapsed();
        if (beacon.valid && (!beaconSeen || beacon.hostProgress != lastProgress)) {
            beaconSeen = true;
            lastProgress = beacon.hostProgress;
            progressAt = now;
        }
        if (!resultAt && readCaseResult(received)) resultAt = now;
        const double stillFor = resultAt ? now - *resultAt : now - progressAt;
        if (stillFor >= (beaconSeen ? limit : std::max(limit, startAllowanceSeconds))) {
            child.kill();
            outcome.end = CaseEnd::hung;
            outcome.call = hungCallOf(beacon);
            const std::string hang = hangDetail(beacon, supervision.timeLimitSeconds);
            if (const std::optional<CaseResult> result = readCaseResult(received)) {
                // The check ran; letting the driver go (its module's unloading) hung.
                outcome.result = *result;
                if (result->barred == telDriverCall::none)
                    report.outcome = withFault(report.outcome, "after the check, " + hang);
                return outcome;
            }
            report.outcome = failed(hang + stageText(received));
            report.seconds = elapsed();
            return outcome;
        }
        if (supervision.progress) supervision.progress(now, callOf(beacon));
    }

    const std::string howItEnded = plat::toUtf8(plat::childEndText(end));
    if (const std::optional<CaseResult> result = readCaseResult(received)) {
        outcome.result = *result;
        // A process that reported and then did not end cleanly did so on its way out (a
        // driver module that crashes as it is unloaded): the check fails with it, unless
        // it stopped at a call that hung before, which may leave the driver in any state.
        if ((end.kind != plat::ChildEnd::Kind::exited || end.code != 0) &&
            result->barred == telDriverCall::none) {
            const std::string after = end.abnormal() ? crashDetail(readCallBeacon(child.shared()), howItEnded)
                                                     : "ended with " + howItEnded;
            report.outcome = withFault(report.outcome, "after the check the process " + after);
        }
        return outcome;
    }
    const CallBeaconReading beacon = readCallBeacon(child.shared());
    outcome.end = CaseEnd::crashed;
    outcome.call = callOf(beacon);
    report.seconds = elapsed();
    report.outcome = failed((end.abnormal() || outcome.call != telDriverCall::none
                                 ? crashDetail(beacon, howItEnded)
                                 : "the check's process ended without a result (" + howItEnded + ")") +
                            stageText(received));
    return outcome;
}

} // namespace conform
