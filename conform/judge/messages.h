// Judging the conversation around the stream: the driver's optional features
// (future-selectors), the messages it asks about and sends (host-messages), the host's
// full reaction to a reset request (reset-cycle) and the control panel (control-panel).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "conform/judge/stream.h"

namespace conform {

struct SelectorAnswer {
    int32_t selector = 0;
    ASIOError answer = ASE_OK;
};

// The "can" queries of `future`, which take no argument and change nothing, by name.
const std::vector<std::pair<int32_t, const char*>>& canQueries();
// Selectors no driver knows.
const std::vector<int32_t>& unknownSelectors();

struct FutureSelectorsObservation {
    std::vector<SelectorAnswer> canQueries;
    std::vector<SelectorAnswer> unknown;
};

// Every can-query answers success, not present or invalid parameter; no unknown
// selector is answered with success.
Outcome judgeFutureSelectors(const FutureSelectorsObservation& seen);

struct HostMessagesObservation {
    std::vector<int32_t> asked;                     // selectors asked about with kAsioSelectorSupported
    std::vector<std::pair<int32_t, uint32_t>> sent; // messages sent, with their counts
    RunTrace fullHost;                              // a run with a host that answers as hosts do
    RunTrace minimalHost;                           // and with one that answers no to everything
};

// Detail only, unless the driver breaks on the host's answers: both runs must run, and
// with the host that answers no (to kAsioSupportsTimeInfo too) through bufferSwitch.
Outcome judgeHostMessages(const HostMessagesObservation& seen);

struct ResetRound {
    std::string failedStep; // "" when every step worked
    ASIOError status = ASE_OK;
    RunTrace run; // the run after the round's start
};

struct ResetCycleObservation {
    RunTrace first;
    std::vector<ResetRound> rounds;
};

// Each round of stop, disposeBuffers, Release, create, init, createBuffers and start
// works, and the driver runs every time.
Outcome judgeResetCycle(const ResetCycleObservation& seen);

// A check's outcome with the reset requests the host honoured during it. No check
// changes anything a driver would need a reset for while its callbacks are live, so each
// request came without a cause: one warns (a pass becomes a warning), a second fails the
// check, since the driver asked again after the host's full reset and never settled.
Outcome judgeResetRequests(const Outcome& outcome, int honoured);

struct ControlPanelObservation {
    bool skipped = false; // /skipcp
    ASIOError status = ASE_OK;
    double took = 0;
};

// Whether and when the panel call returned; a hang is failed by the supervisor.
Outcome judgeControlPanel(const ControlPanelObservation& seen);

// A driver message by name: "resetRequest", "selector 99".
std::string messageName(int32_t selector);

} // namespace conform
