// What one class of the hostile run driver does wrong, read from the values under its
// class key (HKEY_CLASSES_ROOT\CLSID\{clsid}) when an object is made. Every value is
// optional; without any the driver is a plain, well-behaved 2-in 2-out device whose
// inputs return its outputs one buffer later. README.md lists them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com.h"

namespace hostile {

struct Settings {
    std::string name = "Hostile Run";
    int32_t inputs = 2, outputs = 2;
    int32_t buffer = 256;  // the one size it takes
    double rate = 48000;   // the one rate it runs at
    bool timeInfo = false; // bufferSwitchTimeInfo when the host takes it

    // Pacing. creepPermille > 0: each switch comes that much of a period later than the
    // one before, by the driver's own timer, until it is catchUpBuffers behind its clock;
    // then it delivers what is due back to back.
    int32_t creepPermille = 0;
    int32_t catchUpBuffers = 2;
    // From switch paceFrom on, the switches are paced at paceRate (Hz) while the driver
    // still reports `rate`; 0: off.
    int32_t paceFrom = -1;
    double paceRate = 0;

    // tickUs > 0: a switch comes at the first tick of this many microseconds (from the
    // start) at or after it is due, as a device that moves data in fixed frames.
    int32_t tickUs = 0;

    // Threads that deliver the switches in turn; outputReadyHoldUs: outputReady keeps
    // the host that long (so a switch may come while the one before is still inside).
    int32_t threads = 1;
    int32_t outputReadyHoldUs = 0;
    // getSamplePosition busy for this long.
    int32_t positionCallUs = 0;

    // stop answers at once and this many switches still come after it.
    int32_t switchesAfterStop = 0;

    // Positions: the first switch's, and kept in this many bits (32: they wrap at 2^32).
    int64_t firstPosition = 0;
    int32_t positionBits = 64;

    // start succeeds and no switch ever comes.
    bool silent = false;

    // Every staleEvery-th input block is the one before it again (a stale buffer).
    int32_t staleEvery = 0;

    // The createBuffers call of this number (from 1 over the object's life) answers
    // ASE_NotPresent, as a device that sometimes fails to come up again; 0: none.
    int32_t failCreateAt = 0;
};

Settings loadSettings(const plat::Guid& clsid);

} // namespace hostile
