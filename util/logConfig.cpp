// The log settings and configureLog, which changes them.
#include "util/logState.h"

telLogState& logState() {
    static telLogState state;
    return state;
}

void telLogState::closeLogFile() {
    if (fileSinkActive()) closeFileHandle(fileHandle);
    fileHandle = plat::invalidHandle;
}

telText configureLog(const telText& fileName, telMessageHook hook, int32_t consoleMode, int32_t logToFile,
                     int32_t dateTimeMode, int32_t memoryInfo, int32_t threadId, telBool utf16File,
                     int32_t universalTime) {
    telLogState& state = logState();

    // Name rules: blank means the program's own path with ".log"; "<none>" in any case
    // means no log file; "<>" keeps the current name (and reopens it).
    telText name = trimText(fileName, telTrue, telTrue);
    if (name.empty())
        name = moduleNameWithExt(u"log");
    else if (upperCaseText(name) == u"<NONE>")
        name.clear();
    else if (name == u"<>")
        name = state.fileName;
    state.fileName = name;

    // The held handle marks the file sink as active; lines go to name + ".nol". Without a
    // name the old handle is closed too, so the sink really stops.
    state.closeLogFile();
    if (!name.empty()) state.fileHandle = openFile(name, telFalse, telTrue, 0);

    if (logToFile != -1) state.defaultLogToFile = logToFile > 0;
    if (consoleMode != -1) state.defaultConsoleMode = consoleMode;
    if (hook != messageHookUnchanged) state.hook = hook;
    if (dateTimeMode != 0) state.defaultDateTimeMode = dateTimeMode;
    if (memoryInfo != -1) state.defaultMemoryInfo = memoryInfo > 0;
    if (threadId != -1) state.defaultThreadId = threadId > 0;
    state.utf16File = utf16File != 0;
    if (universalTime != -1) state.universalTime = universalTime != 0;
    state.lastMessageMark = timeMark();
    return name;
}

void setLogSourcesForTesting(const telLogTestSources& sources) {
    logState().testSources = sources;
}
