// Clocks, sleeping and thread identity.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>

#include "platform/platform.h"

namespace plat {

namespace {

CalendarTime calendarFrom(const SYSTEMTIME& t) {
    return CalendarTime{t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                        t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
}

} // namespace

uint32_t tickCount() {
    return GetTickCount();
}
uint32_t systemClockMs() {
    return timeGetTime();
}
void sleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}
uint32_t currentThreadId() {
    return GetCurrentThreadId();
}

CalendarTime universalTime() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    return calendarFrom(t);
}

CalendarTime localTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return calendarFrom(t);
}

// Windows counts page faults per process only.
int64_t threadPageFaults() {
    return -1;
}

bool pinThreadToProcessor(uint32_t cpu) {
    if (cpu >= sizeof(DWORD_PTR) * 8) return false;
    return SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << cpu) != 0;
}

int64_t steadyNanoseconds() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t ticks = now.QuadPart;
    return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

void sleepUntilNs(int64_t deadlineNs) {
    const int64_t remainingNs = deadlineNs - steadyNanoseconds();
    if (remainingNs <= 0) return;
    timeBeginPeriod(1);
    Sleep(static_cast<DWORD>((remainingNs + 999'999) / 1'000'000));
    timeEndPeriod(1);
}

namespace {

// Where the system has no high-resolution waitable timer (before Windows 10 1803).
constexpr DWORD highResolutionTimerFlag = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// Cycles of the processor time counters per nanosecond: the counters tick at the
// processor's fixed time-stamp rate, measured once against the performance counter while
// the calling thread keeps its processor busy (the highest of three tries, as a try
// the thread was preempted in counts too few cycles). 0 where the system has no cycle
// counts (Wine).
double cyclesPerNanosecond() {
    static const double ratio = [] {
        ULONG64 cycles = 0;
        if (!QueryThreadCycleTime(GetCurrentThread(), &cycles) ||
            !QueryProcessCycleTime(GetCurrentProcess(), &cycles))
            return 0.0;
        double best = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            ULONG64 before = 0, after = 0;
            const int64_t startNs = steadyNanoseconds();
            QueryThreadCycleTime(GetCurrentThread(), &before);
            while (steadyNanoseconds() - startNs < 2'000'000) {
            }
            QueryThreadCycleTime(GetCurrentThread(), &after);
            const int64_t elapsedNs = steadyNanoseconds() - startNs;
            if (after > before && elapsedNs > 0)
                best = std::max(best, double(after - before) / double(elapsedNs));
        }
        return best;
    }();
    return ratio;
}

int64_t nanosecondsOfCycles(BOOL answered, ULONG64 cycles) {
    const double ratio = cyclesPerNanosecond();
    if (!answered || !(ratio > 0)) return -1;
    return static_cast<int64_t>(double(cycles) / ratio);
}

} // namespace

PreciseSleeper::PreciseSleeper() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, highResolutionTimerFlag, TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        f_coarse = true;
        timeBeginPeriod(1);
    }
    f_timer = timer == nullptr ? invalidHandle : reinterpret_cast<Handle>(timer);
}

PreciseSleeper::~PreciseSleeper() {
    if (f_timer != invalidHandle) CloseHandle(reinterpret_cast<HANDLE>(f_timer));
    if (f_coarse) timeEndPeriod(1);
}

void PreciseSleeper::sleepUntilNs(int64_t deadlineNs) {
    const int64_t remainingNs = deadlineNs - steadyNanoseconds();
    if (remainingNs <= 0) return;
    if (f_timer == invalidHandle) {
        plat::sleepUntilNs(deadlineNs);
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -std::max<int64_t>(remainingNs / 100, 1); // relative, in 100 ns units
    HANDLE timer = reinterpret_cast<HANDLE>(f_timer);
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE))
        WaitForSingleObject(timer, INFINITE);
    else
        plat::sleepUntilNs(deadlineNs);
}

int64_t processCpuNanoseconds() {
    ULONG64 cycles = 0;
    const BOOL answered = QueryProcessCycleTime(GetCurrentProcess(), &cycles);
    return nanosecondsOfCycles(answered, cycles);
}

int64_t threadCpuNanoseconds() {
    ULONG64 cycles = 0;
    const BOOL answered = QueryThreadCycleTime(GetCurrentThread(), &cycles);
    return nanosecondsOfCycles(answered, cycles);
}

ThreadCpuClock::ThreadCpuClock() {
    HANDLE thread = nullptr;
    f_valid = DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                              THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0) != 0;
    if (f_valid) f_clock = reinterpret_cast<Handle>(thread);
}

ThreadCpuClock::~ThreadCpuClock() {
    if (f_valid) CloseHandle(reinterpret_cast<HANDLE>(f_clock));
}

int64_t ThreadCpuClock::nanoseconds() const {
    if (!f_valid) return -1;
    ULONG64 cycles = 0;
    const BOOL answered = QueryThreadCycleTime(reinterpret_cast<HANDLE>(f_clock), &cycles);
    return nanosecondsOfCycles(answered, cycles);
}

bool raiseThreadToAudioPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

} // namespace plat
