// Clocks, sleeping and thread identity.
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

namespace {

uint64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

CalendarTime calendarFrom(const tm& parts, long nanoseconds) {
    return CalendarTime{static_cast<uint16_t>(parts.tm_year + 1900), static_cast<uint16_t>(parts.tm_mon + 1),
                        static_cast<uint16_t>(parts.tm_wday), static_cast<uint16_t>(parts.tm_mday),
                        static_cast<uint16_t>(parts.tm_hour), static_cast<uint16_t>(parts.tm_min),
                        // A leap second (60) is folded into 59, as Windows never shows one.
                        static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec),
                        static_cast<uint16_t>(nanoseconds / 1000000)};
}

} // namespace

// The monotonic clock counts from system start, like the Windows tick count; both wrap
// at 32 bits.
uint32_t tickCount() {
    return static_cast<uint32_t>(monotonicMs());
}
uint32_t systemClockMs() {
    return static_cast<uint32_t>(monotonicMs());
}

void sleepMs(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000};
    // A signal cuts the sleep short; sleep on for the rest unless it asked us to stop.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR && !interruptRequested()) {
    }
}

uint32_t currentThreadId() {
    return static_cast<uint32_t>(gettid());
}

CalendarTime universalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    return calendarFrom(parts, now.tv_nsec);
}

CalendarTime localTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return calendarFrom(parts, now.tv_nsec);
}

int64_t threadPageFaults() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return -1;
    return static_cast<int64_t>(usage.ru_minflt) + static_cast<int64_t>(usage.ru_majflt);
}

bool pinThreadToProcessor(uint32_t cpu) {
    if (cpu >= CPU_SETSIZE) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

int64_t steadyNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void sleepUntilNs(int64_t deadlineNs) {
    timespec deadline{static_cast<time_t>(deadlineNs / 1'000'000'000),
                      static_cast<long>(deadlineNs % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

PreciseSleeper::PreciseSleeper() = default;
PreciseSleeper::~PreciseSleeper() = default;
void PreciseSleeper::sleepUntilNs(int64_t deadlineNs) {
    plat::sleepUntilNs(deadlineNs);
}

namespace {

int64_t cpuClockNanoseconds(clockid_t clock) {
    timespec used{};
    if (clock_gettime(clock, &used) != 0) return -1;
    return static_cast<int64_t>(used.tv_sec) * 1'000'000'000 + used.tv_nsec;
}

} // namespace

int64_t processCpuNanoseconds() {
    return cpuClockNanoseconds(CLOCK_PROCESS_CPUTIME_ID);
}
int64_t threadCpuNanoseconds() {
    return cpuClockNanoseconds(CLOCK_THREAD_CPUTIME_ID);
}

ThreadCpuClock::ThreadCpuClock() {
    clockid_t clock{};
    f_valid = pthread_getcpuclockid(pthread_self(), &clock) == 0;
    if (f_valid) f_clock = static_cast<Handle>(clock);
}

ThreadCpuClock::~ThreadCpuClock() = default;

int64_t ThreadCpuClock::nanoseconds() const {
    return f_valid ? cpuClockNanoseconds(static_cast<clockid_t>(f_clock)) : -1;
}

bool raiseThreadToAudioPriority() {
    sched_param parameter{};
    parameter.sched_priority = 10; // above ordinary threads, far below the system's own
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
}

} // namespace plat
