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

bool raiseThreadToAudioPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

} // namespace plat
