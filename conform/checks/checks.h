// The checks, one function each; the table in conform/checkList.cpp names them.
#pragma once

#include "conform/checkContext.h"

namespace conform {

Outcome checkCreateRelease(CheckContext& context);
Outcome checkFigures(CheckContext& context);
Outcome checkChannelInfo(CheckContext& context);
Outcome checkSampleRates(CheckContext& context);
Outcome checkSetSampleRate(CheckContext& context);
Outcome checkClockSources(CheckContext& context);
Outcome checkBufferSizes(CheckContext& context);
Outcome checkLatencyReport(CheckContext& context);
Outcome checkChannelSubsets(CheckContext& context);
Outcome checkCreateTwice(CheckContext& context);
Outcome checkBadCreate(CheckContext& context);
Outcome checkStartStop(CheckContext& context);
Outcome checkCallOrder(CheckContext& context);
Outcome checkDisposeRunning(CheckContext& context);
Outcome checkReleaseRunning(CheckContext& context);
Outcome checkSwitchSequence(CheckContext& context);
Outcome checkSamplePosition(CheckContext& context);
Outcome checkTimeInfo(CheckContext& context);
Outcome checkFutureSelectors(CheckContext& context);
Outcome checkOutputReady(CheckContext& context);
Outcome checkHostMessages(CheckContext& context);
Outcome checkResetCycle(CheckContext& context);
Outcome checkControlPanel(CheckContext& context);

} // namespace conform
