// A measured run guarded by a parent process. The run itself happens in a child (this
// program started again with the same switches and /supervised), which prints, reads
// SPACE and writes its reports exactly as a run on its own would. The parent waits:
// when the child ends by itself, the parent ends with its exit status; when the driver
// crashes the child, or a driver call gets no answer within the /timeout limit (the
// parent then kills the child), the parent says so naming the call, writes the JSON
// report from what the child had told it, makes a recording being written readable,
// restores the terminal and ends with 1, the driver's fault; a failure of this program's
// own code is said as such and ends with 2. A signal the parent receives alone is passed
// on to the child; however many come, the parent ends only with the child (which dies
// with it), and a child a repeated Ctrl+C ended outright was interrupted.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/telTypes.h"
#include "measure/verdict.h"
#include "report/reportData.h"

// Whether the command line asks for a supervised run: a measuring run (/seconds, /json,
// /latency, /record, /sweep, /html, /metrics, /junit) that is not itself the child, not
// /isolate=no, not the suite, /list, /probe, /help or every driver in turn (/index=all).
// Read from the switches alone, before anything is printed.
bool wantsSupervision();

// Runs the measured run in a child and supervises it; returns the exit status.
int runSupervised();

// ------------------------------------------------ one supervised child, for its users

// What became of one supervised child.
struct supervisedOutcome {
    bool started = false; // the child could be started at all
    int exitCode = 0;     // the child's own, when it ended by itself
    std::string
        failureLine; // the crash or hang that ended it ("The run ended: ..."); empty when it ended by itself
    // The run was ended by a failure of this program's own code ("echoprobe failed: ..."),
    // never the driver's: the verdict is error.
    bool toolFailed = false;
    // The interrupt that ended the child outright (a third Ctrl+C): the run was stopped,
    // interrupted by that signal; 0 otherwise.
    int stopSignal = 0;
    bool ending = false;                     // the child was done and its process ending
    bool driverStarted = false;              // the child had started the driver
    std::optional<nlohmann::json> told;      // the child's JSON document as far as it told it
    std::optional<nlohmann::json> recording; // the recording's facts, for a file this parent had to close
    // How far the run got, as the child last told it: which setting of a sweep ran, when
    // the driver (or that setting) started, the seconds and switches counted by then, and
    // the timing plots' data gathered so far (with /html). On a crash or hang, `failureAt`
    // says when the run ended: the document's key of that name.
    struct progress {
        double seconds = 0;
        uint64_t switches = 0;
        std::chrono::steady_clock::time_point toldAt;
    };
    std::optional<nlohmann::json> setting;
    std::optional<std::chrono::steady_clock::time_point> startedAt;
    std::optional<progress> measured;
    std::shared_ptr<report::TimingData> timing;
    nlohmann::json failureAt;

    // The run's verdict: the child's own; fail for a crash or a hang (the driver's fault,
    // whenever it came); error for a failure of this program's own code; interrupted for
    // a child an interrupt ended outright.
    measure::VerdictWord verdictWord() const;
    // The run's JSON document: the child's, with the failure where the child could not finish.
    nlohmann::json document() const;
};

// Starts this program again with `arguments` (and /supervised) and supervises it with
// `timeLimitSeconds` per driver call: a call of the child's host thread that has not
// returned within the limit hangs, whatever other threads call meanwhile, and so does
// the child's exit once it is done (the driver's unloading). A crash or hang is printed
// where the child's output stopped; a recording at `recordPath` the child was writing is
// made readable.
supervisedOutcome superviseRun(std::vector<telText> arguments, int32_t timeLimitSeconds,
                               const std::optional<telText>& recordPath);

// The /timeout limit as the options read it; the default where it is missing or wrong.
int32_t supervisedTimeLimit();
