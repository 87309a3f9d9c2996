// The call beacon: a block of memory a supervised child shares with its parent, in which
// the child's driver-call observer notes which driver call each of its threads is in.
// The child writes it with lock-free atomics only (no system call, no allocation, no
// lock: drivers are also called from inside their audio callbacks); the parent reads it
// while the child runs, and after the child died or passed its time limit, to name the
// call it crashed or hung in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asio/driverCall.h"

// Bytes of the block; share at least this many, zero-filled.
inline constexpr size_t callBeaconBytes = 1024;

// What the block says at one moment.
struct CallBeaconReading {
    bool valid = false;                           // the child has installed its beacon
    telDriverCall hostCall = telDriverCall::none; // the call the host thread is in (the innermost)
    // The host thread's outermost call: the one the host made that has not returned.
    telDriverCall hostOuterCall = telDriverCall::none;
    telDriverCall otherCall = telDriverCall::none; // a call some other thread is in (a callback thread)
    uint32_t callsBegun = 0;                       // driver calls begun so far: the child's progress
    // The host thread's progress: the driver calls it began outside any other and the
    // beats of its own waits (calls it makes from inside a call, from a callback the
    // driver made on it, are not: the outer call has not returned). While it stands
    // still the host thread is stuck, in hostCall or outside any.
    uint32_t hostProgress = 0;
    // Which call of the host thread `hostCall` belongs to: the count of calls begun when
    // the host thread entered its outermost call. While it stays the same, that one call
    // has not returned, whatever other threads call meanwhile.
    uint32_t hostCallSerial = 0;
};

// In the child: prepares `block` and makes it the driver-call observer's target; the
// calling thread counts as the host thread. nullptr removes the observer. Up to 16
// threads at once are followed, each up to four calls deep.
void installCallBeacon(void* block);

// In the child's host thread, while it waits outside any driver call (for switches, or
// for a while): it is still going. One relaxed store, no system call.
void beatCallBeacon();

// In the parent: what the block says now.
CallBeaconReading readCallBeacon(const void* block);
