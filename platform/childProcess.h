// Supervising this program started again as a child process: a channel on which the
// child sends its progress and results, a block of memory both share, a wait with a time
// limit, and how the child ended (exit status, signal or Windows exception code).
//
// The parent starts the child with ChildProcess::start; the platform appends one
// argument of its own, /childends=..., that names the child's ends of the channel and
// the shared block. The child finds them with connectToParent. One child at a time per
// parent. The child dies with its parent: should the parent end in any way, even killed
// outright, the child (and anything it started, on Windows) is ended at once and writes
// nothing more (a parent-death signal on Linux, sent when the thread that started the
// child ends; a job object that kills on close on Windows). The child runs in a process
// group of its own unless asked otherwise: a Ctrl+C typed at the console then reaches
// only the parent, which decides what happens to the child.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// How a child ended; `running` while it runs.
struct ChildEnd {
    enum class Kind {
        running,
        exited,    // code: the exit status
        signalled, // code: the signal number (POSIX)
        exception, // code: the exception code, such as 0xC0000005 (Windows)
        killed,    // the parent killed it (kill)
        notStarted,
    };
    Kind kind = Kind::notStarted;
    uint32_t code = 0;

    bool over() const { return kind != Kind::running; }
    // True for an end the child did not choose: a signal, an exception or a kill.
    bool abnormal() const {
        return kind == Kind::signalled || kind == Kind::exception || kind == Kind::killed;
    }
};

// "exit status 3", "signal 11", "access violation 0xC0000005", "exception 0xC00000FD",
// "killed".
std::u16string childEndText(const ChildEnd& end);

struct ChildOptions {
    std::vector<std::u16string> arguments; // after the program path
    size_t sharedBytes = 0;                // the shared block's size; 0: none
    bool inheritInput = false;             // standard input: the parent's, else the null device
    bool inheritOutput = false;            // standard output: the parent's, else the null device
    // Standard error is always the parent's, so what a driver complains about is seen.
    // A process group of its own; a child that reads keys from a POSIX terminal must stay
    // in the parent's (a background group that reads the terminal is stopped), and then
    // Ctrl+C reaches both.
    bool ownProcessGroup = true;
};

class ChildProcess {
  public:
    ChildProcess();
    ~ChildProcess(); // kills a child that still runs and waits for its end
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts this program's own file with the options' arguments and the ends argument.
    // False when it could not be started (end() then says notStarted).
    bool start(const ChildOptions& options);

    // The parent's view of the shared block, zero-filled before the child starts; it
    // stays readable after the child ended, until this object goes. nullptr without one.
    void* shared() const;

    // Waits until the child sent something, ended, or `milliseconds` passed, and appends
    // whatever it sent to `received`. Returns the child's end so far (running while it
    // runs); once over, everything it sent has been received.
    ChildEnd wait(uint32_t milliseconds, std::string& received);

    // Ends the child at once (SIGKILL, TerminateProcess) and waits for it. To ask a child
    // to stop by itself, write into the shared block what it looks at.
    void kill();

    ChildEnd end() const;
    // The child's process identifier; 0 before it started.
    uint64_t id() const;

  private:
    struct State;
    std::unique_ptr<State> f_state;
};

// The interrupt that ended the child by its default action (SIGINT, SIGTERM, SIGHUP or
// SIGQUIT; on Windows a Ctrl+C or Ctrl+Break, read as 2): its number, else 0. Such an end
// is a stop request carried out, never a crash.
int interruptOfEnd(const ChildEnd& end);

// Whether the process with this identifier still runs (one that ended and was not yet
// reaped by its parent does not).
bool processRunning(uint64_t id);

// ---------------------------------------------------------------- the child's side

// The name of the argument the platform appends (after its lead "/").
inline constexpr const char16_t* childEndsSwitch = u"childends";

// The ends a parent handed over, when this process was started by ChildProcess.
struct ParentLink {
    void* shared = nullptr; // the shared block, nullptr without one
    size_t sharedBytes = 0;
};

// True when this process was started by ChildProcess (its arguments hold the ends
// argument). Cheap; opens nothing.
bool startedByParent();

// Opens the ends named by the ends argument: maps the shared block and keeps the
// channel for sendToParent. It also makes a crash end the process at once with its
// signal or exception code, with no report window or debugger. False when this process
// was not started by a parent or the ends cannot be opened.
bool connectToParent(ParentLink& link);

// Writes all of `bytes` to the channel; false when the parent cannot be reached.
bool sendToParent(const std::string& bytes);

// A cheap identity of the calling thread, never 0, that costs no system call (a thread
// register or block read), for code that runs where system calls are not allowed.
uintptr_t threadKey();

} // namespace plat
