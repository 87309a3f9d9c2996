// The driver object's states, figures, failure statuses and the order of its calls.
#include <cmath>
#include <string>
#include <vector>

#include "asioTestFixture.h"

using teltest::Op;
using Calls = std::vector<std::string>;

namespace {

Calls preparationCalls(int32_t channels) {
    Calls calls{"getChannels", "getBufferSize", "getSampleRate", "outputReady", "createBuffers"};
    calls.insert(calls.end(), channels, "getChannelInfo");
    calls.push_back("getLatencies");
    return calls;
}

Calls concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

using DriverObject = AsioTest;

TEST_F(DriverObject, InitWithBuffersReadsFiguresAndPreparesEveryChannel) {
    driver.script.inputs = 2;
    driver.script.outputs = 3;
    driver.script.version = 77;
    driver.script.name = "Scripted";
    auto object = telCreate<telAsioDriver>(&driver);
    EXPECT_EQ(object->driverState(), dsLoaded);
    EXPECT_EQ(object->callbackSlot(), -1);
    EXPECT_EQ(driver.refCount(), 2u);

    ASSERT_EQ(object->init(1234, telTrue, 300), ASE_OK);
    EXPECT_EQ(driver.driverCalls(), concat(Calls{"init", "getDriverVersion", "getDriverName"},
                                           concat(preparationCalls(5), {"future"})));
    EXPECT_EQ(driver.initArgument(), reinterpret_cast<void*>(intptr_t{1234}));
    EXPECT_EQ(driver.lastFutureSelector(), kAsioEnableTimeCodeRead);

    EXPECT_EQ(object->driverState(), dsPrepared);
    EXPECT_EQ(object->driverInfo()->asioVersion, 2);
    EXPECT_EQ(object->driverInfo()->driverVersion, 77);
    EXPECT_STREQ(object->driverInfo()->name, "Scripted");
    EXPECT_EQ(object->bufActualSize(), 300);
    EXPECT_EQ(driver.createdBufferSize(), 300);
    EXPECT_EQ(object->inputLatency(), 256);
    EXPECT_EQ(object->outputLatency(), 512);
    EXPECT_NE(object->postOutput(), telFalse);

    // The driver got the record of the slot the object holds, and the slot routes to it.
    int32_t slot = object->callbackSlot();
    ASSERT_GE(slot, 0);
    EXPECT_EQ(callbackSlots[slot], object.get());
    EXPECT_EQ(driver.receivedCallbacks().bufferSwitch, slotCallbacks[slot].bufferSwitch);
    EXPECT_EQ(driver.receivedCallbacks().bufferSwitchTimeInfo, slotCallbacks[slot].bufferSwitchTimeInfo);

    // Entries: inputs first, then outputs, each with the driver's buffers and formats.
    for (int32_t k = 0; k < 5; ++k) {
        bool input = k < 2;
        int32_t channel = input ? k : k - 2;
        pASIOBufferInfo buffer = object->getBufferInfoByIndex(k);
        pASIOChannelInfo info = object->getChannelInfoByIndex(k);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->isInput, input ? 1 : 0);
        EXPECT_EQ(buffer->channelNum, channel);
        EXPECT_EQ(buffer->buffers[1], driver.buffer(input, channel, 1));
        EXPECT_EQ(info->channel, channel);
        EXPECT_EQ(info->isInput, input ? 1 : 0);
        EXPECT_EQ(info->_type, ASIOSTInt32LSB);
    }
    EXPECT_EQ(object->getBufferInfoByIndex(5), nullptr);
    EXPECT_EQ(object->getChannelInfoByIndex(5), nullptr);
    EXPECT_EQ(object->getChannelInfoByIndex(-1), nullptr);
    EXPECT_EQ(object->getBufferInfoByIndex(-1), nullptr);
}

TEST_F(DriverObject, WalksTheStateTableEndToEnd) {
    auto object = telCreate<telAsioDriver>(&driver);
    ASSERT_EQ(object->init(0, telFalse, 0), ASE_OK);
    EXPECT_EQ(object->driverState(), dsInitialized);
    EXPECT_EQ(object->init(0, telFalse, 0), ASE_InvalidMode);
    EXPECT_EQ(object->start(telFalse, 0), ASE_InvalidMode);
    int32_t slot = object->callbackSlot();

    driver.clearLog();
    ASSERT_EQ(object->start(telTrue, -1), ASE_OK);
    EXPECT_EQ(driver.driverCalls(), concat(preparationCalls(4), {"start"}));
    EXPECT_EQ(object->driverState(), dsRunning);
    EXPECT_NE(object->looksLike24(), telFalse);
    EXPECT_EQ(object->init(0, telTrue, 0), ASE_InvalidMode);

    // Stopping without releasing keeps the buffers; starting again needs no preparation.
    ASSERT_EQ(object->stop(telFalse), ASE_OK);
    EXPECT_EQ(object->driverState(), dsPrepared);
    EXPECT_EQ(object->getBufferInfoByIndex(2)->buffers[0], driver.buffer(false, 0, 0));
    EXPECT_EQ(object->start(telTrue, 0), ASE_InvalidMode); // buffers exist already
    ASSERT_EQ(object->start(telFalse, 0), ASE_OK);

    driver.clearLog();
    ASSERT_EQ(object->stop(telTrue), ASE_OK);
    EXPECT_EQ(driver.driverCalls(), (Calls{"stop", "disposeBuffers"}));
    EXPECT_EQ(object->driverState(), dsInitialized);
    for (int32_t k = 0; k < 4; ++k)
        EXPECT_EQ(object->getBufferInfoByIndex(k)->buffers[0], nullptr);

    driver.clearLog();
    EXPECT_EQ(object->stop(telFalse), ASE_OK);
    EXPECT_TRUE(driver.driverCalls().empty());

    // A further init with buffers neither initialises the driver again nor takes a second slot.
    ASSERT_EQ(object->init(0, telTrue, 128), ASE_OK);
    EXPECT_EQ(driver.callCount(Op::init), 0);
    EXPECT_EQ(object->callbackSlot(), slot);
    EXPECT_EQ(object->driverState(), dsPrepared);

    EXPECT_NE(object->release(), telFalse);
    EXPECT_EQ(object->driverState(), dsInitialized);
    EXPECT_EQ(object->callbackSlot(), -1);
    EXPECT_EQ(callbackSlots[slot], nullptr);
    EXPECT_FALSE(driver.buffersExist());
    ASSERT_EQ(object->init(0, telTrue, 128), ASE_OK);
    EXPECT_EQ(object->callbackSlot(), slot);
}

TEST_F(DriverObject, RefusedInitKeepsTheDriversTextAndStaysLoaded) {
    driver.script.initSucceeds = false;
    driver.script.errorText = std::string(200, 'e');
    auto object = telCreate<telAsioDriver>(&driver);
    EXPECT_EQ(object->init(0, telTrue, 300), ASE_NotPresent);
    EXPECT_EQ(object->driverState(), dsLoaded);
    EXPECT_EQ(object->callbackSlot(), -1);
    EXPECT_EQ(object->getDriverError(telFalse), std::string(123, 'e'));
    EXPECT_EQ(driver.driverCalls(), (Calls{"init", "getErrorMessage"}));

    // Destroying an object that never initialised does not touch the driver's buffers,
    // and a later init still initialises the driver.
    EXPECT_NE(object->release(), telFalse);
    EXPECT_EQ(object->driverState(), dsLoaded);
    driver.script.initSucceeds = true;
    EXPECT_EQ(object->init(0, telFalse, 0), ASE_OK);
    EXPECT_EQ(driver.callCount(Op::init), 2);
    EXPECT_EQ(object->getDriverError(telFalse), "");
}

TEST_F(DriverObject, DriverTextsAreReadOnlyWithinTheirBuffers) {
    driver.script.name = std::string(300, 'n');      // no terminator inside the 256 bytes
    driver.script.errorText = std::string(300, 'x'); // likewise
    auto object = telCreate<telAsioDriver>(&driver);
    ASSERT_EQ(object->init(0, telFalse, 0), ASE_OK);
    EXPECT_EQ(std::string(object->driverInfo()->name), std::string(31, 'n'));
    EXPECT_EQ(object->getDriverError(telTrue), std::string(256, 'x'));
}

struct PreparationFailure {
    const char* what;
    void (*script)(teltest::ScriptedDriver&);
    ASIOError expected;
    telASIODriverState state;
};

class PreparationFailures : public AsioTest, public ::testing::WithParamInterface<PreparationFailure> {};

TEST_P(PreparationFailures, ReturnTheirStatusAndLeaveTheDocumentedState) {
    GetParam().script(driver);
    auto object = telCreate<telAsioDriver>(&driver);
    EXPECT_EQ(object->init(0, telTrue, 300), GetParam().expected);
    EXPECT_EQ(object->driverState(), GetParam().state);
    EXPECT_GE(object->callbackSlot(), 0);
    EXPECT_EQ(driver.lastFutureSelector(), kAsioEnableTimeCodeRead);
}

INSTANTIATE_TEST_SUITE_P(
    DriverObject, PreparationFailures,
    ::testing::Values(
        PreparationFailure{"channels", [](teltest::ScriptedDriver& d) { d.failWith(Op::getChannels, -7); },
                           -1, dsInitialized},
        PreparationFailure{"bufferSize",
                           [](teltest::ScriptedDriver& d) { d.failWith(Op::getBufferSize, -7); }, -1,
                           dsInitialized},
        PreparationFailure{"rateRefused",
                           [](teltest::ScriptedDriver& d) {
                               d.script.sampleRate = 192000.0;
                               d.failWith(Op::setSampleRate, -7);
                           },
                           -5, dsInitialized},
        PreparationFailure{"rateUnreadable",
                           [](teltest::ScriptedDriver& d) {
                               d.script.writesSampleRate = false; // reads as 0 Hz
                               d.script.acceptedRates = {};
                           },
                           -5, dsInitialized},
        PreparationFailure{"createBuffers",
                           [](teltest::ScriptedDriver& d) { d.failWith(Op::createBuffers, -1234); }, -1234,
                           dsInitialized},
        PreparationFailure{"channelInfo", [](teltest::ScriptedDriver& d) { d.failChannelInfoFrom(2, -55); },
                           -55, dsPrepared},
        PreparationFailure{"latencies", [](teltest::ScriptedDriver& d) { d.failWith(Op::getLatencies, -66); },
                           -66, dsPrepared}),
    [](const ::testing::TestParamInfo<PreparationFailure>& info) { return std::string(info.param.what); });

TEST_F(DriverObject, OutOfRangeRateIsReplacedAndLaterStepsStopAtFirstFailure) {
    driver.script.sampleRate = std::nan("");
    driver.failChannelInfoFrom(2, -55);
    auto object = telCreate<telAsioDriver>(&driver);
    EXPECT_EQ(object->init(0, telTrue, 300), -55);
    EXPECT_EQ(driver.script.sampleRate, 44100.0);
    EXPECT_EQ(driver.callCount(Op::getChannelInfo), 2);
    EXPECT_EQ(driver.callCount(Op::getLatencies), 0);
}

TEST_F(DriverObject, DriverStatusesOfStartStopAndDisposeArePassedOn) {
    auto object = prepared();
    driver.failWith(Op::start, -21);
    EXPECT_EQ(object->start(telFalse, 0), -21);
    EXPECT_EQ(object->driverState(), dsPrepared);

    driver.failWith(Op::start, ASE_OK);
    ASSERT_EQ(object->start(telFalse, 0), ASE_OK);
    driver.failWith(Op::stop, -22);
    EXPECT_EQ(object->stop(telTrue), -22);
    EXPECT_EQ(object->driverState(), dsPrepared);
    EXPECT_TRUE(driver.buffersExist());

    driver.failWith(Op::disposeBuffers, -23);
    EXPECT_EQ(object->stop(telTrue), -23);
    EXPECT_EQ(object->driverState(), dsInitialized);
    EXPECT_NE(object->getBufferInfoByIndex(0)->buffers[0], nullptr); // not cleared after a failed dispose

    EXPECT_EQ(object->stop(telTrue), ASE_InvalidMode); // no buffers left to free
}

TEST_F(DriverObject, InitFailsWhenEverySlotIsHeld) {
    std::vector<telOwned<telAsioDriver>> holders;
    for (int32_t i = 0; i < telCallbackSlotCount; ++i) {
        holders.push_back(telCreate<telAsioDriver>(&driver));
        ASSERT_EQ(holders.back()->init(0, telFalse, 0), ASE_OK);
    }
    auto object = telCreate<telAsioDriver>(&driver);
    EXPECT_EQ(object->init(0, telTrue, 300), ASE_NoMemory);
    EXPECT_EQ(object->driverState(), dsLoaded);
    EXPECT_EQ(object->callbackSlot(), -1);
}

struct SizeCase {
    int32_t min, max, preferred, requested, expected;
};

class BufferSizeChoice : public AsioTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(BufferSizeChoice, KeepsTheRequestWithinTheDriversLimits) {
    driver.script.minSize = GetParam().min;
    driver.script.maxSize = GetParam().max;
    driver.script.preferredSize = GetParam().preferred;
    auto object = prepared(GetParam().requested);
    EXPECT_EQ(object->bufActualSize(), GetParam().expected);
    EXPECT_EQ(driver.createdBufferSize(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(DriverObject, BufferSizeChoice,
                         ::testing::Values(SizeCase{64, 2048, 256, 300, 300},
                                           SizeCase{512, 2048, 1024, 300, 512},
                                           SizeCase{64, 256, 128, 300, 256},
                                           SizeCase{512, 256, 384, 300, 256},
                                           SizeCase{64, 2048, 128, -1, 128}));

TEST_F(DriverObject, ChannelCountsAreLimitedToTheArrays) {
    driver.script.inputs = 300;
    driver.script.outputs = 4;
    auto object = prepared();
    EXPECT_EQ(object->inputChannels(), 256);
    EXPECT_EQ(object->outputChannels(), 4);
    EXPECT_EQ(driver.createdChannelCount(), 260);
    EXPECT_EQ(object->getBufferInfoByIndex(256)->isInput, 0);
    EXPECT_EQ(object->getBufferInfoByIndex(256)->channelNum, 0);
    EXPECT_EQ(object->getChannelInfoByIndex(256)->isInput, 0);
    EXPECT_EQ(object->getChannelInfoByIndex(260), nullptr);

    object.reset();
    driver.script.inputs = -5; // counts as none
    driver.script.outputs = 1000;
    object = prepared();
    EXPECT_EQ(object->inputChannels(), 0);
    EXPECT_EQ(object->outputChannels(), 256);
    EXPECT_EQ(object->getBufferInfoByIndex(0)->isInput, 0);
    EXPECT_EQ(object->getBufferInfoByIndex(256), nullptr);
}

TEST_F(DriverObject, SamplePositionComesBackAsNativeIntegers) {
    auto object = telCreate<telAsioDriver>(&driver);
    driver.script.position = {1, 2};
    driver.script.timeStamp = {0x12345678u, 0x9ABCDEF0u};
    int64_t position = 0, stamp = 0;
    EXPECT_EQ(object->getSamplePosition(position, stamp), ASE_OK);
    EXPECT_EQ(position, 4294967298);
    EXPECT_EQ(stamp, static_cast<int64_t>(0x123456789ABCDEF0ull));

    driver.failWith(Op::getSamplePosition, -9);
    EXPECT_EQ(object->getSamplePosition(position, stamp), -9);
}

TEST_F(DriverObject, DestroyingARunningObjectStopsDisposesAndReleasesLast) {
    uint32_t refsBefore = driver.refCount();
    auto object = prepared();
    ASSERT_EQ(object->start(telFalse, 0), ASE_OK);
    int32_t slot = object->callbackSlot();
    driver.clearLog();

    object.reset();
    EXPECT_EQ(driver.callLog(), (Calls{"stop", "disposeBuffers", "Release"}));
    EXPECT_EQ(driver.refCount(), refsBefore);
    EXPECT_EQ(callbackSlots[slot], nullptr);
    EXPECT_FALSE(driver.running());
    EXPECT_FALSE(driver.buffersExist());
}
