#include <gtest/gtest.h>

#include <thread>

#include "util/telUtils.h"

static uint32_t fakeTick = 0;

TEST(Clock, ContinuesAcrossTheFirstWrap) {
    constexpr uint64_t wrap = uint64_t{1} << 32;
    fakeTick = 0xFFFFFFF0;
    setTickSourceForTesting([] { return fakeTick; });
    EXPECT_EQ(timeMark(), 0xFFFFFFF0u);
    fakeTick = 0x10;
    const uint64_t afterWrap = timeMark();
    EXPECT_EQ(afterWrap, wrap + 0x10);
    // Once past the first tick again the raised base carries the count on.
    fakeTick = 0xFFFFFFF8;
    EXPECT_EQ(timeMark(), wrap + 0xFFFFFFF8);
    EXPECT_EQ(timeElapsed(afterWrap), 0xFFFFFFE8u);
    EXPECT_EQ(timeElapsed32(0xF0), 0xFFFFFF08u);
    EXPECT_EQ(timeElapsed(wrap * 2), 0u); // a mark in the future
    setTickSourceForTesting(nullptr);
}

TEST(Gates, FailedEntriesAreUndoneAndExcludeOtherThreads) {
    int32_t gate = 0;
    EXPECT_EQ(gateEnter(gate), telTrue);
    EXPECT_FALSE(gateEnter(gate));
    EXPECT_EQ(gate, 2);
    EXPECT_FALSE(gateLeave(gate));
    EXPECT_EQ(gateLeave(gate), telTrue);

    int64_t guarded = 0; // changed only inside the gate
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            while (!gateEnter(gate))
                gateLeave(gate);
            ++guarded;
            gateLeave(gate);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(guarded, 40000);
    EXPECT_EQ(gate, 0);
}
