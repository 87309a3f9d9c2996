// Keyboard and interrupts on a Windows console.
//
// While prepared, a console control handler turns Ctrl+C and Ctrl+Break into an
// interrupt request instead of ending the process, so the run loop can end cleanly. A
// second event, once the first one is pending, goes on to the default handler, which
// ends the process: a program that no longer polls can still be stopped.
#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace plat {

namespace {

std::atomic<bool> interruptFlag{false}; // set on the system's handler thread
bool prepared = false;

BOOL WINAPI onControlEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    return interruptFlag.exchange(true) ? FALSE : TRUE;
}

} // namespace

void prepareConsole() {
    if (prepared) return;
    interruptFlag = false;
    prepared = SetConsoleCtrlHandler(onControlEvent, TRUE) != 0;
}

void restoreConsole() {
    if (!prepared) return;
    SetConsoleCtrlHandler(onControlEvent, FALSE);
    prepared = false;
}

// Asks the key's state at this moment, whichever window has the focus.
bool spaceKeyDown() {
    return (GetAsyncKeyState(VK_SPACE) & 0x8000) != 0;
}

bool interruptRequested() {
    return interruptFlag.load();
}

// SPACE comes from the keyboard, not from standard input, so its end changes nothing.
bool inputEnded() {
    return false;
}

// A program started without a console gets no handles, and printing then goes to
// message boxes; no descriptor numbers are reused as they are on POSIX.
void guardStandardStreams() {}

} // namespace plat
