// telObject: two-step creation and destruction, zeroed memory, the lock and the process gate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/telClasses.h"
#include "platform/platform.h"

namespace {

std::vector<std::string> journal;

// Writes each step of its life, with the destroying flag as it stood then, to `journal`.
class JournalObject : public telObject {
  public:
    JournalObject() { note("constructor"); }
    ~JournalObject() override { note("destructor"); }
    void AfterConstruction() override {
        note("after");
        telObject::AfterConstruction();
    }
    void BeforeDestruction() override {
        telObject::BeforeDestruction();
        note("before");
    }
    void note(const char* step) {
        journal.push_back(std::string(step) + (destroying() ? " destroying" : " alive"));
    }
    uint8_t f_block[40]; // no initialiser, and the constructor leaves it alone
};

// A one-slot hand-over between two threads. (std::binary_semaphore hangs in the
// Windows builds' runtime, so this is a mutex and a condition variable.)
class Signal {
  public:
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = true;
        changed_.notify_one();
    }
    void acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return raised_; });
        raised_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

// Runs the steps a test hands it one at a time, so that threads' lock calls interleave in a fixed order.
class TestThread {
  public:
    ~TestThread() {
        run(nullptr);
        worker_.join();
    }
    uint32_t id() const { return id_; }
    // Runs `step` on the thread and returns its result; an empty step ends the thread.
    telBool run(std::function<telBool()> step) {
        step_ = std::move(step);
        handed_.release();
        done_.acquire();
        return result_;
    }

  private:
    Signal handed_, done_;
    std::function<telBool()> step_;
    telBool result_ = telFalse;
    std::thread worker_{[this] {
        for (bool last = false; !last; done_.release()) {
            handed_.acquire();
            last = step_ == nullptr;
            result_ = last ? telFalse : step_();
        }
    }};
    uint32_t id_ = uint32_t(run([] { return telBool(plat::currentThreadId()); })); // once the worker runs
};

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ObjectLock : public ::testing::Test {
  protected:
    telOwned<telObject> object = telCreate<telObject>();
    TestThread first, second;

    // Every test leaves the object free; a gate left taken is given back for the next test.
    void TearDown() override {
        EXPECT_EQ(state(), "w0 r0");
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
    // Threads by letter: - none (a free entry), A and B the test threads, M this one.
    char nameOf(uint32_t id) const {
        const uint32_t ids[] = {0, first.id(), second.id(), plat::currentThreadId()};
        return "-ABM?"[std::find(std::begin(ids), std::end(ids), id) - std::begin(ids)];
    }
    // "w<write gate> r<read count>", then the table's entries as thread and r or w, up to the last used one.
    std::string state() const {
        std::string text =
            "w" + std::to_string(object->writeGate()) + " r" + std::to_string(object->readCount());
        if (object->writeEnteringThread() != 0) text += " entering";
        for (int32_t i = 0; i < object->threadCount(); ++i)
            text += object->threadEntry(i) == 0
                        ? std::string(" -")
                        : std::string{' ', nameOf(object->threadEntry(i)), object->threadOp(i) ? 'r' : 'w'};
        while (text.ends_with(" -"))
            text.resize(text.size() - 2);
        return text;
    }
    std::string gate() const {
        return std::to_string(telObject::processWideGate()) + nameOf(telObject::processWideOwner());
    }
};

} // namespace

TEST(ObjectLifecycle, StartsZeroedRunsTheStepsInOrderAndRaisesTheFlagOnlyForDestruction) {
    // A dirty freed block of the same size shows memory handed out again without clearing.
    void* dirty = std::malloc(sizeof(JournalObject));
    std::memset(dirty, 0xA5, sizeof(JournalObject));
    std::free(dirty);
    journal.clear();
    telOwned<JournalObject> object = telCreate<JournalObject>();
    EXPECT_EQ(std::count(std::begin(object->f_block), std::end(object->f_block), 0), 40);
    object->note("in use");
    telFree(object);
    EXPECT_EQ(journal, (std::vector<std::string>{"constructor alive", "after alive", "in use alive",
                                                 "before destroying", "destructor destroying"}));
}

TEST_F(ObjectLock, ReadersOfTwoThreadsShareTheObjectKeepWritersOutAndLeaveReusableEntries) {
    EXPECT_TRUE(lock(first, telTrue, 100));
    EXPECT_TRUE(lock(second, telTrue, 100));
    EXPECT_EQ(state(), "w0 r2 Ar Br");
    // No one may write while both are inside, and a release must match the caller's newest entry.
    EXPECT_FALSE(object->acquire(telFalse, 30, telFalse));
    EXPECT_FALSE(lock(first, telFalse, 20));
    EXPECT_FALSE(object->releaseRO());
    EXPECT_FALSE(unlock(first, telFalse));
    EXPECT_EQ(state(), "w0 r2 Ar Br");
    // Releasing the lower entry first leaves a hole below a live entry, which is reused.
    EXPECT_TRUE(unlock(first, telTrue));
    EXPECT_EQ(state(), "w0 r1 - Br");
    ASSERT_TRUE(lock(first, telTrue, 100));
    EXPECT_EQ(state(), "w0 r2 Ar Br");
    EXPECT_TRUE(unlock(first, telTrue));
    EXPECT_TRUE(unlock(second, telTrue));
    // Only free entries are left, so a writer gets in on its first cycle.
    EXPECT_TRUE(object->acquire(telFalse, 0, telFalse));
    EXPECT_EQ(state(), "w1 r0 Mw");
    EXPECT_TRUE(object->releaseWO());
}

TEST_F(ObjectLock, WriterExcludesWritersAndReadersOfOtherThreadsForTheWholeTimeout) {
    ASSERT_TRUE(lock(first, telFalse, 100));
    for (const telBool ro : {telFalse, telTrue}) {
        const auto start = Clock::now();
        EXPECT_FALSE(lock(second, ro, 40)) << ro;
        EXPECT_GE(Clock::now() - start, 40ms) << ro;
    }
    EXPECT_EQ(state(), "w1 r0 Aw");
    EXPECT_TRUE(unlock(first, telFalse));
}

TEST_F(ObjectLock, SoleHolderEntersAgainAtOnceAndReleasesNewestFirst) {
    // Timeout 0 leaves no room to wait: only re-entrance lets the later ones through.
    for (const telBool ro : {telFalse, telFalse, telTrue})
        EXPECT_TRUE(object->acquire(ro, 0, telFalse)) << ro;
    EXPECT_EQ(state(), "w2 r1 Mw Mw Mr");
    EXPECT_FALSE(object->releaseWO()) << "the newest entry is a read";
    EXPECT_EQ(state(), "w2 r1 Mw Mw Mr");
    EXPECT_TRUE(object->releaseRO());
    EXPECT_FALSE(object->releaseRO());
    EXPECT_TRUE(object->releaseWO());
    EXPECT_TRUE(object->releaseWO());
}

TEST_F(ObjectLock, WritersNeverShareTheObjectUnderContention) {
    // A writer inside counts 100, a reader 1: a writer must find 0, a reader less than 100.
    std::atomic<int> inside{0}, faults{0};
    std::vector<std::thread> threads;
    for (const bool writer : {true, true, false, false}) // none holds anything when it asks
        threads.emplace_back([&, writer] {
            for (int round = 0; round < 40; ++round) {
                if (!object->acquire(toTelBool(!writer), 20000, telFalse)) return void(++faults);
                const int before = inside.fetch_add(writer ? 100 : 1);
                if (writer ? before != 0 : before >= 100) ++faults;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                inside -= writer ? 100 : 1;
                if (!(writer ? object->releaseWO() : object->releaseRO())) ++faults;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0);
}

TEST_F(ObjectLock, DestructionTakesTheProcessGateOnlyWhileTheObjectIsHeld) {
    ASSERT_TRUE(object->acquire(telTrue, 0, telFalse));
    ASSERT_TRUE(object->releaseRO());
    object = telCreate<telObject>(); // destroys the old one
    EXPECT_EQ(gate(), "0-");
    object->acquire(telTrue);
    object = telCreate<telObject>();
    EXPECT_EQ(gate(), "1M") << "one attempt, kept: destruction does not give the gate back";
}

TEST_F(ObjectLock, ProcessGateTimedEntryFailsWhileHeldAndReleaseReopens) {
    EXPECT_TRUE(object->acquire(telTrue, 0, telTrue)); // the object and ro play no part
    EXPECT_EQ(gate(), "1M");
    EXPECT_FALSE(first.run([&] { return object->acquire(telFalse, 0, telTrue); }));
    EXPECT_FALSE(telObject::acquireProcessWide(0)) << "the gate does not re-enter";
    const auto start = Clock::now();
    EXPECT_FALSE(first.run([] { return telObject::acquireProcessWide(100); }));
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_FALSE(first.run([] { return telObject::acquireProcessWide(-20); }))
        << "-20 waits 20 ms, not forever";
    EXPECT_EQ(gate(), "1M");
    EXPECT_TRUE(telObject::releaseProcessWide());
    EXPECT_FALSE(telObject::releaseProcessWide());
    EXPECT_EQ(gate(), "0-");
    EXPECT_TRUE(first.run([] { return telObject::acquireProcessWide(0); }));
    EXPECT_EQ(gate(), "1A");
}

TEST_F(ObjectLock, ProcessGateUnlimitedEntryWaitsUntilTheGateIsReleased) {
    ASSERT_TRUE(telObject::acquireProcessWide(0));
    auto waiter = std::async(std::launch::async, [] {
        telObject::acquireProcessWide();
        return plat::currentThreadId();
    });
    EXPECT_EQ(waiter.wait_for(80ms), std::future_status::timeout);
    EXPECT_TRUE(telObject::releaseProcessWide());
    const uint32_t waiterId = waiter.get();
    EXPECT_EQ(telObject::processWideGate(), 1);
    EXPECT_EQ(telObject::processWideOwner(), waiterId);
}
