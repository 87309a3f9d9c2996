// Child processes on Windows: CreateProcessW of the program's own file in a process
// group of its own and a job that ends it with this process, an anonymous pipe for the
// channel and a page-file mapping for the shared block, both handed to the child as
// inherited handle values in the ends argument.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>

#include "platform/childProcess.h"
#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait inside ChildProcess::wait: a pipe cannot be waited on together
// with the process, so the channel is looked at between short waits.
constexpr DWORD waitSliceMs = 5;
constexpr int createAttempts = 3;
constexpr DWORD createRetryMs = 200;

void closeIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

// An inheritable copy of one of this process's standard handles (none stays none).
HANDLE inheritableCopy(DWORD which) {
    HANDLE original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

HANDLE inheritableNullDevice(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE device =
        CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a space, a tab
// or a quote, with the backslashes before a quote doubled.
std::u16string quoted(const std::u16string& argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) return argument;
    std::u16string text = u"\"";
    size_t backslashes = 0;
    for (char16_t ch : argument) {
        if (ch == u'\\') {
            ++backslashes;
            continue;
        }
        text.append(ch == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        text += ch;
    }
    text.append(2 * backslashes, u'\\');
    return text + u"\"";
}

// Exit codes from 0x80000000 up are exception codes (warnings and errors), except the
// few just below 2^32 that exit(-1) and its kin give.
bool isExceptionCode(DWORD code) {
    return code >= 0x80000000u && code < 0xFFFFFF00u;
}

// What the child's process does with an exception nobody handled: it ends at once with
// the exception's code, with no report window and no debugger started.
LONG WINAPI endWithExceptionCode(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception != nullptr && exception->ExceptionRecord != nullptr
                           ? exception->ExceptionRecord->ExceptionCode
                           : 0xC0000001u;
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A job whose processes all end when its last handle closes: this process's, at its end
// however it comes. Not inherited, so a child cannot keep it open. nullptr when the
// system has none to give; the child then runs without.
HANDLE killOnCloseJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

HANDLE parentChannel = nullptr;

std::u16string endsArgumentValue() {
    const std::u16string lead = u"/" + std::u16string(childEndsSwitch) + u"=";
    for (const std::u16string& argument : arguments())
        if (argument.compare(0, lead.size(), lead) == 0) return argument.substr(lead.size());
    return {};
}

} // namespace

struct ChildProcess::State {
    HANDLE process = nullptr;
    HANDLE job = nullptr; // kills the child when its last handle closes, with this process
    DWORD processId = 0;
    HANDLE channel = nullptr; // the read end
    void* shared = nullptr;
    ChildEnd end;

    bool drain(std::string& received) {
        bool got = false;
        char buffer[4096];
        while (channel != nullptr) {
            DWORD available = 0;
            if (!PeekNamedPipe(channel, nullptr, 0, nullptr, &available, nullptr)) {
                closeIfOpen(channel); // broken: every writer is gone
                break;
            }
            if (available == 0) break;
            DWORD n = 0;
            if (!ReadFile(channel, buffer, available < sizeof buffer ? available : sizeof buffer, &n,
                          nullptr) ||
                n == 0)
                break;
            received.append(buffer, n);
            got = true;
        }
        return got;
    }

    void noteEnd() {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        if (end.kind == ChildEnd::Kind::killed) return;
        end.code = code;
        end.kind = isExceptionCode(code) ? ChildEnd::Kind::exception : ChildEnd::Kind::exited;
    }
};

ChildProcess::ChildProcess() : f_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    kill();
    closeIfOpen(f_state->channel);
    closeIfOpen(f_state->process);
    closeIfOpen(f_state->job);
    if (f_state->shared != nullptr) UnmapViewOfFile(f_state->shared);
}

bool ChildProcess::start(const ChildOptions& options) {
    State& s = *f_state;
    if (s.process != nullptr) return false;
    const std::u16string path = modulePath();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (path.empty() || !CreatePipe(&s.channel, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(s.channel, HANDLE_FLAG_INHERIT, 0);

    HANDLE mapping = nullptr;
    if (options.sharedBytes > 0) {
        const auto bytes = static_cast<unsigned long long>(options.sharedBytes);
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE,
                                     static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes), nullptr);
        s.shared = mapping == nullptr
                       ? nullptr
                       : MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, options.sharedBytes);
        if (s.shared == nullptr) {
            closeIfOpen(mapping);
            closeIfOpen(writeEnd);
            closeIfOpen(s.channel);
            return false;
        }
    }

    std::u16string commandLine = quoted(path);
    for (const std::u16string& argument : options.arguments)
        commandLine += u" " + quoted(argument);
    char ends[96];
    std::snprintf(ends, sizeof ends, "=%llu,%llu,%llu",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(writeEnd)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(mapping)),
                  static_cast<unsigned long long>(options.sharedBytes));
    commandLine += u" /" + std::u16string(childEndsSwitch) + fromNarrow(ends);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput =
        options.inheritInput ? inheritableCopy(STD_INPUT_HANDLE) : inheritableNullDevice(GENERIC_READ);
    startup.hStdOutput =
        options.inheritOutput ? inheritableCopy(STD_OUTPUT_HANDLE) : inheritableNullDevice(GENERIC_WRITE);
    startup.hStdError = inheritableCopy(STD_ERROR_HANDLE);

    PROCESS_INFORMATION created{};
    std::wstring line(commandLine.begin(), commandLine.end());
    // Started suspended, so that it is in the job before it runs (and before anything it
    // starts could escape it).
    const DWORD flags = (options.ownProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0) | CREATE_SUSPENDED;
    // Process creation can fail for a moment on a loaded machine (Wine's server busy
    // starting other processes): a few tries before the child counts as not started.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < createAttempts && !started; ++attempt) {
        if (attempt > 0) Sleep(createRetryMs);
        started = CreateProcessW(wide(path), line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                 &startup, &created);
    }
    closeIfOpen(startup.hStdInput);
    closeIfOpen(startup.hStdOutput);
    closeIfOpen(startup.hStdError);
    closeIfOpen(writeEnd);
    closeIfOpen(mapping); // the view keeps the block; the child holds its own handle
    if (!started) {
        closeIfOpen(s.channel);
        return false;
    }
    s.job = killOnCloseJob();
    if (s.job != nullptr && !AssignProcessToJobObject(s.job, created.hProcess)) closeIfOpen(s.job);
    ResumeThread(created.hThread);
    CloseHandle(created.hThread);
    s.process = created.hProcess;
    s.processId = created.dwProcessId;
    s.end = ChildEnd{ChildEnd::Kind::running, 0};
    return true;
}

void* ChildProcess::shared() const {
    return f_state->shared;
}

ChildEnd ChildProcess::wait(uint32_t milliseconds, std::string& received) {
    State& s = *f_state;
    if (s.end.kind != ChildEnd::Kind::running) return s.end;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const bool got = s.drain(received);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const DWORD slice =
            got ? 0 : static_cast<DWORD>(left < waitSliceMs ? (left > 0 ? left : 0) : waitSliceMs);
        if (WaitForSingleObject(s.process, slice) == WAIT_OBJECT_0) {
            s.drain(received);
            closeIfOpen(s.channel);
            s.noteEnd();
            return s.end;
        }
        if (got || Clock::now() >= deadline) return s.end;
    }
}

void ChildProcess::kill() {
    State& s = *f_state;
    if (s.end.kind != ChildEnd::Kind::running) return;
    TerminateProcess(s.process, 1);
    s.end = ChildEnd{ChildEnd::Kind::killed, 1};
    WaitForSingleObject(s.process, INFINITE);
}

ChildEnd ChildProcess::end() const {
    return f_state->end;
}

uint64_t ChildProcess::id() const {
    return f_state->processId;
}

int interruptOfEnd(const ChildEnd& end) {
    // STATUS_CONTROL_C_EXIT: the default handler of a Ctrl+C or Ctrl+Break ended it.
    return end.kind == ChildEnd::Kind::exception && end.code == 0xC000013Au ? 2 : 0;
}

bool processRunning(uint64_t id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::u16string childEndText(const ChildEnd& end) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(end.code));
    switch (end.kind) {
    case ChildEnd::Kind::exited:
        return u"exit status " + fromNarrow(std::to_string(end.code));
    case ChildEnd::Kind::signalled:
        return u"signal " + fromNarrow(std::to_string(end.code));
    case ChildEnd::Kind::exception: {
        const char* name = "exception";
        switch (end.code) {
        case 0xC0000005u:
            name = "access violation";
            break;
        case 0xC00000FDu:
            name = "stack overflow";
            break;
        case 0xC000001Du:
            name = "illegal instruction";
            break;
        case 0xC0000094u:
            name = "integer division by zero";
            break;
        case 0xC0000409u:
            name = "stack buffer overrun";
            break;
        case 0xC0000374u:
            name = "heap corruption";
            break;
        case 0x80000003u:
            name = "breakpoint";
            break;
        case 0xE06D7363u:
            name = "C++ exception";
            break;
        default:
            break;
        }
        return fromNarrow(name) + u" " + fromNarrow(code);
    }
    case ChildEnd::Kind::killed:
        return u"killed";
    case ChildEnd::Kind::running:
        return u"running";
    case ChildEnd::Kind::notStarted:
        break;
    }
    return u"not started";
}

bool startedByParent() {
    return !endsArgumentValue().empty();
}

bool connectToParent(ParentLink& link) {
    const std::string value = toNarrow(endsArgumentValue());
    unsigned long long channel = 0, mapping = 0, bytes = 0;
    if (value.empty() || std::sscanf(value.c_str(), "%llu,%llu,%llu", &channel, &mapping, &bytes) != 3 ||
        channel == 0)
        return false;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endWithExceptionCode);
    parentChannel = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(channel));
    // Neither end goes further, to programs a driver may start.
    SetHandleInformation(parentChannel, HANDLE_FLAG_INHERIT, 0);
    link = ParentLink{};
    if (mapping != 0 && bytes > 0) {
        HANDLE block = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(mapping));
        void* view = MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(bytes));
        CloseHandle(block);
        if (view == nullptr) return false;
        link.shared = view;
        link.sharedBytes = static_cast<size_t>(bytes);
    }
    return true;
}

bool sendToParent(const std::string& bytes) {
    size_t done = 0;
    while (parentChannel != nullptr && done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(parentChannel, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                       nullptr) ||
            n == 0)
            return false;
        done += n;
    }
    return parentChannel != nullptr;
}

uintptr_t threadKey() {
    return static_cast<uintptr_t>(GetCurrentThreadId());
}

} // namespace plat
