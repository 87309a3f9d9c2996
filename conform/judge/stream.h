// Judging the stream: what the buffer switches of a run show, and the checks that start,
// stop and tear down a running driver (start-stop, call-order, dispose-running,
// release-running, switch-sequence, sample-position, time-info, output-ready).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "asio/asioTypes.h"
#include "conform/callbackLog.h"
#include "conform/outcome.h"

namespace conform {

// One stretch of a stream as the host saw it, from createBuffers to stop.
struct RunTrace {
    int32_t size = 0;
    ASIOError createStatus = ASE_OK;
    bool nullBuffer = false; // createBuffers succeeded but left a buffer pointer null
    ASIOError startStatus = ASE_OK;
    std::vector<SwitchNote> notes; // the run's buffer switches
    double waited = 0;             // seconds the host waited for them
};

// What a run's switches show. Each fault text names the switch, counted from 0.
struct SwitchFindings {
    uint32_t switches = 0;
    std::string halfFault;     // a half other than 0 or 1, or one that does not alternate
    std::string positionFault; // a switch without a position
    std::string stepFault;     // a step other than one buffer
    std::string timeFault;     // a system time that went back
    uint32_t overlaps = 0;     // switches that began while another was inside
    // Seconds between switch starts, as the least-squares slope of the starts over the
    // switch numbers, so one late switch at either end hardly moves it; 0 with fewer than two.
    double meanInterval = 0;
    int threads = 0; // threads that called back
    uint32_t timeInfoSwitches = 0, nullRecords = 0;
    size_t longestBegin = 0, longestEnd = 0; // the notes of the longest stream
    // How far the driver's system time and the host's clock advanced across the longest
    // stream, in nanoseconds, between two switches the machine did not hold up (those
    // whose arrival lagged the driver's stamp least, one early in the stream and one
    // late): a driver's clock in other units, or frozen, advances at another pace.
    // Empty when the stream gave too few system times, or too short a stretch, to tell.
    std::optional<std::pair<int64_t, int64_t>> systemTimeAdvance; // {driver's, host's}
};
SwitchFindings examineSwitches(const std::vector<SwitchNote>& notes, int32_t size);

// The rate the positions of the notes' longest stream advanced at against the host's
// clock, fitted as a measured run fits it (measure::SwitchTiming), and its error
// against `rate`; empty when the stream was too short or broken to fit.
struct StreamRate {
    double measured = 0;
    double errorPpm = 0;
};
std::optional<StreamRate> streamRate(const std::vector<SwitchNote>& notes, int32_t size, double rate);

// The samples a second the positions of the notes' longest stream advanced at against
// the host's clock, for a stretch too short to fit: the slope of the lower hull of the
// arrivals over the positions, from its corner in the first quarter to the last quarter. A switch is never
// early, only late, so switches the machine held up (late ones, a stall of half the stream and the catching
// up after it) lie above that hull and do not move it. Empty with fewer than four switches with positions, or
// none apart in time.
std::optional<double> positionPace(const std::vector<SwitchNote>& notes);

// "" when the run was created, started and brought at least `wanted` switches whose
// positions step by exactly one buffer (`exactSteps`) or at least advance; otherwise
// what went wrong ("createBuffers answered InvalidMode (-997)", "1 switch within 1.000 s").
std::string runFault(const RunTrace& run, uint32_t wanted, bool exactSteps);

struct StartStopCycle {
    ASIOError startStatus = ASE_OK;
    double startCalledAt = 0; // seconds since the check began
    double startReturnedAt = 0;
    std::optional<double> firstSwitchAt; // the cycle's first switch
    // Switches that began after start returned and before stop was called, and how long
    // that was: a stream that runs, not one switch flushed from inside start.
    uint32_t switchesRunning = 0;
    double ranFor = 0;
    ASIOError stopStatus = ASE_OK;
    double stopReturnedAt = 0;
    double stopTook = 0;
    uint32_t insideAtStop = 0;         // switches begun before stop returned that had not returned yet
    double insideFor = 0;              // how long after stop returned the last of them returned
    uint32_t switchesAfterStop = 0;    // switches that began after stop returned
    ASIOError positionStatus = ASE_OK; // getSamplePosition after stop, twice
    int64_t positionAfterStop = 0, positionLater = 0;
};

struct StartStopObservation {
    ASIOError createStatus = ASE_OK;
    uint32_t switchesDuringCreate = 0; // callbacks before createBuffers returned
    std::vector<StartStopCycle> cycles;
};

// Calls a host makes from its window's thread that take longer than this freeze it
// noticeably: a start or stop that slow warns.
inline constexpr double slowCallSeconds = 2.0;

// Switches a start/stop cycle waits for, and how many of them must come after start
// returned.
inline constexpr uint32_t startStopWanted = 5;
inline constexpr uint32_t startStopSwitches = 3;

// The first callback within a second of start's return (callbacks before it returns
// are allowed) and the stream going on after it (at least startStopSwitches switches
// after start returned); stop succeeds; no callback is still inside when stop returns, and none
// begins after; positions stand still after stop; every cycle alike. Callbacks during
// createBuffers, and a start or stop that takes longer than slowCallSeconds, warn.
Outcome judgeStartStop(const StartStopObservation& seen);

struct CallOrderObservation {
    ASIOError startWithoutBuffers = ASE_NotPresent;
    ASIOError disposeWithoutBuffers = ASE_InvalidMode;
    ASIOError createAfterThose = ASE_OK;
    ASIOError stopWhenStopped = ASE_OK;
    ASIOError start = ASE_OK;
    ASIOError startWhenStarted = ASE_InvalidMode;
    RunTrace runAfterDoubleStart; // switches after the second start
    ASIOError stop = ASE_OK;
    ASIOError stopAgain = ASE_OK;
    ASIOError dispose = ASE_OK;
    ASIOError disposeAgain = ASE_InvalidMode;
    ASIOError createAgain = ASE_OK;
};

// start without buffers is refused; stop when stopped, start when started and dispose
// without buffers may answer anything but harm nothing: what follows each still works.
Outcome judgeCallOrder(const CallOrderObservation& seen);

struct DisposeRunningObservation {
    RunTrace run; // before disposeBuffers
    ASIOError dispose = ASE_OK;
    uint32_t switchesAfter = 0; // switches that began after disposeBuffers returned
    // When it was refused: stop and disposeBuffers after it.
    ASIOError stopAfter = ASE_OK;
    ASIOError disposeAfter = ASE_OK;
};

// disposeBuffers while running is refused, or the driver stops first: no callback after
// it returned.
Outcome judgeDisposeRunning(const DisposeRunningObservation& seen);

struct ReleaseRunningObservation {
    RunTrace run;                // before the last Release
    uint32_t callbacksAfter = 0; // callbacks of any kind after it returned
    double watched = 0;          // seconds they were watched for
};

// The last Release while running: callbacks after it returned warn (a careless host
// survives a driver that ends its stream there); a crash fails in the supervisor.
Outcome judgeReleaseRunning(const ReleaseRunningObservation& seen);

struct SwitchSequenceObservation {
    RunTrace run;
    double rate = 0; // getSampleRate before start
    // The same stream's switches of a second stretch as long, taken when the run's rate
    // was off: a stall of the machine can bend a fit this short, a wrong clock is off in
    // both.
    std::optional<RunTrace> again;
};

// Whether a rate error is within the measured run's limit.
bool rateWithinLimit(const StreamRate& rate);

// Over the run: halves alternate 0/1, no switch overlaps another, positions step by
// exactly one buffer, the system time never goes back, and the rate the positions
// advance at is the reported one within the measured run's limit (1000 ppm), in the run
// or, when it was off there, in the stretch measured again.
Outcome judgeSwitchSequence(const SwitchSequenceObservation& seen);

struct PositionRead {
    ASIOError status = ASE_OK;
    int64_t position = 0;
    // The position of the last switch just before the read and just after it: a host
    // thread held up between them must not be taken for a driver that lags.
    std::optional<int64_t> lastBefore, lastAfter;
};

struct SamplePositionObservation {
    int32_t size = 0;
    PositionRead beforeStart, beforeStartLater; // after createBuffers, some periods apart
    RunTrace run;
    std::vector<PositionRead> running; // from the host thread while the stream runs
};

// Before start: refused ("not advancing") or a position that stands still; while
// running, from another thread: success and a position within two buffers of the last
// callback's.
Outcome judgeSamplePosition(const SamplePositionObservation& seen);

struct TimeInfoObservation {
    ASIOError canTimeInfo = ASE_OK; // future(kAsioCanTimeInfo)
    ASIOError rateStatus = ASE_OK;
    double rate = 0; // getSampleRate before start
    RunTrace run;    // with time info offered
};

// With time info offered: non-null records flagged with valid position and system
// time, and where a record flags its rate valid, the rate getSampleRate reports;
// kAsioCanTimeInfo agrees with which callback the driver uses.
Outcome judgeTimeInfo(const TimeInfoObservation& seen);

struct OutputReadyObservation {
    ASIOError wanted = ASE_NotPresent; // outputReady asked after createBuffers
    RunTrace run;                      // with outputReady after every switch
    uint32_t withheld = 0;             // switches whose outputReady never came before stop
    ASIOError stop = ASE_OK;
    double stopTook = 0;
};

// A driver that wants outputReady runs clean when it comes after every switch, and a
// stop right after a switch whose outputReady never came returns within a second.
Outcome judgeOutputReady(const OutputReadyObservation& seen);

} // namespace conform
