// Clocks, sleeping, thread identity and calendar time.
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "platform/platform.h"

namespace {

TEST(PlatformClock, BothClocksAdvanceAcrossASleep) {
    const uint32_t tick = plat::tickCount(), clock = plat::systemClockMs();
    plat::sleepMs(60);
    // Unsigned differences stay right across a wrap; Windows ticks are about 16 ms coarse.
    EXPECT_GE(plat::tickCount() - tick, 40u);
    EXPECT_LT(plat::tickCount() - tick, 5000u);
    EXPECT_GE(plat::systemClockMs() - clock, 40u);
    EXPECT_LT(plat::systemClockMs() - clock, 5000u);
}

TEST(PlatformClock, ThreadIdentifiersAreNonZeroAndDistinct) {
    uint32_t other = 0;
    std::thread([&] { other = plat::currentThreadId(); }).join();
    EXPECT_NE(plat::currentThreadId(), 0u);
    EXPECT_NE(other, 0u);
    EXPECT_NE(plat::currentThreadId(), other);
}

// The date must agree with the C++ clock's; midnight between the readings is retried.
TEST(PlatformClock, UniversalDateMatchesTheSystemClock) {
    using namespace std::chrono;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const plat::CalendarTime t = plat::universalTime();
        const auto day = floor<days>(system_clock::now());
        const year_month_day date{day};
        if (static_cast<unsigned>(date.day()) != t.day) continue;
        EXPECT_EQ(t.year, static_cast<int>(date.year()));
        EXPECT_EQ(t.month, static_cast<unsigned>(date.month()));
        EXPECT_EQ(t.dayOfWeek, weekday{day}.c_encoding());
        EXPECT_LE(t.milliseconds, 999);
        return;
    }
    ADD_FAILURE() << "universal time never agreed on the day";
}

} // namespace
