#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/telClasses.h"
#include "testThread.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Every test starts and ends with a free process gate.
class ProcessGate : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(telObject::processWideGate(), 0); }
    void TearDown() override {
        while (telObject::processWideGate() > 0)
            telObject::releaseProcessWide();
    }
};

} // namespace

TEST_F(ProcessGate, TimedEntryFailsWhileHeldAndReleaseReopens) {
    telOwned<telObject> object = telCreate<telObject>();
    TestThread other;
    // The object and ro play no part on this path.
    EXPECT_TRUE(object->acquire(telTrue, 0, telTrue));
    EXPECT_EQ(telObject::processWideGate(), 1);
    EXPECT_EQ(telObject::processWideOwner(), plat::currentThreadId());
    EXPECT_EQ(object->readCount(), 0);

    auto start = Clock::now();
    EXPECT_FALSE(other.run([&] { return object->acquire(telFalse, 0, telTrue); }));
    EXPECT_FALSE(telObject::acquireProcessWide(0));
    EXPECT_LT(millisecondsSince(start), 1000);
    start = Clock::now();
    EXPECT_FALSE(other.run([] { return telObject::acquireProcessWide(100); }));
    EXPECT_GE(millisecondsSince(start), 100);
    // A negative timeout other than -1 counts as its magnitude.
    EXPECT_FALSE(other.run([] { return telObject::acquireProcessWide(-20); }));
    EXPECT_EQ(telObject::processWideGate(), 1);
    EXPECT_EQ(telObject::processWideOwner(), plat::currentThreadId());

    EXPECT_TRUE(telObject::releaseProcessWide());
    EXPECT_EQ(telObject::processWideGate(), 0);
    EXPECT_EQ(telObject::processWideOwner(), 0u);
    EXPECT_FALSE(telObject::releaseProcessWide());
    EXPECT_EQ(telObject::processWideGate(), 0);
    EXPECT_TRUE(other.run([] { return telObject::acquireProcessWide(0); }));
    EXPECT_EQ(telObject::processWideOwner(), other.id());
}

TEST_F(ProcessGate, UnlimitedEntryWaitsUntilTheGateIsReleased) {
    ASSERT_TRUE(telObject::acquireProcessWide(0));
    TestThread waiter;
    waiter.start([] {
        telObject::acquireProcessWide();
        return telTrue;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_FALSE(waiter.finished());
    EXPECT_TRUE(telObject::releaseProcessWide());
    EXPECT_TRUE(waiter.wait());
    EXPECT_EQ(telObject::processWideGate(), 1);
    EXPECT_EQ(telObject::processWideOwner(), waiter.id());
}
