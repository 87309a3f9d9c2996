// The checks of the running stream: start-stop, call-order, dispose-running,
// release-running, switch-sequence, sample-position, time-info and output-ready.
#include <algorithm>

#include "conform/checks/checks.h"
#include "conform/checks/runStream.h"
#include "conform/judge/stream.h"

namespace conform {

namespace {

constexpr int startStopCycles = 3;
constexpr double switchSequenceSeconds = 2.0;
constexpr int positionReads = 10;

// The time of `switches` buffers at the driver's rate, and at least `floor` seconds.
double periods(DriverSession& session, int32_t size, uint32_t switches, double floor) {
    const double seconds = switchWait(session, size, switches) - 1.0;
    return seconds > floor ? seconds : floor;
}

} // namespace

Outcome checkStartStop(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const int32_t size = session.runSize();
    StartStopObservation seen;
    seen.createStatus = session.createBuffers(session.allChannels(), size);
    if (seen.createStatus != ASE_OK) return judgeStartStop(seen);
    seen.switchesDuringCreate = session.liveSwitches();
    for (int i = 0; i < startStopCycles; ++i) {
        StartStopCycle cycle;
        const uint32_t mark = session.noteMark();
        cycle.startCalledAt = session.now();
        cycle.startStatus = session.start();
        cycle.startReturnedAt = session.now();
        if (cycle.startStatus != ASE_OK) {
            seen.cycles.push_back(cycle);
            break;
        }
        session.waitForSwitches(session.notedSwitches() + startStopWanted,
                                switchWait(session, size, startStopWanted));
        const std::vector<SwitchNote> notes = session.notesSince(mark);
        if (!notes.empty()) cycle.firstSwitchAt = session.secondsAt(notes.front().hostBegin);
        const double stopCalled = session.now();
        cycle.ranFor = stopCalled - cycle.startReturnedAt;
        for (const SwitchNote& note : notes)
            if (session.secondsAt(note.hostBegin) >= cycle.startReturnedAt) ++cycle.switchesRunning;
        cycle.stopStatus = session.stop();
        cycle.stopReturnedAt = session.now();
        cycle.stopTook = cycle.stopReturnedAt - stopCalled;
        const uint32_t atStop = session.liveSwitches();
        session.pause(periods(session, size, 4, 0.03));
        cycle.switchesAfterStop = session.liveSwitches() - atStop;
        // Switches that began before stop returned and returned after it, and those
        // that have not returned at all.
        for (const SwitchNote& note : session.notesSince(mark)) {
            const double began = session.secondsAt(note.hostBegin), ended = session.secondsAt(note.hostEnd);
            if (began <= cycle.stopReturnedAt && ended > cycle.stopReturnedAt) {
                ++cycle.insideAtStop;
                cycle.insideFor = std::max(cycle.insideFor, ended - cycle.stopReturnedAt);
            }
        }
        const uint32_t unfinished = session.liveSwitches() - session.notedSwitches();
        if (unfinished > 0) {
            cycle.insideAtStop += unfinished;
            cycle.insideFor = std::max(cycle.insideFor, session.now() - cycle.stopReturnedAt);
        }
        int64_t time = 0;
        cycle.positionStatus = session.getSamplePosition(cycle.positionAfterStop, time);
        session.pause(periods(session, size, 3, 0.02));
        if (cycle.positionStatus == ASE_OK) session.getSamplePosition(cycle.positionLater, time);
        seen.cycles.push_back(cycle);
    }
    return judgeStartStop(seen);
}

Outcome checkCallOrder(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const int32_t size = session.runSize();
    const std::vector<ChannelPick> channels = session.allChannels();
    CallOrderObservation seen;
    seen.startWithoutBuffers = session.start();
    if (seen.startWithoutBuffers == ASE_OK) session.stop();
    seen.disposeWithoutBuffers = session.disposeBuffers();
    seen.createAfterThose = session.createBuffers(channels, size);
    if (seen.createAfterThose != ASE_OK) return judgeCallOrder(seen);
    seen.stopWhenStopped = session.stop();
    seen.start = session.start();
    if (seen.start != ASE_OK) return judgeCallOrder(seen);
    seen.startWhenStarted = session.start();
    RunTrace& run = seen.runAfterDoubleStart;
    run.size = size;
    const uint32_t mark = session.noteMark();
    const double began = session.now();
    session.waitForSwitches(session.notedSwitches() + 5, switchWait(session, size, 5));
    run.waited = session.now() - began;
    run.notes = session.notesSince(mark);
    seen.stop = session.stop();
    seen.stopAgain = session.stop();
    seen.dispose = session.disposeBuffers();
    seen.disposeAgain = session.disposeBuffers();
    seen.createAgain = session.createBuffers(channels, size);
    return judgeCallOrder(seen);
}

Outcome checkDisposeRunning(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const int32_t size = session.runSize();
    DisposeRunningObservation seen;
    seen.run.size = size;
    seen.run.createStatus = session.createBuffers(session.allChannels(), size);
    if (seen.run.createStatus == ASE_OK) startAndCollect(session, seen.run, 3);
    if (!runFault(seen.run, 2, false).empty()) return judgeDisposeRunning(seen);
    const int set = session.liveSet();
    seen.dispose = session.disposeBuffers();
    const SetCounts atReturn = callbackLog().counts(set);
    session.pause(periods(session, size, 5, 0.05));
    const SetCounts later = callbackLog().counts(set);
    seen.switchesAfter =
        (later.switches + later.switchesRetired) - (atReturn.switches + atReturn.switchesRetired);
    if (seen.dispose != ASE_OK) {
        seen.stopAfter = session.stop();
        seen.disposeAfter = session.disposeBuffers();
    }
    return judgeDisposeRunning(seen);
}

Outcome checkReleaseRunning(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const int32_t size = session.runSize();
    ReleaseRunningObservation seen;
    seen.run.size = size;
    seen.run.createStatus = session.createBuffers(session.allChannels(), size);
    if (seen.run.createStatus == ASE_OK) startAndCollect(session, seen.run, 3);
    if (!runFault(seen.run, 2, false).empty()) return judgeReleaseRunning(seen);
    const int set = session.liveSet();
    seen.watched = periods(session, size, 5, 0.25);
    session.release();
    const uint32_t atReturn = callbackLog().counts(set).afterRetired;
    session.pause(seen.watched);
    seen.callbacksAfter = callbackLog().counts(set).afterRetired - atReturn;
    return judgeReleaseRunning(seen);
}

Outcome checkSwitchSequence(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    SwitchSequenceObservation seen;
    RunTrace& run = seen.run;
    run.size = session.runSize();
    session.getSampleRate(seen.rate);
    run.createStatus = session.createBuffers(session.allChannels(), run.size);
    if (run.createStatus != ASE_OK) return judgeSwitchSequence(seen);
    const uint32_t mark = session.noteMark();
    const double began = session.now();
    run.startStatus = session.start();
    if (run.startStatus == ASE_OK) session.pause(switchSequenceSeconds);
    run.waited = session.now() - began;
    run.notes = session.notesSince(mark);
    // A rate off in the run is measured once more on the running stream.
    const std::optional<StreamRate> rate = streamRate(run.notes, run.size, seen.rate);
    if (run.startStatus == ASE_OK && rate && !rateWithinLimit(*rate)) {
        RunTrace again;
        again.size = run.size;
        const uint32_t secondMark = session.noteMark();
        const double secondBegan = session.now();
        session.pause(switchSequenceSeconds);
        again.waited = session.now() - secondBegan;
        again.notes = session.notesSince(secondMark);
        seen.again = again;
    }
    if (run.startStatus == ASE_OK) session.stop();
    return judgeSwitchSequence(seen);
}

Outcome checkSamplePosition(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    SamplePositionObservation seen;
    seen.size = session.runSize();
    RunTrace& run = seen.run;
    run.size = seen.size;
    run.createStatus = session.createBuffers(session.allChannels(), seen.size);
    if (run.createStatus != ASE_OK) return judgeSamplePosition(seen);
    int64_t time = 0;
    seen.beforeStart.status = session.getSamplePosition(seen.beforeStart.position, time);
    session.pause(periods(session, seen.size, 3, 0.03));
    seen.beforeStartLater.status = session.getSamplePosition(seen.beforeStartLater.position, time);
    const uint32_t mark = session.noteMark();
    startAndCollect(session, run, 3);
    if (run.startStatus == ASE_OK && run.notes.size() >= 3) {
        const double gap = periods(session, seen.size, 1, 0.002) * 0.7;
        for (int i = 0; i < positionReads; ++i) {
            PositionRead read;
            auto lastPosition = [&]() -> std::optional<int64_t> {
                const std::vector<SwitchNote> notes = session.notesSince(mark);
                if (notes.empty() || !notes.back().positionKnown) return std::nullopt;
                return notes.back().position;
            };
            read.lastBefore = lastPosition();
            read.status = session.getSamplePosition(read.position, time);
            read.lastAfter = lastPosition();
            seen.running.push_back(read);
            session.pause(gap);
        }
        session.stop();
    }
    return judgeSamplePosition(seen);
}

Outcome checkTimeInfo(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    TimeInfoObservation seen;
    seen.canTimeInfo = session.future(kAsioCanTimeInfo, nullptr);
    seen.rateStatus = session.getSampleRate(seen.rate);
    seen.run = runStream(session, session.allChannels(), session.runSize(), 10);
    return judgeTimeInfo(seen);
}

Outcome checkOutputReady(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    OutputReadyObservation seen;
    seen.wanted = session.outputReady();
    if (seen.wanted != ASE_OK) return judgeOutputReady(seen);
    const int32_t size = session.runSize();
    RunTrace& run = seen.run;
    run.size = size;
    run.createStatus = session.createBuffers(session.allChannels(), size);
    if (run.createStatus == ASE_OK) startAndCollect(session, run, 20);
    if (!runFault(run, 3, true).empty()) return judgeOutputReady(seen);
    // Hold outputReady back from the next switch, and stop right after it.
    CallbackLog& log = callbackLog();
    const uint32_t before = log.withheldSwitches();
    log.withholdOutputReady(true);
    const double until = session.now() + switchWait(session, size, 1);
    while (log.withheldSwitches() == before && session.now() < until)
        session.pause(0.0005);
    const double stopCalled = session.now();
    seen.stop = session.stop();
    seen.stopTook = session.now() - stopCalled;
    seen.withheld = log.withheldSwitches() - before;
    log.withholdOutputReady(false);
    return judgeOutputReady(seen);
}

} // namespace conform
