// What one class of the hostile module does wrong, read from the values under its class
// key (HKEY_CLASSES_ROOT\CLSID\{clsid}); tests/hostile/suite/README.md lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

namespace hostile {

enum class Trick {
    rateIgnored,          // setSampleRate answers 0 and getSampleRate echoes it; the clock stays
    sharedBuffer,         // the last output is handed the first output's buffers
    shortBuffers,         // one block for every buffer half, each half only half as long as asked
    restartOnce,          // a start after a stop: one switch from inside start, then silence
    startPumps,           // start calls back on the caller's thread and never returns
    timeInfoAnyway,       // bufferSwitchTimeInfo whatever the host answered
    systemTimeMicros,     // system times in microseconds instead of nanoseconds
    callbackAfterDispose, // one more switch 10 ms after a stopped stream's disposeBuffers returned
    clockCountHuge,       // getClockSources says there are 1000 sources, whatever the room
    typeChanges,          // getChannelInfo's sample type changes once buffers exist
    oddNames,             // names with control characters, bytes that are no UTF-8 and U+FFFE
    slowCalls,            // every call takes SlowMs
    rateChangeStorm,      // sampleRateDidChange before every switch
    count
};

struct Tricks {
    std::vector<bool> on = std::vector<bool>(static_cast<size_t>(Trick::count), false);
    int32_t inputs = 2, outputs = 2;
    double rate = 48000; // the clock's rate at creation
    std::vector<double> rates{44100, 48000};
    int32_t bufferMin = 64, bufferMax = 512, bufferPreferred = 256, granularity = 1;
    bool timeInfo = false; // bufferSwitchTimeInfo when the host takes it
    int32_t slowMs = 0;

    bool has(Trick trick) const { return on[static_cast<size_t>(trick)]; }
};

// The class's values; a missing value keeps its default, an unknown trick name is ignored.
Tricks loadTricks(const plat::Guid& clsid);

// "{E0B0A001-...}" as the registry spells a class.
std::string classText(const plat::Guid& clsid);

} // namespace hostile
