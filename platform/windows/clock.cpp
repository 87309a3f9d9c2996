// Clocks, sleeping and thread identity.
#include <windows.h>

#include <mmsystem.h>

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
int64_t threadPageFaults() { return -1; }

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

bool raiseThreadToAudioPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

} // namespace plat
