// Keyboard and interrupts on a Windows console.
//
// While prepared, a console control handler turns Ctrl+C, Ctrl+Break and the closing of
// the console window into an interrupt request instead of ending the process, so the
// run can end cleanly. A second Ctrl+C does not cut the tear-down short; a third goes on
// to the default handler, which ends the process at once (unless holdThroughInterrupts
// was called). Windows ends a process whose
// console window was closed as soon as the handler returns (and at the latest after a
// few seconds), so the handler holds the close until the tear-down is done.
#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace plat {

namespace {

// The signal numbers the exit status follows (128 + number), as a shell reports them.
constexpr int signalInterrupt = 2; // Ctrl+C
constexpr int signalBreak = 21;    // Ctrl+Break
constexpr int signalHangup = 1;    // the console window was closed

std::atomic<int> interruptFlag{0}; // set on the system's handler thread
std::atomic<int> eventsReceived{0};
std::atomic<bool> tornDown{false};
std::atomic<bool> holdThrough{false}; // no Ctrl+C goes on to the default handler
bool prepared = false;

// Windows gives a closing console about five seconds.
constexpr DWORD closeWaitMs = 4500;

BOOL WINAPI onControlEvent(DWORD event) {
    int signal = 0;
    if (event == CTRL_C_EVENT) signal = signalInterrupt;
    if (event == CTRL_BREAK_EVENT) signal = signalBreak;
    if (event == CTRL_CLOSE_EVENT) signal = signalHangup;
    if (signal == 0) return FALSE;
    int expected = 0;
    interruptFlag.compare_exchange_strong(expected, signal);
    if (event == CTRL_CLOSE_EVENT) {
        for (DWORD waited = 0; waited < closeWaitMs && !tornDown.load(); waited += 10) Sleep(10);
        return TRUE;
    }
    return eventsReceived.fetch_add(1) >= 2 && !holdThrough.load() ? FALSE : TRUE;
}

} // namespace

void prepareConsole() {
    if (prepared) return;
    interruptFlag = 0;
    eventsReceived = 0;
    tornDown = false;
    prepared = SetConsoleCtrlHandler(onControlEvent, TRUE) != 0;
}

void restoreConsole() {
    if (!prepared) return;
    // A close of the console window waiting in the handler may go on now.
    tornDown = true;
    SetConsoleCtrlHandler(onControlEvent, FALSE);
    prepared = false;
}

void holdThroughInterrupts() {
    holdThrough = true;
}

// Asks the key's state at this moment, whichever window has the focus.
bool spaceKeyDown() {
    return (GetAsyncKeyState(VK_SPACE) & 0x8000) != 0;
}

bool interruptRequested() {
    return interruptFlag.load() != 0;
}

int interruptSignal() {
    return interruptFlag.load();
}

// SPACE comes from the keyboard, not from standard input, so its end changes nothing.
bool inputEnded() {
    return false;
}

// A console answers GetConsoleMode; a file, a pipe or no handle does not.
bool standardOutputIsTerminal() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) != 0;
}

// A program started without a console gets no handles, and printing then goes to
// message boxes; no descriptor numbers are reused as they are on POSIX.
void guardStandardStreams() {}

} // namespace plat
