// Process-wide settings of the log output, shared by its configuration, its sinks and
// the module's start-up and shutdown. Used on the main thread only, without a lock.
#pragma once

#include "util/telUtils.h"

struct telLogState {
    int32_t defaultConsoleMode = 1;
    bool defaultLogToFile = true;
    telText fileName;
    // Held open on fileName while the file sink is active.
    plat::Handle fileHandle = plat::invalidHandle;
    int32_t defaultDateTimeMode = 1;
    bool defaultMemoryInfo = false;
    bool defaultThreadId = false;
    telMessageHook hook = nullptr;
    uint32_t messageMask = 3;
    bool universalTime = true;
    bool utf16File = false;
    bool stopped = false;
    // Start of the elapsed-time decoration.
    uint64_t lastMessageMark = 0;
    telLogTestSources testSources;

    bool fileSinkActive() const { return fileHandle != plat::invalidHandle && fileHandle != 0; }
    // Closes the log file handle if it is open and forgets it.
    void closeLogFile();
};

telLogState& logState();
