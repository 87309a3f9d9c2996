// The checks of the conversation around the stream: future-selectors, host-messages,
// reset-cycle and control-panel.
#include "conform/checks/checks.h"
#include "conform/checks/runStream.h"
#include "conform/judge/messages.h"

namespace conform {

namespace {

constexpr int resetRounds = 3;

} // namespace

Outcome checkFutureSelectors(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    FutureSelectorsObservation seen;
    for (const auto& query : canQueries())
        seen.canQueries.push_back({query.first, session.future(query.first, nullptr)});
    for (int32_t selector : unknownSelectors())
        seen.unknown.push_back({selector, session.future(selector, nullptr)});
    return judgeFutureSelectors(seen);
}

Outcome checkHostMessages(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    HostMessagesObservation seen;
    BufferRequest request{session.allChannels(), session.runSize(), {}};
    request.callbacks.callOutputReady = session.wantsOutputReady();
    seen.fullHost = runStream(session, request, 5);
    request.callbacks.answers = HostAnswers::minimal;
    seen.minimalHost = runStream(session, request, 5);
    const CallbackLog& log = callbackLog();
    for (int32_t selector = 1; selector < 64; ++selector) {
        if (log.asked(selector) > 0) seen.asked.push_back(selector);
        if (selector != kAsioSelectorSupported && log.messages(selector) > 0)
            seen.sent.emplace_back(selector, log.messages(selector));
    }
    if (log.messages(0) > 0) seen.sent.emplace_back(0, log.messages(0));
    return judgeHostMessages(seen);
}

Outcome checkResetCycle(CheckContext& context) {
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    ResetCycleObservation seen;
    const int32_t size = session.runSize();
    seen.first.size = size;
    seen.first.createStatus = session.createBuffers(session.allChannels(), size);
    if (seen.first.createStatus == ASE_OK) startAndCollect(session, seen.first, 3);
    if (!runFault(seen.first, 3, false).empty()) return judgeResetCycle(seen);
    for (int i = 0; i < resetRounds; ++i) {
        ResetRound round;
        round.run.size = size;
        const uint32_t mark = session.noteMark();
        const double began = session.now();
        round.failedStep = session.resetCycle(round.status);
        if (round.failedStep.empty()) {
            session.waitForSwitches(3, switchWait(session, size, 3));
            round.run.waited = session.now() - began;
            round.run.notes = session.notesSince(mark);
        }
        seen.rounds.push_back(round);
        if (!round.failedStep.empty() || !runFault(round.run, 3, false).empty()) break;
    }
    return judgeResetCycle(seen);
}

Outcome checkControlPanel(CheckContext& context) {
    ControlPanelObservation seen;
    seen.skipped = context.skipControlPanel;
    if (seen.skipped) return judgeControlPanel(seen);
    DriverSession session(context.clsid, &context.tally);
    Outcome failure;
    if (!context.open(session, failure)) return failure;
    const double began = session.now();
    seen.status = session.controlPanel();
    seen.took = session.now() - began;
    return judgeControlPanel(seen);
}

} // namespace conform
