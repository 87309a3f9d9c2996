// Start-up and shutdown of the utilities module, and the start-up check of the
// operating system's version.
#include "util/logState.h"

namespace {

int32_t useCount = 0;

} // namespace

void checkPlatform() {
    uint32_t major = 0;
    if (plat::osMajorVersion(major) && major < 5)
        messageBox(
            u"This code was compiled with no ANSI API support, and it seems that you are running the ANSI "
            u"version of Windows.\r\nThere could be some compatibility issues, so it is recommended that you "
            u"contact your software vendor to resolve this problem.",
            u"Incompatible OS version.", 16);
}

void telUtilsStartup() {
    if (atomicIncrement(useCount) != 1) return;
    // A module started again after a full shutdown prints again.
    logState().stopped = false;
    checkPlatform();
    // No log file, console output on, everything else as it was.
    configureLog(u"<none>", nullptr, 1, 0, 0, -1, -1, telFalse, -1);
    loadGroupSeparator();
}

void telUtilsShutdown() {
    if (useCount <= 0 || atomicDecrement(useCount) != 0) return;
    telLogState& state = logState();
    state.stopped = true;
    state.fileName.clear();
    state.closeLogFile();
}
