// Keyboard and interrupts on a terminal (or pipe) as standard input.
//
// prepareConsole puts a terminal into non-canonical, no-echo mode so that a single SPACE
// is readable at once, and catches SIGINT, SIGTERM, SIGHUP and SIGQUIT so the run loop
// can end cleanly. The saved terminal settings are put back by restoreConsole, at normal
// exit, and inside the signal handler (tcsetattr is async-signal-safe). A second signal
// does not cut the tear-down short (a tool such as timeout sends one to the process and
// one to its group); a third one takes the default action, so a program that no longer
// polls can still be ended at once, unless holdThroughInterrupts was called. SIGPIPE is
// ignored: a console write into a closed pipe just fails, as on Windows, and the run goes
// on to its normal end.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

namespace {

volatile sig_atomic_t interruptFlag = 0;
volatile sig_atomic_t terminalSaved = 0;
termios savedTerminal{};
bool inputAtEnd = false;

// The signals that ask the program to stop, and what was installed for them before.
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[std::size(stopSignals)] = {};

bool prepared = false;
bool exitHookInstalled = false;

void putTerminalBack() {
    if (terminalSaved) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
}

volatile sig_atomic_t signalsReceived = 0;
volatile sig_atomic_t holdThrough = 0; // no signal takes the default action

void onInterrupt(int signal) {
    int savedErrno = errno;
    putTerminalBack();
    if (signalsReceived >= 2 && !holdThrough) {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        raise(signal);
    }
    signalsReceived = signalsReceived + 1;
    if (interruptFlag == 0) interruptFlag = signal;
    errno = savedErrno;
}

void atExit() {
    putTerminalBack();
}

void enterRawMode() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO); // ISIG stays: Ctrl+C still signals
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    terminalSaved = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) terminalSaved = 0;
}

} // namespace

void prepareConsole() {
    if (prepared) return;
    prepared = true;
    interruptFlag = 0;
    signalsReceived = 0;
    enterRawMode();
    if (!exitHookInstalled) exitHookInstalled = std::atexit(atExit) == 0;

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        sigaction(stopSignals[i], &action, &previousActions[i]);
    // Stays ignored after restoreConsole: the shutdown text may still meet a closed pipe.
    signal(SIGPIPE, SIG_IGN);
}

void restoreConsole() {
    if (!prepared) return;
    prepared = false;
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        sigaction(stopSignals[i], &previousActions[i], nullptr);
    putTerminalBack();
    terminalSaved = 0;
}

void holdThroughInterrupts() {
    holdThrough = 1;
}

void guardStandardStreams() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free descriptor, which is this one.
        int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != descriptor && opened >= 0) close(opened);
    }
}

bool spaceKeyDown() {
    // Take whatever is waiting on standard input, never waiting for more. The descriptor
    // is shared with the parent, so it is not switched to non-blocking; poll guards each
    // read instead. The number of reads is bounded for endless sources.
    char buffer[256];
    bool space = false;
    for (int round = 0; round < 16; ++round) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&input, 1, 0);
        if (ready <= 0 || (input.revents & (POLLIN | POLLHUP)) == 0) break;
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) inputAtEnd = true; // readable, yet nothing to read: the end of input
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] == ' ') space = true;
    }
    return space;
}

bool interruptRequested() {
    return interruptFlag != 0;
}

int interruptSignal() {
    return interruptFlag;
}

bool inputEnded() {
    return inputAtEnd;
}

bool standardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

} // namespace plat
