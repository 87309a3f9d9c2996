// The driver object's states, figures, failure statuses and the order of its calls.
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "asioTestFixture.h"

using Calls = std::vector<std::string>;

namespace {

// What preparing buffers asks of the driver, in order, for `channels` channels.
Calls preparationCalls(int32_t channels, Calls before = {}, const Calls& after = {}) {
    before.insert(before.end(),
                  {"getChannels", "getBufferSize", "getSampleRate", "outputReady", "createBuffers"});
    before.insert(before.end(), channels, "getChannelInfo");
    before.push_back("getLatencies");
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

} // namespace

using DriverObject = AsioTest;

TEST_F(DriverObject, WalksTheStatesInTheDriversOrderAndKeepsThemOnDriverFailures) {
    driver.script.initSucceeds = false;
    driver.script.errorText = std::string(300, 'e'); // no terminator inside the 256 bytes
    driver.script.name = std::string(300, 'n');      // likewise
    auto object = telCreate<telAsioDriver>(&driver);
    auto step = [&](ASIOError status, ASIOError expected, telASIODriverState state) {
        EXPECT_EQ(status, expected);
        EXPECT_EQ(object->driverState(), state);
    };
    step(object->init(0, telTrue, 300), ASE_NotPresent, dsLoaded);
    EXPECT_EQ(driver.driverCalls(), (Calls{"init", "getErrorMessage"}));
    EXPECT_EQ(object->getDriverError(telFalse), std::string(123, 'e'));
    EXPECT_EQ(object->getDriverError(telTrue), std::string(256, 'e'));
    EXPECT_NE(object->release(), telFalse); // leaves it loaded: init still asks the driver

    driver.script.initSucceeds = true;
    driver.clearLog();
    step(object->init(0, telFalse, 0), ASE_OK, dsInitialized);
    EXPECT_EQ(driver.driverCalls(), (Calls{"init", "getDriverVersion", "getDriverName"}));
    EXPECT_EQ(object->getDriverError(telFalse), "");
    EXPECT_EQ(std::string(object->driverInfo()->name), std::string(31, 'n'));
    step(object->init(0, telFalse, 0), ASE_InvalidMode, dsInitialized);
    step(object->start(telFalse, 0), ASE_InvalidMode, dsInitialized); // no buffers yet
    int32_t slot = object->callbackSlot();
    driver.clearLog();
    step(object->start(telTrue, -1), ASE_OK, dsRunning);
    EXPECT_EQ(driver.driverCalls(), preparationCalls(4, {}, {"start"}));
    EXPECT_TRUE(object->inputLatency() == 256 && object->outputLatency() == 512);
    step(object->init(0, telTrue, 0), ASE_InvalidMode, dsRunning);
    step(object->stop(telFalse), ASE_OK, dsPrepared); // keeps the buffers
    step(object->start(telTrue, 0), ASE_InvalidMode, dsPrepared);
    step(object->start(telFalse, 0), ASE_OK, dsRunning);
    driver.clearLog();
    step(object->stop(telTrue), ASE_OK, dsInitialized);
    EXPECT_EQ(driver.driverCalls(), (Calls{"stop", "disposeBuffers"}));
    EXPECT_EQ(static_cast<void*>(object->getBufferInfoByIndex(3)->buffers[0]), nullptr);

    driver.clearLog(); // a further init with buffers neither initialises the driver nor takes another slot
    step(object->init(0, telTrue, 128), ASE_OK, dsPrepared);
    EXPECT_EQ(driver.driverCalls(), preparationCalls(4, {"getDriverVersion", "getDriverName"}, {"future"}));
    EXPECT_EQ(driver.lastFutureSelector(), kAsioEnableTimeCodeRead);
    EXPECT_EQ(object->callbackSlot(), slot);
    EXPECT_NE(object->release(), telFalse);
    EXPECT_TRUE(object->driverState() == dsInitialized && callbackSlots[slot] == nullptr);
    step(object->init(0, telTrue, 128), ASE_OK, dsPrepared);
    EXPECT_EQ(object->callbackSlot(), slot);

    step(object->start(telFalse, 0), ASE_OK, dsRunning); // destroyed, it stops, disposes, lets go last
    driver.clearLog();
    object.reset();
    EXPECT_EQ(driver.callLog(), (Calls{"stop", "disposeBuffers", "Release"}));

    object = prepared(); // a failed stop keeps the buffers; a failed dispose does not clear the entries
    step(object->start(telFalse, 0), ASE_OK, dsRunning);
    driver.failWith(Op::stop, -22);
    step(object->stop(telTrue), -22, dsPrepared);
    driver.failWith(Op::disposeBuffers, -23);
    step(object->stop(telTrue), -23, dsInitialized);
    EXPECT_NE(static_cast<void*>(object->getBufferInfoByIndex(0)->buffers[0]), nullptr);
    step(object->stop(telTrue), ASE_InvalidMode, dsInitialized);
}

TEST_F(DriverObject, PreparationFailuresReturnTheirStatusAndLeaveTheRightState) {
    using Script = void (*)(teltest::ScriptedDriver&);
    // A scripted failure, the status and state after it, and the channel entries asked for until it.
    const std::tuple<Script, ASIOError, telASIODriverState, int32_t> cases[] = {
        {[](auto& d) { d.failWith(Op::getChannels, -7); }, -1, dsInitialized, 0},
        {[](auto& d) { d.failWith(Op::getBufferSize, -7); }, -1, dsInitialized, 0},
        {[](auto& d) { d.script.sampleRate = 2e5, d.failWith(Op::setSampleRate, -7); }, -5, dsInitialized, 0},
        {[](auto& d) { d.script.sampleRate = NAN, d.script.acceptedRates = {}; }, -5, dsInitialized, 0},
        {[](auto& d) { d.failWith(Op::createBuffers, -1234); }, -1234, dsInitialized, 0},
        {[](auto& d) { d.failChannelInfoFrom(2, -55); }, -55, dsPrepared, 2},
        {[](auto& d) { d.failWith(Op::getLatencies, -66); }, -66, dsPrepared, 4},
    };
    for (const auto& [script, expected, state, channelInfoCalls] : cases) {
        teltest::ScriptedDriver failing;
        script(failing);
        auto object = telCreate<telAsioDriver>(&failing);
        EXPECT_EQ(object->init(0, telTrue, 300), expected);
        EXPECT_EQ(object->driverState(), state) << expected;
        EXPECT_EQ(failing.callCount(Op::getChannelInfo), channelInfoCalls) << expected;
        EXPECT_EQ(failing.callCount(Op::getLatencies), expected == -66 ? 1 : 0) << expected;
        EXPECT_EQ(failing.lastFutureSelector(), kAsioEnableTimeCodeRead) << expected;
    }
    driver.script.sampleRate = NAN; // out of range: replaced when the driver accepts it
    prepared();
    EXPECT_EQ(driver.script.sampleRate, 44100.0);

    // A run that chose its rate keeps it, on a driver that has no 44100 Hz.
    teltest::ScriptedDriver highOnly;
    highOnly.script.acceptedRates = {48000.0, 192000.0};
    highOnly.script.sampleRate = 192000.0;
    auto keeping = telCreate<telAsioDriver>(&highOnly);
    keeping->keepRateForBuffers(true);
    EXPECT_EQ(keeping->init(0, telTrue, 300), ASE_OK);
    EXPECT_EQ(highOnly.script.sampleRate, 192000.0);
    EXPECT_EQ(highOnly.callCount(Op::setSampleRate), 0);
    auto plain = telCreate<telAsioDriver>(&highOnly); // the plain run's rule, as always
    EXPECT_EQ(plain->init(0, telTrue, 300), -5);
}

TEST_F(DriverObject, BufferSizeAndChannelCountsAreKeptWithinLimitsAndListInputsThenOutputs) {
    // min, max, preferred, requested, chosen: the maximum wins over a minimum above it.
    const int32_t sizes[][5] = {{64, 2048, 256, 300, 300},
                                {512, 2048, 1024, 300, 512},
                                {64, 256, 128, 300, 256},
                                {512, 256, 384, 300, 256},
                                {64, 2048, 128, -1, 128}};
    for (const auto& [min, max, preferred, requested, chosen] : sizes) {
        driver.script.minSize = min, driver.script.maxSize = max, driver.script.preferredSize = preferred;
        auto object = prepared(requested);
        EXPECT_EQ(object->bufActualSize(), chosen);
        EXPECT_EQ(driver.bufferBytes(false, 0), 4 * chosen) << "the size the driver was asked for";
    }
    const int32_t counts[][4] = {{2, 3, 2, 3}, {300, 4, 256, 4}, {-5, 1000, 0, 256}}; // reported, then kept
    for (const auto& [inputs, outputs, keptInputs, keptOutputs] : counts) {
        driver.script.inputs = inputs, driver.script.outputs = outputs;
        auto object = prepared();
        EXPECT_TRUE(object->inputChannels() == keptInputs && object->outputChannels() == keptOutputs);
        EXPECT_EQ(driver.createdChannelCount(), keptInputs + keptOutputs);
        for (int32_t k = -1; k <= keptInputs + keptOutputs; ++k) { // inputs first, then outputs
            bool input = k < keptInputs, valid = k >= 0 && k < keptInputs + keptOutputs;
            int32_t channel = input ? k : k - keptInputs;
            pASIOBufferInfo buffer = object->getBufferInfoByIndex(k);
            pASIOChannelInfo info = object->getChannelInfoByIndex(k);
            ASSERT_EQ(buffer != nullptr && info != nullptr, valid) << k;
            if (!valid) continue;
            EXPECT_TRUE(buffer->isInput == input && buffer->channelNum == channel) << k;
            EXPECT_TRUE(info->isInput == input && info->channel == channel && info->_type == ASIOSTInt32LSB)
                << k;
            EXPECT_EQ(static_cast<void*>(buffer->buffers[1]), driver.buffer(input, channel, 1)) << k;
        }
    }
}
