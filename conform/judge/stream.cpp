#include "conform/judge/stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "conform/texts.h"
#include "measure/switchTiming.h"
#include "measure/verdict.h"

namespace conform {

namespace {

std::string switchText(size_t index) {
    return "switch " + std::to_string(index);
}

} // namespace

namespace {

// The least-squares slope of the notes' start times over their numbers, in seconds.
double slopeOf(std::vector<SwitchNote>::const_iterator first, std::vector<SwitchNote>::const_iterator last) {
    const double count = static_cast<double>(last - first);
    if (count < 2) return 0;
    const double meanIndex = (count - 1) / 2;
    double meanTime = 0;
    for (auto note = first; note != last; ++note)
        meanTime += static_cast<double>(note->hostBegin - first->hostBegin) / count;
    double covariance = 0, variance = 0;
    for (auto note = first; note != last; ++note) {
        const double fromMean = static_cast<double>(note - first) - meanIndex;
        covariance += fromMean * (static_cast<double>(note->hostBegin - first->hostBegin) - meanTime);
        variance += fromMean * fromMean;
    }
    return covariance / variance / 1e9;
}

// The driver's system time against the host's clock over [first, last): the switch
// that arrived least after its stamp in the first third, and the one in the last third.
// A late arrival only adds to the lag, so those two are the ones nothing held up.
std::optional<std::pair<int64_t, int64_t>> systemTimeAdvance(std::vector<SwitchNote>::const_iterator first,
                                                             std::vector<SwitchNote>::const_iterator last) {
    std::vector<const SwitchNote*> stamped;
    for (auto note = first; note != last; ++note)
        if (note->systemTimeKnown) stamped.push_back(&*note);
    if (stamped.size() < 12) return std::nullopt;
    const auto leastLagging = [](auto from, auto to) {
        return *std::min_element(from, to, [](const SwitchNote* a, const SwitchNote* b) {
            return a->hostBegin - a->systemTime < b->hostBegin - b->systemTime;
        });
    };
    const size_t third = stamped.size() / 3;
    const SwitchNote* early =
        leastLagging(stamped.begin(), stamped.begin() + static_cast<std::ptrdiff_t>(third));
    const SwitchNote* late = leastLagging(stamped.end() - static_cast<std::ptrdiff_t>(third), stamped.end());
    const int64_t host = late->hostBegin - early->hostBegin;
    // Under half a second the host's own scheduling could bend the comparison.
    if (host < 500'000'000) return std::nullopt;
    return std::make_pair(late->systemTime - early->systemTime, host);
}

} // namespace

SwitchFindings examineSwitches(const std::vector<SwitchNote>& notes, int32_t size) {
    SwitchFindings found;
    found.switches = static_cast<uint32_t>(notes.size());
    std::set<uintptr_t> threads;
    // A reset the host honoured starts a new stream (with its own callbacks): switches
    // are compared with their predecessor only within one stream, and the pace is taken
    // from the longest.
    size_t streamBegin = 0, longestBegin = 0, longestEnd = 0;
    for (size_t i = 0; i < notes.size(); ++i) {
        const SwitchNote& note = notes[i];
        threads.insert(note.thread);
        if (note.overlapped) ++found.overlaps;
        if (note.timeInfo) ++found.timeInfoSwitches;
        if (note.nullRecord) ++found.nullRecords;
        if (found.halfFault.empty() && note.half != 0 && note.half != 1)
            found.halfFault = switchText(i) + " came with half " + std::to_string(note.half);
        if (found.positionFault.empty() && !note.positionKnown)
            found.positionFault = switchText(i) + " came without a position";
        if (i > 0 && note.set != notes[i - 1].set) streamBegin = i;
        if (i + 1 - streamBegin > longestEnd - longestBegin) {
            longestBegin = streamBegin;
            longestEnd = i + 1;
        }
        if (i == streamBegin) continue;
        const SwitchNote& before = notes[i - 1];
        if (found.halfFault.empty() && note.half == before.half)
            found.halfFault = switchText(i) + " repeated half " + std::to_string(note.half);
        if (found.stepFault.empty() && note.positionKnown && before.positionKnown &&
            note.position - before.position != size)
            found.stepFault = switchText(i) + " stepped by " +
                              std::to_string(note.position - before.position) + ", not " +
                              std::to_string(size);
        if (found.timeFault.empty() && note.systemTimeKnown && before.systemTimeKnown &&
            note.systemTime < before.systemTime)
            found.timeFault = "the system time went back at " + switchText(i);
    }
    found.threads = static_cast<int>(threads.size());
    found.longestBegin = longestBegin;
    found.longestEnd = longestEnd;
    found.systemTimeAdvance = systemTimeAdvance(notes.begin() + static_cast<std::ptrdiff_t>(longestBegin),
                                                notes.begin() + static_cast<std::ptrdiff_t>(longestEnd));
    found.meanInterval = slopeOf(notes.begin() + static_cast<std::ptrdiff_t>(longestBegin),
                                 notes.begin() + static_cast<std::ptrdiff_t>(longestEnd));
    return found;
}

std::optional<StreamRate> streamRate(const std::vector<SwitchNote>& notes, int32_t size, double rate) {
    const SwitchFindings found = examineSwitches(notes, size);
    if (found.longestEnd <= found.longestBegin) return std::nullopt;
    measure::SwitchTiming timing(size, rate);
    for (size_t i = found.longestBegin; i < found.longestEnd; ++i) {
        const SwitchNote& note = notes[i];
        measure::SwitchRecord record;
        record.entryNs = note.hostBegin;
        record.exitNs = note.hostEnd;
        record.position = note.position;
        record.positionValid = note.positionKnown;
        record.half = note.half;
        timing.add(record);
    }
    const measure::SwitchSummary summary =
        timing.summary(notes[found.longestBegin].hostBegin, notes[found.longestEnd - 1].hostEnd);
    if (!summary.measuredRate || !summary.rateErrorPpm) return std::nullopt;
    return StreamRate{*summary.measuredRate, *summary.rateErrorPpm};
}

std::optional<double> positionPace(const std::vector<SwitchNote>& notes) {
    const SwitchFindings found = examineSwitches(notes, 0);
    std::vector<const SwitchNote*> stream;
    for (size_t i = found.longestBegin; i < found.longestEnd; ++i)
        if (notes[i].positionKnown) stream.push_back(&notes[i]);
    if (stream.size() < 4) return std::nullopt;
    // The first switches of a start may come at once (a driver filling its output).
    if (stream.size() >= 8) stream.erase(stream.begin(), stream.begin() + 2);
    // A switch arrives when it is due or later, never earlier: the lower hull of the
    // arrivals over the positions runs through the ones nothing held up.
    const auto below = [](const SwitchNote* a, const SwitchNote* b, const SwitchNote* c) {
        const double ab = static_cast<double>(b->position - a->position);
        const double ac = static_cast<double>(c->position - a->position);
        return static_cast<double>(b->hostBegin - a->hostBegin) * ac >=
               static_cast<double>(c->hostBegin - a->hostBegin) * ab;
    };
    std::vector<const SwitchNote*> hull;
    for (const SwitchNote* note : stream) {
        if (!hull.empty() && note->position <= hull.back()->position) continue;
        while (hull.size() >= 2 && below(hull[hull.size() - 2], hull.back(), note))
            hull.pop_back();
        hull.push_back(note);
    }
    if (hull.size() < 2) return std::nullopt;
    // Across the middle, from the hull's last corner in the first quarter of the stream to
    // its first one in the last quarter: as far apart as the hull allows there.
    const int64_t first = stream.front()->position, span = stream.back()->position - first;
    size_t from = 0, to = hull.size() - 1;
    while (from + 1 < hull.size() && hull[from + 1]->position - first <= span / 4)
        ++from;
    while (to > from + 1 && hull[to - 1]->position - first >= span - span / 4)
        --to;
    const int64_t nanos = hull[to]->hostBegin - hull[from]->hostBegin;
    if (nanos <= 0) return std::nullopt;
    return static_cast<double>(hull[to]->position - hull[from]->position) * 1e9 / static_cast<double>(nanos);
}

std::string runFault(const RunTrace& run, uint32_t wanted, bool exactSteps) {
    if (run.createStatus != ASE_OK) return "createBuffers answered " + statusText(run.createStatus);
    if (run.nullBuffer) return "createBuffers answered 0 but left a buffer null";
    if (run.startStatus != ASE_OK) return "start answered " + statusText(run.startStatus);
    if (run.notes.size() < wanted)
        return run.notes.empty()
                   ? "no switch within " + secondsText(run.waited)
                   : counted(run.notes.size(), "switch", "switches") + " within " + secondsText(run.waited);
    const SwitchFindings found = examineSwitches(run.notes, run.size);
    if (!found.positionFault.empty()) return found.positionFault;
    if (exactSteps) return found.stepFault;
    for (size_t i = 1; i < run.notes.size(); ++i)
        if (run.notes[i].set == run.notes[i - 1].set && run.notes[i].position <= run.notes[i - 1].position)
            return "the positions did not advance at " + switchText(i) + " (" +
                   std::to_string(run.notes[i - 1].position) + " to " +
                   std::to_string(run.notes[i].position) + ")";
    return {};
}

Outcome judgeStartStop(const StartStopObservation& seen) {
    if (seen.createStatus != ASE_OK) return failed("createBuffers answered " + statusText(seen.createStatus));
    Findings findings;
    double firstDelay = 0, longestStop = 0, longestStart = 0;
    for (size_t i = 0; i < seen.cycles.size(); ++i) {
        const StartStopCycle& cycle = seen.cycles[i];
        const std::string which = "cycle " + std::to_string(i + 1) + ": ";
        if (cycle.startStatus != ASE_OK) {
            findings.fault(which + "start answered " + statusText(cycle.startStatus));
            continue;
        }
        // Counted from start's return: a start that takes its time is a finding of its own.
        const double startTook = cycle.startReturnedAt - cycle.startCalledAt;
        if (startTook > longestStart) longestStart = startTook;
        if (startTook > slowCallSeconds)
            findings.warning(which + "start took " + secondsText(startTook) + " (a host waits for it)");
        if (!cycle.firstSwitchAt || *cycle.firstSwitchAt - cycle.startReturnedAt > 1.0)
            findings.fault(which + "no switch within 1 s of start's return");
        else if (cycle.switchesRunning < startStopSwitches)
            // A switch from inside start and then silence is no stream.
            findings.fault(which +
                           (cycle.switchesRunning == 0
                                ? std::string("no switch")
                                : counted(cycle.switchesRunning, "switch", "switches")) +
                           " in the " + secondsText(cycle.ranFor) + " after start returned");
        else if (i == 0)
            firstDelay = std::max(0.0, *cycle.firstSwitchAt - cycle.startReturnedAt);
        if (cycle.stopStatus != ASE_OK)
            findings.fault(which + "stop answered " + statusText(cycle.stopStatus));
        if (cycle.insideAtStop > 0)
            findings.fault(which + "stop returned at " + secondsText(cycle.stopReturnedAt) + " while " +
                           counted(cycle.insideAtStop, "callback was", "callbacks were") +
                           " still inside (returned " + millisecondsText(cycle.insideFor) + " later)");
        if (cycle.switchesAfterStop > 0)
            findings.fault(which + "stop returned at " + secondsText(cycle.stopReturnedAt) + ", " +
                           counted(cycle.switchesAfterStop, "callback", "callbacks") + " began after it");
        if (cycle.positionStatus == ASE_OK && cycle.positionLater != cycle.positionAfterStop)
            findings.fault(which + "the position moved from " + std::to_string(cycle.positionAfterStop) +
                           " to " + std::to_string(cycle.positionLater) + " after stop");
        if (cycle.stopTook > slowCallSeconds)
            findings.warning(which + "stop took " + secondsText(cycle.stopTook) + " (a host waits for it)");
        if (cycle.stopTook > longestStop) longestStop = cycle.stopTook;
    }
    if (seen.switchesDuringCreate > 0)
        findings.warning(counted(seen.switchesDuringCreate, "callback", "callbacks") +
                         " came during createBuffers (hosts that hold a lock there hang)");
    return findings.outcome(std::to_string(seen.cycles.size()) + " start/stop cycles: start took at most " +
                            millisecondsText(longestStart) + ", first switch " +
                            millisecondsText(firstDelay) + " after it returned, stop took at most " +
                            millisecondsText(longestStop) +
                            ", nothing was inside or began after it; positions stood still");
}

Outcome judgeCallOrder(const CallOrderObservation& seen) {
    Findings findings;
    if (seen.startWithoutBuffers == ASE_OK) findings.fault("start without buffers answered 0 (success)");
    if (seen.createAfterThose != ASE_OK)
        findings.fault("after start and disposeBuffers without buffers, createBuffers answered " +
                       statusText(seen.createAfterThose));
    else if (seen.start != ASE_OK)
        findings.fault("after stop when stopped, start answered " + statusText(seen.start));
    else {
        const std::string fault = runFault(seen.runAfterDoubleStart, 3, true);
        const SwitchFindings found =
            examineSwitches(seen.runAfterDoubleStart.notes, seen.runAfterDoubleStart.size);
        if (!fault.empty())
            findings.fault("after start when started: " + fault);
        else if (found.overlaps > 0)
            findings.fault("after start when started: " + counted(found.overlaps, "switch", "switches") +
                           " overlapped another");
        if (seen.stop != ASE_OK)
            findings.fault("stop after start when started answered " + statusText(seen.stop));
        if (seen.createAgain != ASE_OK)
            findings.fault("after disposeBuffers twice, createBuffers answered " +
                           statusText(seen.createAgain));
    }
    return findings.outcome(
        "start without buffers refused (" + statusText(seen.startWithoutBuffers) + "); stop when stopped (" +
        statusText(seen.stopWhenStopped) + "), start when started (" + statusText(seen.startWhenStarted) +
        "), dispose without buffers (" + statusText(seen.disposeWithoutBuffers) + ") did no harm");
}

Outcome judgeDisposeRunning(const DisposeRunningObservation& seen) {
    const std::string fault = runFault(seen.run, 2, false);
    if (!fault.empty()) return failed("before disposeBuffers: " + fault);
    if (seen.dispose == ASE_OK) {
        if (seen.switchesAfter > 0)
            return failed("disposeBuffers while running answered 0, " +
                          counted(seen.switchesAfter, "callback", "callbacks") + " began after it returned");
        return passed("disposeBuffers while running stopped the stream first; nothing came after it");
    }
    if (seen.stopAfter != ASE_OK)
        return failed("after disposeBuffers was refused, stop answered " + statusText(seen.stopAfter));
    if (seen.disposeAfter != ASE_OK)
        return failed("after disposeBuffers was refused and stop, disposeBuffers answered " +
                      statusText(seen.disposeAfter));
    return passed("disposeBuffers while running was refused (" + statusText(seen.dispose) +
                  "); stop, then disposeBuffers worked");
}

Outcome judgeReleaseRunning(const ReleaseRunningObservation& seen) {
    const std::string fault = runFault(seen.run, 2, false);
    if (!fault.empty()) return failed("before the last Release: " + fault);
    if (seen.callbacksAfter > 0)
        return warned(counted(seen.callbacksAfter, "callback", "callbacks") + " came in the " +
                      secondsText(seen.watched) + " after the last Release returned");
    return passed("the last Release while running ended the stream; nothing came in the " +
                  secondsText(seen.watched) + " after it");
}

namespace {

// "rate 48110.58 Hz, +2304 ppm off 48000 Hz"
std::string paceText(const StreamRate& rate, double reported) {
    char text[160];
    std::snprintf(text, sizeof text, "rate %.2f Hz, %+.0f ppm off %s Hz", rate.measured, rate.errorPpm,
                  rateText(reported).c_str());
    return text;
}

} // namespace

bool rateWithinLimit(const StreamRate& rate) {
    return std::fabs(rate.errorPpm) <= measure::rateErrorForgivenPpm;
}

Outcome judgeSwitchSequence(const SwitchSequenceObservation& seen) {
    const RunTrace& run = seen.run;
    const std::string fault = runFault(run, 3, false);
    if (!fault.empty()) return failed(fault);
    const SwitchFindings found = examineSwitches(run.notes, run.size);
    Findings findings;
    if (!found.halfFault.empty()) findings.fault(found.halfFault);
    if (found.overlaps > 0)
        findings.fault(counted(found.overlaps, "switch", "switches") + " overlapped another");
    if (!found.stepFault.empty()) findings.fault(found.stepFault);
    if (!found.timeFault.empty()) findings.fault(found.timeFault);
    if (const auto advance = found.systemTimeAdvance) {
        // A real clock keeps the host's pace to far better than this; 10 % leaves room for
        // a driver that stamps its switches coarsely (a millisecond clock).
        const double pace = static_cast<double>(advance->first) / static_cast<double>(advance->second);
        if (pace < 0.9 || pace > 1.1) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the driver's system time advanced %.3f ms while the host's clock advanced %.3f ms",
                          static_cast<double>(advance->first) / 1e6,
                          static_cast<double>(advance->second) / 1e6);
            findings.fault(text);
        }
    }
    const double period = seen.rate > 0 ? run.size / seen.rate : 0;
    char figures[200];
    std::snprintf(figures, sizeof figures, "mean interval %.3f ms (period %.3f ms)",
                  found.meanInterval * 1000.0, period * 1000.0);
    std::string pace = "the rate could not be measured";
    if (const std::optional<StreamRate> rate = streamRate(run.notes, run.size, seen.rate)) {
        pace = paceText(*rate, seen.rate);
        if (!rateWithinLimit(*rate)) {
            const std::optional<StreamRate> again =
                seen.again ? streamRate(seen.again->notes, seen.again->size, seen.rate) : std::nullopt;
            const std::string second =
                again ? "; measured again: " + paceText(*again, seen.rate) : std::string();
            if (again && rateWithinLimit(*again)) {
                pace = paceText(*again, seen.rate) + " (measured again: first " + pace + ")";
            } else {
                char limit[64];
                std::snprintf(limit, sizeof limit, " (at most %.0f allowed)", measure::rateErrorForgivenPpm);
                findings.fault(pace + limit + second);
            }
        }
    } else if (found.longestEnd - found.longestBegin < run.notes.size()) {
        // The driver's reset requests cut the run short: their own judgement says so.
        pace += " between resets";
    } else if (!findings.anyFault()) {
        // Nothing else broke the positions: the stream did not run long enough to tell.
        findings.fault(pace + ": " + counted(found.switches, "switch", "switches") + " in " +
                       secondsText(run.waited));
    }
    return findings.outcome(counted(found.switches, "switch", "switches") + " in " + secondsText(run.waited) +
                            " from " + counted(static_cast<uint64_t>(found.threads), "thread", "threads") +
                            ": halves alternate, positions step by " + std::to_string(run.size) + ", " +
                            figures + ", " + pace);
}

Outcome judgeSamplePosition(const SamplePositionObservation& seen) {
    Findings findings;
    std::string before;
    const PositionRead& first = seen.beforeStart;
    const PositionRead& later = seen.beforeStartLater;
    if (first.status != ASE_OK || later.status != ASE_OK) {
        before = "refused (" + statusText(first.status != ASE_OK ? first.status : later.status) + ")";
    } else if (later.position != first.position) {
        findings.fault("before start the position moved from " + std::to_string(first.position) + " to " +
                       std::to_string(later.position));
    } else {
        before = "stood still at " + std::to_string(first.position);
    }
    const std::string fault = runFault(seen.run, 2, false);
    if (!fault.empty()) return failed(fault);
    int64_t farthest = 0;
    for (const PositionRead& read : seen.running) {
        if (read.status != ASE_OK) {
            findings.fault("getSamplePosition while running answered " + statusText(read.status));
            break;
        }
        if (!read.lastBefore || !read.lastAfter) continue;
        const int64_t reach = 2 * static_cast<int64_t>(seen.size);
        if (read.position < *read.lastBefore - reach || read.position > *read.lastAfter + reach) {
            findings.fault("getSamplePosition while running gave " + std::to_string(read.position) +
                           ", the last callback " + std::to_string(*read.lastAfter));
            break;
        }
        const int64_t distance = std::llabs(read.position - *read.lastAfter);
        if (distance > farthest) farthest = distance;
    }
    return findings.outcome("before start: " + before + "; while running, " +
                            counted(seen.running.size(), "read", "reads") + " from the host thread within " +
                            std::to_string(farthest) + " samples of the last callback's");
}

Outcome judgeTimeInfo(const TimeInfoObservation& seen) {
    const std::string fault = runFault(seen.run, 3, false);
    if (!fault.empty()) return failed(fault);
    const SwitchFindings found = examineSwitches(seen.run.notes, seen.run.size);
    const bool saysCan = seen.canTimeInfo == ASE_SUCCESS || seen.canTimeInfo == ASE_OK;
    const bool usesTimeInfo = found.timeInfoSwitches > 0;
    const std::string answer = "kAsioCanTimeInfo answered " + statusText(seen.canTimeInfo);
    Findings findings;
    if (usesTimeInfo && !saysCan) findings.fault("calls bufferSwitchTimeInfo, but " + answer);
    if (!usesTimeInfo && saysCan) findings.fault("calls bufferSwitch with time info offered, but " + answer);
    if (found.nullRecords > 0)
        findings.fault(counted(found.nullRecords, "time record was", "time records were") + " null");
    uint32_t rateFlagged = 0;
    for (const SwitchNote& note : seen.run.notes) {
        if (!note.timeInfo || note.nullRecord) continue;
        const uint32_t wanted = kSamplePositionValid | kSystemTimeValid;
        if ((note.recordFlags & wanted) != wanted) {
            findings.fault("a time record flagged " + std::to_string(note.recordFlags) +
                           ": sample position and system time not both valid");
            break;
        }
        // The rate means something only where the record flags it valid.
        if ((note.recordFlags & kSampleRateValid) == 0) continue;
        ++rateFlagged;
        if (seen.rateStatus == ASE_OK && note.recordRate != seen.rate) {
            findings.fault("a time record flagged its rate valid and gave " + rateText(note.recordRate) +
                           " Hz, getSampleRate " + rateText(seen.rate) + " Hz");
            break;
        }
    }
    if (!usesTimeInfo) return findings.outcome("calls bufferSwitch, and " + answer);
    const std::string rate =
        rateFlagged > 0 ? "at " + rateText(seen.rate) + " Hz" : "their rate not flagged valid";
    return findings.outcome(counted(found.timeInfoSwitches, "time record", "time records") +
                            " with valid position and system time, " + rate + "; " + answer);
}

Outcome judgeOutputReady(const OutputReadyObservation& seen) {
    if (seen.wanted != ASE_OK) return passed("not wanted: outputReady answered " + statusText(seen.wanted));
    const std::string fault = runFault(seen.run, 3, true);
    if (!fault.empty()) return failed("with outputReady after every switch: " + fault);
    if (seen.stop != ASE_OK)
        return failed("stop after a switch whose outputReady never came answered " + statusText(seen.stop));
    if (seen.stopTook > 1.0)
        return failed("stop after a switch whose outputReady never came took " + secondsText(seen.stopTook));
    return passed("wanted; " + counted(seen.run.notes.size(), "switch", "switches") +
                  " with outputReady after each ran clean; stop after " +
                  counted(seen.withheld, "switch", "switches") + " without it returned in " +
                  millisecondsText(seen.stopTook));
}

} // namespace conform
