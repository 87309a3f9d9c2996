// Callback slots, dispatch through the slot procedures, the driver object's default
// handling of callbacks, and attaching and detaching buffer processors.
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "asioTestFixture.h"
#include "util/telUtils.h"

using teltest::Op;

namespace {

// Records what reaches it and answers as told.
class RecordingProcessor : public telAsioBufferProcessor {
  public:
    explicit RecordingProcessor(telAsioDriver* driver) : telAsioBufferProcessor(driver) {}

    telBool handles = telFalse;
    int32_t switches = 0, timeInfoSwitches = 0, rateChanges = 0, messages = 0;
    int32_t lastIndex = -1;
    telBool lastProcessNow = telFalse;
    ASIOTime lastTime{};
    pASIOTime lastTimePointer = nullptr;
    double lastRate = 0.0;
    int32_t answer = 0;

    telBool doBufferSwitch(int32_t index, telBool processNow) override {
        ++switches;
        lastIndex = index;
        lastProcessNow = processNow;
        return handles;
    }
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool, pASIOTime time) override {
        ++timeInfoSwitches;
        lastIndex = index;
        lastTime = *timeInfo;
        lastTimePointer = time;
        return handles;
    }
    telBool doSampleRateChanged(double rate) override {
        ++rateChanges;
        lastRate = rate;
        return handles;
    }
    telBool doAsioMessage(int32_t, int32_t, void*, double*, int32_t& result) override {
        ++messages;
        if (handles) result = answer;
        return handles;
    }
};

// Overrides only the time-info hook, as a typical processor does.
class TimeInfoProcessor : public telAsioBufferProcessor {
  public:
    using telAsioBufferProcessor::telAsioBufferProcessor;
    ASIOTime seen{};
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t, telBool, pASIOTime) override {
        seen = *timeInfo;
        return telTrue;
    }
};

struct EventLog {
    int32_t switches = 0, timeInfos = 0, rates = 0;
    telAsioDriver* sender = nullptr;
    int32_t replaceAnswerWith = -1;
    int32_t answerSeen = -1;
};

void onSwitch(void* r, telAsioDriver* s, int32_t, telBool) {
    static_cast<EventLog*>(r)->switches++;
    static_cast<EventLog*>(r)->sender = s;
}
void onTimeInfo(void* r, telAsioDriver*, pASIOTime, int32_t, telBool, pASIOTime) {
    static_cast<EventLog*>(r)->timeInfos++;
}
void onRate(void* r, telAsioDriver*, double) {
    static_cast<EventLog*>(r)->rates++;
}
void onMessage(void* r, telAsioDriver*, int32_t, int32_t, void*, double*, int32_t& result) {
    auto* log = static_cast<EventLog*>(r);
    log->answerSeen = result;
    if (log->replaceAnswerWith >= 0) result = log->replaceAnswerWith;
}

bool allZero(const uint8_t* bytes, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

} // namespace

using CallbackSlots = AsioTest;

TEST_F(CallbackSlots, AreTakenLowestFirstAndRefusedAtOnceWhenAllAreHeld) {
    std::vector<telOwned<telAsioDriver>> objects;
    for (int32_t i = 0; i <= telCallbackSlotCount; ++i)
        objects.push_back(telCreate<telAsioDriver>(&driver));
    for (int32_t i = 0; i < telCallbackSlotCount; ++i)
        EXPECT_EQ(allocateCallbackSlot(objects[i].get()), i);

    uint64_t mark = timeMark();
    EXPECT_EQ(allocateCallbackSlot(objects[16].get()), -1);
    EXPECT_LT(timeElapsed(mark), 50u);

    freeCallbackSlot(1);
    freeCallbackSlot(0);
    EXPECT_EQ(allocateCallbackSlot(objects[16].get()), 0);
    EXPECT_EQ(allocateCallbackSlot(objects[1].get()), 1);
    EXPECT_EQ(callbackSlots[0], objects[16].get());
    for (int32_t i = 0; i < telCallbackSlotCount; ++i)
        freeCallbackSlot(i);
    EXPECT_EQ(callbackSlotGate(), 0);
}

TEST_F(CallbackSlots, GiveUpAfterAboutTwoHundredMillisecondsWhenTheGateIsHeld) {
    auto object = telCreate<telAsioDriver>(&driver);
    ASSERT_NE(gateEnter(callbackSlotGate()), telFalse);
    uint64_t mark = timeMark();
    EXPECT_EQ(allocateCallbackSlot(object.get()), -1);
    uint64_t waited = timeElapsed(mark);
    EXPECT_GT(waited, 200u);
    EXPECT_LT(waited, 1000u);
    EXPECT_EQ(callbackSlotGate(), 1); // failed attempts leave no count behind
    gateLeave(callbackSlotGate());
    EXPECT_EQ(callbackSlots[0], nullptr);
}

TEST_F(CallbackSlots, ConcurrentAllocationsNeverShareASlot) {
    std::vector<telOwned<telAsioDriver>> objects;
    for (int32_t i = 0; i < telCallbackSlotCount; ++i)
        objects.push_back(telCreate<telAsioDriver>(&driver));
    std::vector<int32_t> got(telCallbackSlotCount, -2);
    auto take = [&](int32_t first) {
        for (int32_t i = first; i < telCallbackSlotCount; i += 2)
            got[i] = allocateCallbackSlot(objects[i].get());
    };
    std::thread other(take, 1);
    take(0);
    other.join();
    std::set<int32_t> distinct(got.begin(), got.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(telCallbackSlotCount));
    EXPECT_EQ(*distinct.begin(), 0);
    for (int32_t i = 0; i < telCallbackSlotCount; ++i) {
        ASSERT_GE(got[i], 0);
        EXPECT_EQ(callbackSlots[got[i]], objects[i].get());
        freeCallbackSlot(got[i]);
    }
}

TEST_F(CallbackSlots, FreeSlotsAnswerHarmlessly) {
    for (int32_t slot : {0, 7, 15}) {
        ASIOCallbacks& procs = slotCallbacks[slot];
        ASSERT_NE(procs.bufferSwitch, nullptr);
        procs.bufferSwitch(0, 1);
        procs.sampleRateChanged(44100.0);
        ASIOTime time{};
        EXPECT_EQ(procs.bufferSwitchTimeInfo(&time, 0, 1), nullptr);
        EXPECT_EQ(procs.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 0);
    }
}

TEST_F(CallbackSlots, RouteEachKindToTheObjectRegisteredInTheSlot) {
    // Another object holds slot 0, so the one under test gets a later slot.
    teltest::ScriptedDriver otherDriver;
    auto other = telCreate<telAsioDriver>(&otherDriver);
    ASSERT_EQ(other->init(0, telFalse, 0), ASE_OK);
    auto otherProcessor = telCreate<RecordingProcessor>(other.get());

    auto object = prepared();
    ASSERT_EQ(object->callbackSlot(), 1);
    auto processor = telCreate<RecordingProcessor>(object.get());
    processor->handles = telTrue;
    processor->answer = 77;

    driver.fireBufferSwitch(1, 1);
    EXPECT_EQ(processor->switches, 1);
    EXPECT_EQ(processor->lastIndex, 1);
    EXPECT_EQ(processor->lastProcessNow, 1);

    ASIOTime time{};
    time.timeInfo.samplePosition = 4096;
    EXPECT_EQ(driver.fireBufferSwitchTimeInfo(&time, 0, 0), &time);
    EXPECT_EQ(processor->lastTimePointer, &time);
    EXPECT_EQ(int64_t{processor->lastTime.timeInfo.samplePosition}, 4096);

    driver.fireSampleRateChanged(96000.0);
    EXPECT_EQ(processor->lastRate, 96000.0);
    EXPECT_EQ(driver.fireAsioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 77);
    EXPECT_EQ(processor->messages, 1);

    EXPECT_EQ(otherProcessor->switches + otherProcessor->timeInfoSwitches + otherProcessor->rateChanges +
                  otherProcessor->messages,
              0);
}

TEST_F(CallbackSlots, BufferSwitchBuildsATimeRecordForTheTimeInfoHook) {
    driver.script.position = {1, 2};
    driver.script.timeStamp = {0, 99};
    auto object = prepared();
    auto processor = telCreate<TimeInfoProcessor>(object.get());
    driver.fillBuffers(0xAB);
    driver.clearLog();

    driver.fireBufferSwitch(0, 1);
    // Fields copied out first: the record is 4-byte packed, so no references into it.
    const AsioTimeInfo& info = processor->seen.timeInfo;
    EXPECT_EQ(double{info.speed}, 1.0);
    EXPECT_EQ(double{info.sampleRate}, 48000.0);
    EXPECT_EQ(int64_t{info.samplePosition}, 4294967298);
    EXPECT_EQ(int64_t{info.systemTime}, 99);
    EXPECT_EQ(uint32_t{info.flags}, kSystemTimeValid | kSamplePositionValid);
    // A processor that handles the switch is left to fill and announce the outputs itself.
    EXPECT_EQ(driver.callCount(Op::outputReady), 0);
    EXPECT_EQ(driver.buffer(false, 0, 0)[0], 0xAB);

    driver.failWith(Op::getSamplePosition, -1);
    driver.fireBufferSwitch(1, 1);
    EXPECT_EQ(uint32_t{processor->seen.timeInfo.flags}, 0u);
    EXPECT_EQ(double{processor->seen.timeInfo.speed}, 1.0);
}

TEST_F(CallbackSlots, UnhandledSwitchSilencesActiveOutputsOfThatHalfOnly) {
    driver.script.inputs = 2;
    driver.script.outputs = 8;
    driver.setChannelActive(false, 3, false);
    driver.setChannelType(false, 5, ASIOSTFloat64LSB);
    driver.setChannelType(false, 6, ASIOSTInt16LSB);
    auto object = prepared();
    EventLog events;
    object->setOnBufferSwitch({&onSwitch, &events});
    object->setOnBufferSwitchTimeInfo({&onTimeInfo, &events});
    driver.fillBuffers(0xAB);
    driver.clearLog();

    driver.fireBufferSwitch(1, 1);
    for (int32_t out = 0; out < 8; ++out) {
        int32_t bytes = driver.bufferBytes(false, out);
        EXPECT_EQ(allZero(driver.buffer(false, out, 1), bytes), out != 3) << "output " << out;
        EXPECT_EQ(driver.buffer(false, out, 0)[bytes - 1], 0xAB) << "output " << out;
    }
    for (int32_t in = 0; in < 2; ++in)
        EXPECT_EQ(driver.buffer(true, in, 1)[0], 0xAB);
    EXPECT_EQ(driver.callCount(Op::outputReady), 1);
    EXPECT_EQ(events.switches, 1);
    EXPECT_EQ(events.timeInfos, 1);
    EXPECT_EQ(events.sender, object.get());

    // A half outside 0 and 1 is not a buffer: nothing is written, the rest still happens.
    driver.fillBuffers(0xAB);
    driver.fireBufferSwitch(2, 1);
    EXPECT_EQ(driver.buffer(false, 0, 1)[0], 0xAB);
    EXPECT_EQ(events.timeInfos, 2);
}

TEST_F(CallbackSlots, NoOutputReadyNoticeWhenTheDriverDidNotAskForIt) {
    driver.script.outputReadyStatus = ASE_NotPresent;
    auto object = prepared();
    EXPECT_EQ(object->postOutput(), telFalse);
    driver.clearLog();
    ASIOTime time{};
    EXPECT_EQ(driver.fireBufferSwitchTimeInfo(&time, 0, 1), &time);
    EXPECT_EQ(driver.callCount(Op::outputReady), 0);
}

TEST_F(CallbackSlots, MessagesGetTheBuiltInAnswers) {
    auto object = prepared();
    struct Case {
        int32_t selector, value, answer;
    };
    const Case cases[] = {{kAsioSelectorSupported, 2, 1},
                          {kAsioSelectorSupported, 3, 1},
                          {kAsioSelectorSupported, 4, 0},
                          {kAsioSelectorSupported, 5, 1},
                          {kAsioSelectorSupported, 6, 1},
                          {kAsioSelectorSupported, 7, 1},
                          {kAsioSelectorSupported, 8, 1},
                          {kAsioSelectorSupported, 9, 0},
                          {kAsioSelectorSupported, 10, 1},
                          {kAsioSelectorSupported, 1, 0},
                          {kAsioEngineVersion, 0, 2},
                          {kAsioBufferSizeChange, 512, 0},
                          {kAsioResyncRequest, 0, 1},
                          {kAsioLatenciesChanged, 0, 1},
                          {kAsioSupportsTimeInfo, 0, 1},
                          {kAsioSupportsTimeCode, 0, 0},
                          {kAsioSupportsInputMonitor, 0, 0},
                          {9, 0, 0},
                          {-3, 0, 0},
                          {1000, 2, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(driver.fireAsioMessage(c.selector, c.value, nullptr, nullptr), c.answer)
            << c.selector << "/" << c.value;
    EXPECT_EQ(object->shouldReset(), telFalse);

    EXPECT_EQ(driver.fireAsioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_NE(object->shouldReset(), telFalse);
}

TEST_F(CallbackSlots, MessageEventMayReplaceTheAnswerUnlessAProcessorDecided) {
    auto object = prepared();
    EventLog events;
    events.replaceAnswerWith = 5;
    object->setOnAsioMessage({&onMessage, &events});
    EXPECT_EQ(driver.fireAsioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 5);
    EXPECT_EQ(events.answerSeen, 2);

    auto processor = telCreate<RecordingProcessor>(object.get());
    processor->handles = telTrue;
    processor->answer = 9;
    events.answerSeen = -1;
    EXPECT_EQ(driver.fireAsioMessage(kAsioResetRequest, 0, nullptr, nullptr), 9);
    EXPECT_EQ(events.answerSeen, -1);
    EXPECT_EQ(object->shouldReset(), telFalse);
}

TEST_F(CallbackSlots, SampleRateChangeGoesToTheProcessorThenTheEvent) {
    auto object = prepared();
    EventLog events;
    object->setOnSampleRateChanged({&onRate, &events});
    auto processor = telCreate<RecordingProcessor>(object.get());
    processor->handles = telTrue;
    driver.fireSampleRateChanged(44100.0);
    EXPECT_EQ(events.rates, 0);
    processor->handles = telFalse;
    driver.fireSampleRateChanged(44100.0);
    EXPECT_EQ(processor->rateChanges, 2);
    EXPECT_EQ(events.rates, 1);
    EXPECT_EQ(driver.callCount(Op::getSampleRate), 1); // only while preparing: nothing is read again
}

TEST_F(CallbackSlots, ProcessorsAttachDetachAndReplaceEachOther) {
    auto object = prepared();
    auto first = telCreate<RecordingProcessor>(object.get());
    EXPECT_EQ(object->bufferProcessor(), first.get());
    EXPECT_EQ(first->drv(), object.get());

    auto second = telCreate<RecordingProcessor>(object.get());
    EXPECT_EQ(object->bufferProcessor(), second.get());
    EXPECT_EQ(first->drv(), nullptr);
    first.reset(); // no longer attached: leaves the second in place
    EXPECT_EQ(object->bufferProcessor(), second.get());

    driver.fireBufferSwitch(0, 1);
    EXPECT_EQ(second->timeInfoSwitches, 1);
    second.reset();
    EXPECT_EQ(object->bufferProcessor(), nullptr);

    // Callbacks after the processor is gone take the unhandled path.
    driver.fillBuffers(0xAB);
    driver.fireBufferSwitch(0, 1);
    EXPECT_TRUE(allZero(driver.buffer(false, 0, 0), driver.bufferBytes(false, 0)));
}

TEST_F(CallbackSlots, AProcessorMayOutliveItsDriverObject) {
    auto object = prepared();
    auto processor = telCreate<RecordingProcessor>(object.get());
    object.reset();
    EXPECT_EQ(processor->drv(), nullptr);
    processor.reset(); // must not touch the freed driver object
}

TEST_F(CallbackSlots, CallbacksFromTheDriversThreadRunBesideSlotChanges) {
    auto object = prepared();
    auto processor = telCreate<TimeInfoProcessor>(object.get());
    ASSERT_EQ(object->start(telFalse, 0), ASE_OK);
    std::thread audio([&] {
        for (int32_t i = 0; i < 2000; ++i)
            driver.fireBufferSwitch(i & 1, 1);
    });
    // The owner's thread takes and gives back other slots meanwhile.
    std::vector<telOwned<telAsioDriver>> others;
    for (int32_t i = 0; i < 4; ++i)
        others.push_back(telCreate<telAsioDriver>(&driver));
    for (int32_t round = 0; round < 200; ++round) {
        int32_t slots[4];
        for (int32_t i = 0; i < 4; ++i)
            slots[i] = allocateCallbackSlot(others[i].get());
        for (int32_t slot : slots)
            freeCallbackSlot(slot);
    }
    audio.join();
    EXPECT_EQ(double{processor->seen.timeInfo.sampleRate}, 48000.0);
    EXPECT_EQ(object->stop(telTrue), ASE_OK);
}
