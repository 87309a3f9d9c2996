// Callback slots, dispatch through the slot procedures, the driver object's default
// handling of callbacks, and attaching and detaching buffer processors.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "asioTestFixture.h"
#include "util/telUtils.h"

namespace {

// Records what reaches it; passes plain switches on unless handlesSwitch, handles the rest while `handles`.
class RecordingProcessor : public telAsioBufferProcessor {
  public:
    using telAsioBufferProcessor::telAsioBufferProcessor;
    telBool handles = telTrue, handlesSwitch = telFalse;
    int32_t switches = 0, timeInfos = 0, rates = 0, lastIndex = -1, answer = 0;
    ASIOTime lastTime{};

    telBool doBufferSwitch(int32_t, telBool) override { return ++switches, handlesSwitch; }
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool, pASIOTime) override {
        return ++timeInfos, lastIndex = index, lastTime = *timeInfo, handles;
    }
    telBool doSampleRateChanged(double) override { return ++rates, handles; }
    telBool doAsioMessage(int32_t, int32_t, void*, double*, int32_t& result) override {
        return result = answer, handles;
    }
};

} // namespace

using CallbackSlots = AsioTest;

TEST_F(CallbackSlots, ConcurrentTakersGetDistinctSlotsAFullTableRefusesAndAHeldGateAfterAWhile) {
    std::vector<telOwned<telAsioDriver>> objects;
    for (int32_t i = 0; i <= telCallbackSlotCount; ++i)
        objects.push_back(telCreate<telAsioDriver>(&driver));
    std::vector<int32_t> got(telCallbackSlotCount, -2);
    auto take = [&](int32_t first) {
        for (int32_t i = first; i < telCallbackSlotCount; i += 2)
            got[i] = allocateCallbackSlot(objects[i].get());
    };
    std::thread other(take, 1);
    take(0);
    other.join();
    for (int32_t i = 0; i < telCallbackSlotCount; ++i) // so no two share one
        ASSERT_TRUE(got[i] >= 0 && callbackSlots[got[i]] == objects[i].get()) << i;

    EXPECT_EQ(allocateCallbackSlot(objects[16].get()), -1);
    EXPECT_EQ(telCreate<telAsioDriver>(&driver)->init(0, telTrue, 256), ASE_NoMemory) << "init needs a slot";
    freeCallbackSlot(got[9]);
    freeCallbackSlot(got[3]);
    EXPECT_EQ(allocateCallbackSlot(objects[16].get()), std::min(got[3], got[9])) << "the lowest free one";
    for (int32_t slot = 0; slot < telCallbackSlotCount; ++slot)
        freeCallbackSlot(slot);

    ASSERT_NE(gateEnter(callbackSlotGate()), telFalse); // held elsewhere: takers give up after ~200 ms
    const uint64_t mark = timeMark();
    EXPECT_EQ(allocateCallbackSlot(objects[0].get()), -1);
    // It waited for the gate, and gave up rather than wait on for ever (the bound is
    // only that: a loaded machine may stretch the wait).
    EXPECT_GT(timeElapsed(mark), 200u);
    EXPECT_LT(timeElapsed(mark), 30000u);
    EXPECT_EQ(callbackSlotGate(), 1); // failed attempts leave no count behind
    gateLeave(callbackSlotGate());

    ASIOTime time{};
    for (const ASIOCallbacks& procs : slotCallbacks) { // every slot is free now
        procs.bufferSwitch(0, 1), procs.sampleRateChanged(44100.0);
        EXPECT_TRUE(procs.bufferSwitchTimeInfo(&time, 0, 1) == nullptr &&
                    procs.asioMessage(2, 0, nullptr, nullptr) == 0);
    }
}

TEST_F(CallbackSlots, RouteToTheirObjectWhoseProcessorGetsATimeRecordEvenBesideSlotChangesAndMayBeReplaced) {
    auto other = telCreate<telAsioDriver>(&driver); // holds slot 0, so the object under test gets slot 1
    ASSERT_EQ(other->init(0, telFalse, 0), ASE_OK);
    driver.script.position = {1, 2}; // high word first, as is the time stamp
    driver.script.timeStamp = {0x12345678u, 0x9ABCDEF0u};
    auto object = prepared();
    auto processor = telCreate<RecordingProcessor>(object.get());
    ASSERT_EQ(object->callbackSlot(), 1);
    driver.fillBuffers(0xAB);
    driver.clearLog();

    driver.fireBufferSwitch(1, 1);
    EXPECT_TRUE(processor->switches == 1 && processor->timeInfos == 1 && processor->lastIndex == 1);
    const AsioTimeInfo& info = processor->lastTime.timeInfo; // packed: fields are read by value
    EXPECT_EQ(double{info.sampleRate}, 48000.0);
    EXPECT_EQ(int64_t{info.samplePosition}, 4294967298);
    EXPECT_EQ(int64_t{info.systemTime}, 0x123456789ABCDEF0);
    EXPECT_EQ(uint32_t{info.flags}, kSystemTimeValid | kSamplePositionValid);
    EXPECT_EQ(driver.callCount(Op::outputReady), 0); // a handling processor fills and announces outputs
    EXPECT_EQ(driver.buffer(false, 0, 1)[0], 0xAB);

    driver.failWith(Op::getSamplePosition, -1);
    driver.fireBufferSwitch(0, 1);
    EXPECT_EQ(uint32_t{processor->lastTime.timeInfo.flags}, 0u);
    processor->handlesSwitch = telTrue; // a handled plain switch ends there
    driver.fireBufferSwitch(0, 1);
    ASIOTime time{};
    EXPECT_EQ(driver.fireBufferSwitchTimeInfo(&time, 0, 0), &time);
    driver.fireSampleRateChanged(96000.0);
    processor->answer = 77;
    EXPECT_EQ(driver.fireAsioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 77);
    EXPECT_TRUE(processor->timeInfos == 3 && processor->rates == 1);

    processor->handlesSwitch = telFalse; // callbacks from the driver's thread beside slot changes
    std::thread audio([&] {
        for (int32_t i = 0; i < 2000; ++i)
            driver.fireBufferSwitch(i & 1, 1);
    });
    for (int32_t round = 0; round < 1000; ++round)
        freeCallbackSlot(allocateCallbackSlot(other.get()));
    audio.join();
    EXPECT_EQ(processor->timeInfos, 2003);

    // A new processor replaces the attached one, which may then go; one may outlive its object.
    auto second = telCreate<RecordingProcessor>(object.get());
    EXPECT_TRUE(object->bufferProcessor() == second.get() && processor->drv() == nullptr);
    processor.reset();
    EXPECT_EQ(object->bufferProcessor(), second.get());
    object.reset();
    EXPECT_EQ(second->drv(), nullptr); // so freeing it later does not touch the freed object
}

TEST_F(CallbackSlots, WithoutAProcessorOutputsOfTheHalfAreSilencedAndMessagesGetBuiltInAnswers) {
    driver.script.outputs = 8;
    driver.setChannelActive(false, 3, false);
    driver.setChannelType(false, 5, ASIOSTFloat64LSB);
    driver.setChannelType(false, 6, ASIOSTInt16LSB);
    auto object = prepared();
    driver.fillBuffers(0xAB);
    driver.clearLog();
    driver.fireBufferSwitch(1, 1);
    for (int32_t out = 0; out < 8; ++out) {
        int32_t bytes = driver.bufferBytes(false, out);
        EXPECT_EQ(allBytesAre(driver.buffer(false, out, 1), bytes, 0), out != 3) << "output " << out;
        EXPECT_TRUE(allBytesAre(driver.buffer(false, out, 0), bytes, 0xAB)) << "output " << out;
    }
    EXPECT_EQ(driver.buffer(true, 1, 1)[0], 0xAB);
    EXPECT_EQ(driver.callCount(Op::outputReady), 1);

    driver.fillBuffers(0xAB);
    driver.fireBufferSwitch(2, 1); // not a half: nothing is written, the notice still goes out
    EXPECT_EQ(driver.buffer(false, 0, 1)[0], 0xAB);
    EXPECT_EQ(driver.callCount(Op::outputReady), 2);
    object.reset();
    driver.script.outputReadyStatus = ASE_NotPresent; // a driver that does not want the notice
    object = prepared();
    driver.fireBufferSwitch(0, 1);
    EXPECT_EQ(driver.callCount(Op::outputReady), 3) << "only the question asked while preparing";

    auto message = [&](int32_t selector, int32_t value) {
        return driver.fireAsioMessage(selector, value, nullptr, nullptr);
    };
    const int32_t supported[] = {0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1}; // for selectors 0 to 10
    const int32_t answer[] = {0, 0, 2, 1, 0, 1, 1, 1, 0, 0, 0};
    for (int32_t selector = 0; selector <= 10; ++selector) {
        EXPECT_EQ(message(kAsioSelectorSupported, selector), supported[selector]) << selector;
        EXPECT_EQ(message(selector, 512), answer[selector]) << selector;
        EXPECT_EQ(object->shouldReset() != telFalse, selector >= kAsioResetRequest) << selector;
    }
}

namespace {

// Stays inside its time-info hook until let go (or a time limit passes).
class HoldingProcessor : public telAsioBufferProcessor {
  public:
    using telAsioBufferProcessor::telAsioBufferProcessor;
    std::atomic<bool> inside{false}, letGo{false};
    std::atomic<uint32_t> holdMs{5000};
    std::atomic<uint64_t> calls{0};

    telBool doBufferSwitchTimeInfo(pASIOTime, int32_t, telBool, pASIOTime) override {
        ++calls;
        inside = true;
        const uint64_t mark = timeMark();
        while (!letGo && timeElapsed(mark) < holdMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        inside = false;
        return telTrue;
    }
};

} // namespace

// A driver that goes on calling back (its stop failed, say) may be inside the processor
// when the program detaches it: the detach returns only once that callback has left, and
// gives up, saying so, when it never does. Buffer switches after the buffers were
// disposed do not reach the handlers at all.
TEST_F(CallbackSlots, DetachingWaitsUntilNoCallbackIsInsideTheProcessor) {
    auto object = prepared();
    auto processor = telCreate<HoldingProcessor>(object.get());
    std::thread driverThread([&] { driver.fireBufferSwitch(0, 1); });
    while (!processor->inside)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::atomic<bool> detached{false};
    bool settled = false;
    std::thread detacher([&] {
        settled = object->setBufferProcessor(nullptr);
        detached = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(detached) << "the detach returned while a callback was inside the processor";
    EXPECT_EQ(processor->drv(), object.get()) << "the processor lost its driver while still in use";
    processor->letGo = true;
    detacher.join();
    driverThread.join();
    EXPECT_TRUE(settled);
    EXPECT_EQ(processor->drv(), nullptr);

    // A callback that never leaves: the detach gives up after its wait and says so.
    object->setBufferProcessor(processor.get());
    processor->letGo = false;
    processor->holdMs = telCallbackLeaveWaitMs + 1000;
    std::thread stuck([&] { driver.fireBufferSwitch(1, 1); });
    while (!processor->inside)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t mark = timeMark();
    EXPECT_FALSE(object->setBufferProcessor(nullptr));
    EXPECT_GE(timeElapsed(mark), uint64_t{telCallbackLeaveWaitMs});
    processor->letGo = true;
    stuck.join();

    // A driver calling back after its buffers were disposed is answered at once; nothing
    // reaches the processor.
    object->setBufferProcessor(processor.get());
    const ASIOCallbacks slot = slotCallbacks[object->callbackSlot()];
    object->stop(telTrue);
    processor->letGo = false;
    processor->holdMs = 0;
    const uint64_t before = processor->calls;
    slot.bufferSwitch(0, 1);
    EXPECT_EQ(slot.bufferSwitchTimeInfo(nullptr, 0, 1), nullptr);
    EXPECT_EQ(processor->calls, before);
    telFree(processor);
}

// A driver whose stop failed and whose callback never leaves: releasing it gives the
// slot up but goes on waiting on it, and nothing the callback may touch (the buffers,
// the tables, the processor) is disposed, cleared or detached until the callback has
// been seen to leave.
TEST_F(CallbackSlots, AfterAFailedStopNothingACallbackMayTouchGoesWhileItIsInside) {
    driver.failWith(Op::stop, ASE_NotPresent);
    auto object = prepared();
    auto processor = telCreate<HoldingProcessor>(object.get());
    ASSERT_EQ(object->start(telFalse, -1), ASE_OK);
    processor->holdMs = 60000;
    std::thread stuck([&] { driver.fireBufferSwitch(0, 1); });
    while (!processor->inside)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_NE(object->stop(telTrue), ASE_OK);
    object->release();
    EXPECT_TRUE(object->callbackStillInside());
    EXPECT_EQ(driver.callCount(Op::disposeBuffers), 0) << "buffers disposed under a callback";
    ASSERT_NE(object->getBufferInfoByIndex(0), nullptr);
    EXPECT_NE(static_cast<void*>(object->getBufferInfoByIndex(0)->buffers[0]), nullptr)
        << "tables cleared under a callback";
    EXPECT_FALSE(object->setBufferProcessor(nullptr)) << "the detach claimed that no callback was inside";
    EXPECT_EQ(processor->drv(), object.get());

    processor->letGo = true;
    stuck.join();
    EXPECT_TRUE(object->setBufferProcessor(nullptr)) << "the callback left, yet the wait still gave up";
    EXPECT_FALSE(object->callbackStillInside());
    object->release();
    EXPECT_EQ(driver.callCount(Op::disposeBuffers), 1);
    EXPECT_FALSE(driver.buffersExist());
    telFree(processor);
}
