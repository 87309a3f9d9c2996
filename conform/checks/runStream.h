// The stretch of stream most checks need: buffers, start, some switches, stop.
#pragma once

#include <cstdint>
#include <vector>

#include "conform/driverSession.h"
#include "conform/judge/stream.h"

namespace conform {

// How long to wait for `switches` buffer switches of `size` samples: one second for the
// stream to begin, and the switches' own time at the driver's rate.
double switchWait(DriverSession& session, int32_t size, uint32_t switches);

// Starts the buffers that exist and waits for `wanted` switches; the trace gets the
// start's status and the switches since `mark` (a noteMark() taken before the start).
void startAndCollect(DriverSession& session, RunTrace& trace, uint32_t wanted);

// createBuffers for the request, start, `wanted` switches, stop, and disposeBuffers
// unless `keepBuffers`.
RunTrace runStream(DriverSession& session, const BufferRequest& request, uint32_t wanted,
                   bool keepBuffers = false);
RunTrace runStream(DriverSession& session, const std::vector<ChannelPick>& channels, int32_t size,
                   uint32_t wanted, bool keepBuffers = false);

} // namespace conform
