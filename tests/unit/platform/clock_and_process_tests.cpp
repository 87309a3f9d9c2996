// Clocks, calendar time and what the platform reports about the running process. (Thread
// identities are proven distinct by the object lock's tests.)
#include <chrono>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "platform/platform.h"

TEST(PlatformClock, BothClocksAdvanceAcrossASleep) {
    const uint32_t tick = plat::tickCount(), clock = plat::systemClockMs();
    plat::sleepMs(60);
    // Unsigned differences stay right across a wrap; Windows ticks are about 16 ms coarse.
    for (const uint32_t elapsed : {plat::tickCount() - tick, plat::systemClockMs() - clock}) {
        EXPECT_GE(elapsed, 40u);
        EXPECT_LT(elapsed, 5000u);
    }
}

TEST(PlatformClock, UniversalDateMatchesTheSystemClock) {
    using namespace std::chrono;
    const sys_days before = floor<days>(system_clock::now());
    const plat::CalendarTime t = plat::universalTime();
    const sys_days day = floor<days>(system_clock::now());
    if (day != before) GTEST_SKIP() << "midnight passed between the readings";
    const year_month_day date{day};
    EXPECT_EQ(t.year, static_cast<int>(date.year()));
    EXPECT_EQ(t.month, static_cast<unsigned>(date.month()));
    EXPECT_EQ(t.day, static_cast<unsigned>(date.day()));
    EXPECT_EQ(t.dayOfWeek, weekday{day}.c_encoding());
    EXPECT_LE(t.milliseconds, 999);
}

// The machine probe reads the tool's own threads' processor time from its own threads:
// the clock must be the thread's that made it, not the reader's.
TEST(PlatformClock, AThreadsProcessorTimeIsReadFromAnotherThread) {
    constexpr int64_t spunNs = 40'000'000;
    std::unique_ptr<plat::ThreadCpuClock> clock;
    std::promise<void> spun, read;
    std::thread spinner([&] {
        clock = std::make_unique<plat::ThreadCpuClock>();
        const int64_t from = plat::threadCpuNanoseconds();
        while (plat::threadCpuNanoseconds() - from < spunNs) {
        }
        spun.set_value();
        read.get_future().wait(); // the clock is read while its thread lives
    });
    const int64_t readerFrom = plat::threadCpuNanoseconds();
    spun.get_future().wait();
    const int64_t spinnerNs = clock->nanoseconds();
    const int64_t readerNs = plat::threadCpuNanoseconds() - readerFrom;
    read.set_value();
    spinner.join();
    EXPECT_GE(spinnerNs, spunNs);
    EXPECT_LT(spinnerNs, 60'000'000'000);
    EXPECT_LT(readerNs, spunNs / 2); // the reader only waited
}

TEST(PlatformProcess, ModulePathAndFirstArgumentNameThisProgram) {
    const std::filesystem::path path(plat::modulePath());
    EXPECT_TRUE(path.is_absolute() && plat::pathExists(path.u16string()));
    EXPECT_EQ(path.stem(), "platform_tests");
    const std::vector<std::u16string> args = plat::arguments();
    ASSERT_FALSE(args.empty());
    EXPECT_EQ(std::filesystem::path(args[0]).stem(), "platform_tests");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// (The sanitizers replace the heap, which the figure does not see.)
TEST(PlatformProcess, HeapFigureGrowsWithAHeldBlock) {
    const uint32_t before = plat::heapBytesInUse();
    constexpr size_t size = 8u << 20;
    auto block = std::make_unique<char[]>(size); // zero-filled, so every page is touched
    EXPECT_GE(plat::heapBytesInUse() - before, size / 2);
    EXPECT_EQ(block[size - 1], 0);
}
#endif
