// Everything the tool asks of the operating system, in the tool's own terms.
//
// The Windows backend (platform/windows) calls Win32 directly. The POSIX backend
// (platform/posix) stands in for Windows on Linux: standard output is descriptor 1,
// 8-bit text is the locale's narrow encoding, the registry is loaded from the
// registry-editor file named by ASIO_REGISTRY, and COM loads shared libraries.
// Nothing outside platform/ includes an operating-system header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

namespace plat {

// ---------------------------------------------------------------- console and files

// An operating-system handle. 0 and invalidHandle both mean "no handle".
using Handle = std::intptr_t;
inline constexpr Handle invalidHandle = -1;

// The process's standard output, asked anew at each call (GetStdHandle).
Handle stdOutput();

// True when the name exists as a file or a folder (GetFileAttributesW succeeds).
bool pathExists(const std::u16string& name);

enum class Disposition { createNew, openExisting, truncateExisting, createAlways };

// CreateFileW with shared reading and writing, no security record, no template.
// Returns invalidHandle on failure.
Handle createFile(const std::u16string& name, bool readAccess, bool writeAccess, Disposition disposition,
                  uint32_t attributes);
inline constexpr uint32_t fileAttributeNormal = 0x80;

// CloseHandle; false when it fails.
bool closeHandle(Handle handle);

enum class MoveMethod { begin = 0, current = 1, end = 2 };

// SetFilePointer with no high part; the result is not reported.
void setFilePointer(Handle handle, int32_t distance, MoveMethod method);

// WriteFile of the whole block; false when the call fails. `written` gets the bytes written.
bool writeFile(Handle handle, const void* data, uint32_t size, uint32_t& written);

// What a path names.
enum class PathKind { missing, file, folder, other }; // other: a device, a pipe, ...
PathKind pathKind(const std::u16string& name);

// Moves the file `from` onto `to`, replacing a file there (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING; rename).
bool replaceFile(const std::u16string& from, const std::u16string& to);
bool removeFile(const std::u16string& name);
// Sets the position of a file from createFile to `offset` bytes from its start.
bool seekFile(Handle handle, uint64_t offset);
// The size of a file from createFile in bytes; -1 when it cannot be told.
int64_t fileSize(Handle handle);
// Cuts (or extends) the file to `size` bytes.
bool truncateFile(Handle handle, uint64_t size);
// Why the last file operation of this thread failed, in words ("No space left on device").
std::u16string lastFileError();

// Pushes what was written to standard output out at once (the status line).
void flushStdOutput();

// True when standard output is a terminal (a console on Windows), where a live line can
// be rewritten in place; false for a file, a pipe or a closed standard output.
bool standardOutputIsTerminal();

// A key that two paths share exactly when they name the same file: an existing file by
// its device and file number (so a hard or symbolic link, another spelling, a relative
// and an absolute path all meet), a file yet to be made by its folder's and its own
// name (without regard to case on Windows). Only for comparing.
std::u16string fileIdentity(const std::u16string& path);

// The file the system's loader takes for a module named in the registry: a name with a
// folder as it stands when it exists at all, a bare name looked up where the loader looks
// (Windows: the program's folder, the system folders, the current folder and PATH;
// POSIX: as dlopen, LD_LIBRARY_PATH, the folders of /etc/ld.so.conf and the system
// library folders). Empty when there is no such file.
std::u16string findModule(const std::u16string& name);

// Writes one line to standard error, in 8-bit text with the platform's line end
// (warnings that must stay out of the program's output). Failures are ignored.
void writeErrorLine(const std::u16string& text);

// A modal message box (MessageBoxW, no owner). Where the platform has none the text
// goes to standard error as one line.
void messageBox(const std::u16string& text, const std::u16string& caption, uint32_t style);

// ---------------------------------------------------------------- text

// UTF-16 to the system's 8-bit text (Windows: the ANSI code page; POSIX: UTF-8) and back.
// Characters the 8-bit side cannot hold are converted as the platform converts them.
std::string toNarrow(const std::u16string& text);
std::u16string fromNarrow(const std::string& text);
// UTF-16 to UTF-8, whatever the system's 8-bit text is (for documents that are UTF-8 by
// definition); an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const std::u16string& text);

// ---------------------------------------------------------------- time, threads, process

// 32-bit millisecond count since system start (GetTickCount); wraps after 49.7 days.
uint32_t tickCount();
// The system's millisecond clock for the status line (timeGetTime).
uint32_t systemClockMs();
void sleepMs(uint32_t milliseconds);
// Identifier of the calling thread, never 0.
uint32_t currentThreadId();
// Gives the calling thread the priority of an audio thread (a real-time class where the
// system allows it), so its wake-ups are not queued behind ordinary work. False when the
// system refuses; the thread then runs on as it was.
bool raiseThreadToAudioPriority();
// Page faults the calling thread has taken so far (minor and major); -1 where the system
// does not tell them per thread.
int64_t threadPageFaults();
// Keeps the calling thread on processor `cpu` (0 for the first); false when the system
// refuses.
bool pinThreadToProcessor(uint32_t cpu);
// Nanoseconds of a steady clock (the one std::chrono::steady_clock reads).
int64_t steadyNanoseconds();
// Sleeps until the steady clock reads `deadlineNs`, as precisely as the system allows
// (on Windows the system timer runs at 1 ms for the caller while it sleeps).
void sleepUntilNs(int64_t deadlineNs);

// Sleeps one thread until steady-clock deadlines as precisely as the system allows: on
// Windows a high-resolution waitable timer where the system has one, else a waitable
// timer with the system timer at 1 ms while the sleeper lives; on POSIX the monotonic
// clock's absolute sleep. For the thread that made it.
class PreciseSleeper {
  public:
    PreciseSleeper();
    ~PreciseSleeper();
    PreciseSleeper(const PreciseSleeper&) = delete;
    PreciseSleeper& operator=(const PreciseSleeper&) = delete;
    void sleepUntilNs(int64_t deadlineNs);

  private:
    Handle f_timer = invalidHandle;
    bool f_coarse = false; // Windows: no high-resolution timer, the system timer raised to 1 ms
};

// Nanoseconds of processor time the whole process (every thread), or the calling thread,
// has used so far; -1 where the system does not count it to the microsecond (Windows
// counts its cycles, Wine only clock ticks of 10 ms).
int64_t processCpuNanoseconds();
int64_t threadCpuNanoseconds();

// The processor time of the thread that made it, readable from any thread of the process
// while that thread lives.
class ThreadCpuClock {
  public:
    ThreadCpuClock();
    ~ThreadCpuClock();
    ThreadCpuClock(const ThreadCpuClock&) = delete;
    ThreadCpuClock& operator=(const ThreadCpuClock&) = delete;
    // As threadCpuNanoseconds, for that thread.
    int64_t nanoseconds() const;

  private:
    bool f_valid = false;
    Handle f_clock = invalidHandle; // POSIX: the thread's clock id; Windows: its handle
};

// The Windows SYSTEMTIME record.
struct CalendarTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
CalendarTime universalTime(); // GetSystemTime
CalendarTime localTime();     // GetLocalTime

// The calling thread's locale's thousands separator (LOCALE_STHOUSAND into a buffer of
// two characters). False when the platform cannot answer in one character.
bool thousandsSeparator(char16_t& separator);

// Major version of the operating system; false where there is no version check.
bool osMajorVersion(uint32_t& major);

// Full path of the program file (GetModuleFileNameW, 260 characters).
std::u16string modulePath();

// Bytes the program currently holds from its heap, with 32-bit wrap-around.
uint32_t heapBytesInUse();

// The process arguments as UTF-16, the program path first.
std::vector<std::u16string> arguments();

// ---------------------------------------------------------------- keyboard and interrupts

// Prepares the console for the run: on POSIX a terminal on standard input goes to
// non-canonical, no-echo mode until restoreConsole or process end (also on SIGINT,
// SIGTERM, SIGHUP and SIGQUIT, which become interrupt requests), and SIGPIPE is ignored;
// on Windows a console control handler turns Ctrl+C into an interrupt request. Safe to
// call more than once.
void prepareConsole();
void restoreConsole();

// Whether the SPACE key is down at this moment (GetAsyncKeyState, most significant bit).
// Never blocks. On POSIX a space byte read from standard input counts as pressed.
bool spaceKeyDown();

// True once Ctrl+C (SIGINT, SIGTERM, SIGHUP, SIGQUIT, console control event) has been
// received after prepareConsole. A second one does not end the process; a third does.
bool interruptRequested();
// From now on no interrupt ends the process by itself, however many come: each is an
// interrupt request only. For a supervisor, which passes the request on to its child,
// times the child's every driver call and ends when the child has.
void holdThroughInterrupts();
// The number of the first such signal (Windows: 2 for Ctrl+C, 21 for Ctrl+Break, 1 for
// the console window closing); 0 when none came.
int interruptSignal();

// True once standard input has reached its end (a pipe that closed, /dev/null, a file
// read to its end), as seen by spaceKeyDown: no SPACE can come any more. Always false on
// Windows, where SPACE comes from the keyboard.
bool inputEnded();

// Opens the null device on every standard stream (0, 1, 2) that is closed, so that no
// file the program or a driver opens later takes a standard stream's place and receives
// the program's output. Call first thing. Nothing to do on Windows.
void guardStandardStreams();

// ---------------------------------------------------------------- registry

// An open registry key; the two roots below are predefined and need no closing.
using RegKey = std::uintptr_t;
RegKey regLocalMachine();
RegKey regClassesRoot();

// Results are Windows error codes: 0 on success, 2 (file not found), 234 (more data),
// 259 (no more items) and so on. Names are matched without regard to case.
int32_t regOpenKeyW(RegKey root, const std::u16string& path, RegKey& key);
int32_t regOpenKeyA(RegKey root, const std::string& path, RegKey& key);
int32_t regOpenKeyExA(RegKey parent, const std::string& name, RegKey& key); // KEY_READ
// Name of subkey `index` with its zero terminator into `buffer` of `size` bytes.
int32_t regEnumKeyA(RegKey key, uint32_t index, char* buffer, uint32_t size);
// Value `name` (nullptr: the default value) into `buffer`; `size` in: the buffer's
// bytes, out: the value's bytes including the terminating zero of a string.
int32_t regQueryValueExA(RegKey key, const char* name, uint8_t* buffer, uint32_t& size);
int32_t regCloseKey(RegKey key);

// The two registry views of 64-bit Windows: the keys 64-bit programs see and the keys
// 32-bit programs see (KEY_WOW64_64KEY, KEY_WOW64_32KEY). The program's own is the one
// of its build.
enum class RegView { bits32, bits64 };
RegView ownRegistryView();
// RegOpenKeyExA with KEY_READ in the given view, for a key under one of the roots.
int32_t regOpenKeyInView(RegKey root, const std::string& path, RegView view, RegKey& key);

inline constexpr int32_t errorSuccess = 0;
inline constexpr int32_t errorFileNotFound = 2;
inline constexpr int32_t errorMoreData = 234;
inline constexpr int32_t errorNoMoreItems = 259;

// ---------------------------------------------------------------- COM

int32_t coInitialize();
void coUninitialize();
// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; 0 on success.
int32_t clsidFromString(const std::u16string& text, Guid& clsid);
// CoCreateInstance with no outer object and CLSCTX_INPROC_SERVER.
int32_t coCreateInstance(const Guid& clsid, const Guid& iid, void** object);

} // namespace plat
