#include "conform/isolatedCase.h"

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

} // namespace

SupervisedCase runIsolatedCase(const CheckEntry& check, const CaseSupervision& supervision) {
    SupervisedCase outcome;
    CheckReport& report = outcome.result.report;
    report.id = check.id;

    plat::ChildProcess child;
    plat::ChildOptions options;
    options.arguments = caseArguments(supervision.index, check.id, supervision.skipControlPanel);
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
            report.seconds = elapsed();
            return outcome;
        }
        if (elapsed() >= supervision.timeLimitSeconds) {
            child.kill();
            outcome.end = CaseEnd::hung;
            outcome.call = callOf(beacon);
            const std::string hang = hangDetail(beacon, supervision.timeLimitSeconds);
            if (const std::optional<CaseResult> result = readCaseResult(received)) {
                // The check ran; letting the driver go (its module's unloading) hung.
                outcome.result = *result;
                report.outcome = failed(
                    (report.outcome.result == Result::fail ? report.outcome.detail + "; " : std::string()) +
                    "after the check, " + hang);
                return outcome;
            }
            report.outcome = failed(hang);
            report.seconds = elapsed();
            return outcome;
        }
        if (supervision.progress) supervision.progress(elapsed(), callOf(beacon));
    }

    const std::string howItEnded = plat::toUtf8(plat::childEndText(end));
    if (const std::optional<CaseResult> result = readCaseResult(received)) {
        outcome.result = *result;
        // A process that reported and then did not end cleanly did so on its way out (a
        // driver module that crashes as it is unloaded): the check fails with it.
        if (end.kind != plat::ChildEnd::Kind::exited || end.code != 0) {
            const std::string after = end.abnormal() ? crashDetail(readCallBeacon(child.shared()), howItEnded)
                                                     : "ended with " + howItEnded;
            report.outcome = failed(
                (report.outcome.result == Result::fail ? report.outcome.detail + "; " : std::string()) +
                "after the check the process " + after);
        }
        return outcome;
    }
    const CallBeaconReading beacon = readCallBeacon(child.shared());
    outcome.end = CaseEnd::crashed;
    outcome.call = callOf(beacon);
    report.seconds = elapsed();
    report.outcome = failed(end.abnormal() || outcome.call != telDriverCall::none
                                ? crashDetail(beacon, howItEnded)
                                : "the check's process ended without a result (" + howItEnded + ")");
    return outcome;
}

} // namespace conform
