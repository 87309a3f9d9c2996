// The call beacon as a parent reads it: the call the host thread is in, innermost first,
// a call another thread is in, and nothing once every call returned; the host thread's
// progress.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "asio/callBeacon.h"

namespace {

void ignoreThrow(telDriverCall, const char*) noexcept {}

} // namespace

TEST(CallBeacon, NamesTheCallEachThreadIsIn) {
    alignas(64) unsigned char block[callBeaconBytes] = {};
    EXPECT_FALSE(readCallBeacon(block).valid);
    installCallBeacon(block);

    CallBeaconReading inside, nested, withOther;
    callDriver(telDriverCall::stop, 0, ignoreThrow, [&] {
        inside = readCallBeacon(block);
        callDriver(telDriverCall::getSamplePosition, 0, ignoreThrow, [&] {
            nested = readCallBeacon(block);
            return 0;
        });
        // Another thread enters outputReady and stays there while the host thread looks.
        std::atomic<bool> entered{false}, leave{false};
        std::thread callback([&] {
            callDriver(telDriverCall::outputReady, 0, ignoreThrow, [&] {
                entered = true;
                while (!leave)
                    std::this_thread::yield();
                return 0;
            });
        });
        while (!entered)
            std::this_thread::yield();
        withOther = readCallBeacon(block);
        leave = true;
        callback.join();
        return 0;
    });
    const CallBeaconReading after = readCallBeacon(block);
    // The host thread's waits beat without a call.
    beatCallBeacon();
    const CallBeaconReading beaten = readCallBeacon(block);
    CallBeaconReading next;
    callDriver(telDriverCall::disposeBuffers, 0, ignoreThrow, [&] {
        next = readCallBeacon(block);
        return 0;
    });
    installCallBeacon(nullptr);

    // One outermost call of the host thread keeps its serial while calls nest in it and
    // other threads call; the next one has another.
    EXPECT_NE(inside.hostCallSerial, 0u);
    EXPECT_EQ(nested.hostCallSerial, inside.hostCallSerial);
    EXPECT_EQ(withOther.hostCallSerial, inside.hostCallSerial);
    EXPECT_GT(withOther.callsBegun, inside.callsBegun);
    EXPECT_EQ(next.hostCall, telDriverCall::disposeBuffers);
    EXPECT_NE(next.hostCallSerial, inside.hostCallSerial);

    EXPECT_TRUE(inside.valid);
    EXPECT_EQ(inside.hostCall, telDriverCall::stop);
    EXPECT_EQ(inside.otherCall, telDriverCall::none);
    EXPECT_EQ(nested.hostCall, telDriverCall::getSamplePosition);
    EXPECT_EQ(nested.hostOuterCall, telDriverCall::stop);
    EXPECT_EQ(withOther.hostCall, telDriverCall::stop);
    EXPECT_EQ(withOther.otherCall, telDriverCall::outputReady);
    EXPECT_EQ(after.hostCall, telDriverCall::none);
    EXPECT_EQ(after.otherCall, telDriverCall::none);
    EXPECT_EQ(after.callsBegun, 3u);
    // The host thread's progress: its outer call, not the one nested in it nor the other
    // thread's, and its beat.
    EXPECT_EQ(after.hostProgress, 1u);
    EXPECT_EQ(beaten.hostProgress, 2u);
}

// A driver that calls back on the host's thread from inside start, over and over, never
// returns from start: the calls the host makes from those callbacks are not progress.
TEST(CallBeacon, CallsNestedInAnOuterCallAreNoProgress) {
    alignas(64) unsigned char block[callBeaconBytes] = {};
    installCallBeacon(block);
    uint32_t before = 0, during = 0;
    callDriver(telDriverCall::start, 0, ignoreThrow, [&] {
        before = readCallBeacon(block).hostProgress;
        for (int k = 0; k < 5; ++k)
            callDriver(telDriverCall::getSamplePosition, 0, ignoreThrow, [] { return 0; });
        during = readCallBeacon(block).hostProgress;
        return 0;
    });
    callDriver(telDriverCall::stop, 0, ignoreThrow, [] { return 0; });
    const CallBeaconReading after = readCallBeacon(block);
    installCallBeacon(nullptr);

    EXPECT_EQ(during, before);
    EXPECT_EQ(after.hostProgress, before + 1);
    EXPECT_EQ(after.callsBegun, 7u);
}
