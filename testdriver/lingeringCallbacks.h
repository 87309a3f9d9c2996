// The CallbackAfter fault: after a host let go of its callbacks (disposeBuffers returned,
// or the object's last Release destroyed it), a thread of the module goes on calling
// them for a while, as a careless driver does. The thread owns copies of everything it
// uses and never touches a driver object or its buffers.
//
// Every such thread is joined when the module is unloaded or the process exits. Native
// builds only: on Windows the only place to join is the module's detach, where waiting
// for a thread deadlocks, so there nothing is started.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"

namespace refdrv {

struct LingeringCalls {
    ASIOCallbacks callbacks{};
    bool useTimeInfo = false; // call bufferSwitchTimeInfo instead of bufferSwitch
    double sampleRate = 0.0;  // for the time-info record
    int32_t frames = 0;       // position step of the time-info record
    int32_t durationMs = 0;
};

// From about 1 ms on, every millisecond for `durationMs`: buffer switch k with half
// k mod 2 and, after every 10th, asioMessage(kAsioSelectorSupported, kAsioResetRequest).
// Nothing when no thread can be started or the duration is not positive.
void startLingeringCalls(const LingeringCalls& calls);

} // namespace refdrv
