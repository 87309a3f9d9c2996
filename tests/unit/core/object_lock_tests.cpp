#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/telClasses.h"
#include "testThread.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class ObjectLock : public ::testing::Test {
  protected:
    telOwned<telObject> object = telCreate<telObject>();
    TestThread first;
    TestThread second;

    // An object destroyed while held takes the process gate; give it back so that one
    // failed test does not spill into the next.
    void TearDown() override {
        object.reset();
        while (telObject::processWideGate() > 0)
            telObject::releaseProcessWide();
    }

    telBool lock(TestThread& thread, telBool ro, int32_t timeout) {
        return thread.run([=, this] { return object->acquire(ro, timeout, telFalse); });
    }
    telBool unlock(TestThread& thread, telBool ro) {
        return thread.run([=, this] { return ro ? object->releaseRO() : object->releaseWO(); });
    }
    void expectCounters(int32_t writeGate, int32_t readCount) {
        EXPECT_EQ(object->writeGate(), writeGate);
        EXPECT_EQ(object->readCount(), readCount);
        EXPECT_EQ(object->writeEnteringThread(), 0u);
    }
    // No holder left: counters at 0 and only free entries in the thread table.
    void expectFree() {
        expectCounters(0, 0);
        for (int32_t i = 0; i < object->threadCount(); ++i)
            EXPECT_EQ(object->threadEntry(i), 0u) << i;
    }
};

} // namespace

TEST_F(ObjectLock, ReadersOfTwoThreadsShareTheObjectAndKeepWritersOut) {
    EXPECT_FALSE(object->releaseRO());
    EXPECT_TRUE(lock(first, telTrue, 100));
    EXPECT_TRUE(lock(second, telTrue, 100));
    expectCounters(0, 2);
    ASSERT_EQ(object->threadCount(), 2);
    EXPECT_EQ(object->threadEntry(0), first.id());
    EXPECT_EQ(object->threadEntry(1), second.id());
    EXPECT_EQ(object->threadOp(0), 1);
    EXPECT_EQ(object->threadOp(1), 1);

    // Neither a third thread nor one of the readers may write while both are inside.
    EXPECT_FALSE(object->acquire(telFalse, 30, telFalse));
    EXPECT_FALSE(lock(first, telFalse, 20));
    expectCounters(0, 2);
    EXPECT_EQ(object->threadCount(), 2);
    // A release must match the caller's own newest entry.
    EXPECT_FALSE(object->releaseRO());
    EXPECT_FALSE(unlock(first, telFalse));

    EXPECT_TRUE(unlock(first, telTrue));
    EXPECT_TRUE(unlock(second, telTrue));
    expectFree();
}

TEST_F(ObjectLock, WriterExcludesWritersAndReadersOfOtherThreads) {
    ASSERT_TRUE(lock(first, telFalse, 100));
    expectCounters(1, 0);
    ASSERT_EQ(object->threadCount(), 1);
    EXPECT_EQ(object->threadEntry(0), first.id());
    EXPECT_EQ(object->threadOp(0), 0);

    auto start = Clock::now();
    EXPECT_FALSE(lock(second, telFalse, 50));
    EXPECT_GE(millisecondsSince(start), 50);
    expectCounters(1, 0);
    start = Clock::now();
    EXPECT_FALSE(lock(second, telTrue, 30));
    EXPECT_GE(millisecondsSince(start), 30);
    expectCounters(1, 0);
    EXPECT_EQ(object->threadCount(), 1);

    EXPECT_TRUE(unlock(first, telFalse));
    EXPECT_TRUE(lock(second, telFalse, 100));
    EXPECT_TRUE(unlock(second, telFalse));
    expectFree();
}

TEST_F(ObjectLock, SoleHolderEntersAgainAtOnceAndReleasesNewestFirst) {
    ASSERT_TRUE(object->acquire(telFalse, 0, telFalse));
    // Timeout 0 leaves no room to wait: only re-entrance lets these through.
    EXPECT_TRUE(object->acquire(telFalse, 0, telFalse));
    EXPECT_TRUE(object->acquire(telTrue, 0, telFalse));
    expectCounters(2, 1);
    ASSERT_EQ(object->threadCount(), 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(object->threadEntry(i), plat::currentThreadId());
    EXPECT_EQ(object->threadOp(1), 0);
    EXPECT_EQ(object->threadOp(2), 1);

    // The newest entry is a read: a write release is refused and changes nothing.
    EXPECT_FALSE(object->releaseWO());
    expectCounters(2, 1);
    EXPECT_EQ(object->threadCount(), 3);

    EXPECT_TRUE(object->releaseRO());
    EXPECT_FALSE(object->releaseRO());
    EXPECT_TRUE(object->releaseWO());
    EXPECT_TRUE(object->releaseWO());
    EXPECT_EQ(object->threadCount(), 0);
    expectFree();
}

TEST_F(ObjectLock, FreedEntriesAreReusedAndDoNotBlockLaterWriters) {
    ASSERT_TRUE(lock(first, telTrue, 100));
    ASSERT_TRUE(lock(second, telTrue, 100));
    // Releasing the lower entry first leaves a hole below a live entry, which is reused.
    EXPECT_TRUE(unlock(first, telTrue));
    EXPECT_EQ(object->threadEntry(0), 0u);
    ASSERT_TRUE(lock(first, telTrue, 100));
    EXPECT_EQ(object->threadCount(), 2);
    EXPECT_EQ(object->threadEntry(0), first.id());

    EXPECT_TRUE(unlock(first, telTrue));
    EXPECT_TRUE(unlock(second, telTrue));
    // Only free entries are left, so a writer gets in on its first cycle.
    EXPECT_TRUE(object->acquire(telFalse, 0, telFalse));
    EXPECT_EQ(object->threadEntry(0), plat::currentThreadId());
    EXPECT_TRUE(object->releaseWO());
    expectFree();
}

TEST_F(ObjectLock, WritersNeverShareTheObjectUnderContention) {
    std::atomic<int> writersInside{0}, readersInside{0}, overlaps{0}, failures{0};
    // Two writers and two readers; none holds anything when it asks.
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([&, writer = w < 2] {
            std::atomic<int>& mine = writer ? writersInside : readersInside;
            for (int round = 0; round < 40; ++round) {
                if (!object->acquire(toTelBool(!writer), 20000, telFalse)) {
                    ++failures;
                    continue;
                }
                const int before = mine++;
                if (writersInside.load() != (writer ? 1 : 0) ||
                    (writer && (before != 0 || readersInside.load() != 0)))
                    ++overlaps;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                --mine;
                if (!(writer ? object->releaseWO() : object->releaseRO())) ++failures;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    expectFree();
}
