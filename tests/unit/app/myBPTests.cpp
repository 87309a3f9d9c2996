// The loopback and test-tone processor on scripted drivers of several shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/myBP.h"
#include "asio/telAsioBufferProcessor.h"
#include "tests/support/scriptedDriver.h"

namespace {

constexpr int32_t bufferSize = 64;
constexpr uint8_t untouched = 0xA5;

// The tone as the processor must produce it: extended-precision sine and cosine,
// phases kept as doubles.
std::vector<double> expectedTone(int32_t samples) {
    std::vector<double> tone;
    double sine = 0.0;
    double cosine = 0.0;
    const long double twoPi = 6.283185307179586477L;
    for (int32_t s = 0; s < samples; ++s) {
        tone.push_back(static_cast<double>(std::sin(static_cast<long double>(sine))));
        cosine = static_cast<double>(cosine + 0.00004L);
        sine = static_cast<double>(sine + std::cos(static_cast<long double>(cosine)));
        if (sine > twoPi) sine = static_cast<double>(sine - twoPi);
        if (cosine > twoPi) cosine = static_cast<double>(cosine - twoPi);
    }
    return tone;
}

class MyBPTest : public ::testing::Test {
  protected:
    void SetUp() override { telAsioApiStartup(); }

    // Initialises a driver of the given shape and attaches a fresh processor.
    void open(int32_t inputs, int32_t outputs, ASIOSampleType inType, ASIOSampleType outType) {
        driver.script.inputs = inputs;
        driver.script.outputs = outputs;
        driver.script.inputType = inType;
        driver.script.outputType = outType;
        object = telCreate<telAsioDriver>(&driver);
        ASSERT_EQ(object->init(0, telTrue, bufferSize), ASE_OK);
        processor = telCreate<myBP>(object.get());
        driver.fillBuffers(untouched);
    }

    void TearDown() override {
        telFree(processor);
        telFree(object);
    }

    // Input channel k's half holds the bytes k+1, k+2, ... so copies are recognisable.
    void fillInputs(int32_t half) {
        for (int32_t k = 0; k < object->inputChannels(); ++k) {
            uint8_t* bytes = driver.buffer(true, k, half);
            for (int32_t b = 0; b < driver.bufferBytes(true, k); ++b) bytes[b] = static_cast<uint8_t>(k + 1 + b);
        }
    }

    std::vector<double> doubles(bool isInput, int32_t channel, int32_t half) {
        std::vector<double> values(bufferSize);
        std::memcpy(values.data(), driver.buffer(isInput, channel, half), bufferSize * sizeof(double));
        return values;
    }

    bool allBytes(bool isInput, int32_t channel, int32_t half, uint8_t value) {
        const uint8_t* bytes = driver.buffer(isInput, channel, half);
        for (int32_t b = 0; b < driver.bufferBytes(isInput, channel); ++b)
            if (bytes[b] != value) return false;
        return true;
    }

    void bufferSwitch(int32_t half) { driver.fireBufferSwitch(half, 1); }

    teltest::ScriptedDriver driver;
    telOwned<telAsioDriver> object;
    telOwned<myBP> processor;
};

TEST_F(MyBPTest, TwoByTwoAddsTheToneToEachLoopedInput) {
    open(2, 2, ASIOSTFloat64LSB, ASIOSTFloat64LSB);
    for (int32_t k = 0; k < 2; ++k) {
        double* in = reinterpret_cast<double*>(driver.buffer(true, k, 1));
        for (int32_t s = 0; s < bufferSize; ++s) in[s] = 0.125 * (k + 1);
    }
    bufferSwitch(1);
    const std::vector<double> tone = expectedTone(bufferSize);
    for (int32_t k = 0; k < 2; ++k) {
        const std::vector<double> out = doubles(false, k, 1);
        for (int32_t s = 0; s < bufferSize; ++s) ASSERT_DOUBLE_EQ(out[s], 0.125 * (k + 1) + tone[s]) << k << "/" << s;
        EXPECT_TRUE(processor->f_outBufLooped[2 + k]);
    }
    EXPECT_TRUE(allBytes(false, 0, 0, untouched)) << "the other half is not written";
}

TEST_F(MyBPTest, OneInputTwoOutputsWritesTheToneAloneOnTheSecond) {
    open(1, 2, ASIOSTFloat64LSB, ASIOSTFloat64LSB);
    bufferSwitch(0);
    const std::vector<double> tone = expectedTone(bufferSize);
    const std::vector<double> second = doubles(false, 1, 0);
    for (int32_t s = 0; s < bufferSize; ++s) ASSERT_EQ(second[s], tone[s]);
    EXPECT_EQ(second[0], 0.0);
    EXPECT_EQ(second[1], static_cast<double>(std::sin(std::cos(0.00004L))));
    EXPECT_FALSE(processor->f_outBufLooped[2]);
}

TEST_F(MyBPTest, ToneContinuesAcrossSwitchesOnBothChannelsAlike) {
    open(0, 2, ASIOSTFloat64LSB, ASIOSTFloat64LSB);
    bufferSwitch(0);
    bufferSwitch(1);
    const std::vector<double> tone = expectedTone(2 * bufferSize);
    for (int32_t k = 0; k < 2; ++k) {
        const std::vector<double> first = doubles(false, k, 0);
        const std::vector<double> second = doubles(false, k, 1);
        for (int32_t s = 0; s < bufferSize; ++s) {
            ASSERT_EQ(first[s], tone[s]);
            ASSERT_EQ(second[s], tone[bufferSize + s]);
        }
    }
}

TEST_F(MyBPTest, ExtraOutputsAreNeverWritten) {
    open(2, 4, ASIOSTInt32LSB, ASIOSTInt32LSB);
    fillInputs(0);
    bufferSwitch(0);
    EXPECT_TRUE(allBytes(false, 2, 0, untouched));
    EXPECT_TRUE(allBytes(false, 3, 0, untouched));
    EXPECT_FALSE(allBytes(false, 0, 0, untouched));
}

TEST_F(MyBPTest, PackedInputIsCopiedRawIntoAWiderOutput) {
    open(1, 1, ASIOSTInt24LSB, ASIOSTInt32LSB);
    processor->f_noSine = telTrue;
    fillInputs(0);
    bufferSwitch(0);
    const int32_t copied = 3 * bufferSize;
    EXPECT_EQ(std::memcmp(driver.buffer(false, 0, 0), driver.buffer(true, 0, 0), copied), 0);
    const uint8_t* rest = driver.buffer(false, 0, 0) + copied;
    for (int32_t b = 0; b < bufferSize; ++b) ASSERT_EQ(rest[b], untouched) << "byte " << copied + b;
}

TEST_F(MyBPTest, SwitchesTurnTheTwoHalvesOfTheWorkOff) {
    open(2, 2, ASIOSTInt32LSB, ASIOSTInt32LSB);
    fillInputs(0);

    processor->f_noLoop = telTrue;
    bufferSwitch(0);
    EXPECT_FALSE(processor->f_outBufLooped[2]);
    const int32_t* out = reinterpret_cast<const int32_t*>(driver.buffer(false, 0, 0));
    EXPECT_EQ(out[0], 0) << "the tone alone starts at sin 0";
    EXPECT_NE(out[1], 0);

    driver.fillBuffers(untouched);
    fillInputs(0);
    processor->f_noLoop = telFalse;
    processor->f_noSine = telTrue;
    bufferSwitch(0);
    EXPECT_EQ(std::memcmp(driver.buffer(false, 1, 0), driver.buffer(true, 1, 0), 4 * bufferSize), 0);

    driver.fillBuffers(untouched);
    processor->f_noLoop = telTrue;
    driver.clearLog();
    bufferSwitch(0);
    EXPECT_TRUE(allBytes(false, 0, 0, untouched));
    EXPECT_TRUE(allBytes(false, 1, 0, untouched));
    EXPECT_EQ(driver.callCount(teltest::Op::outputReady), 1) << "only the output-ready notice";
}

TEST_F(MyBPTest, SingleOutputGetsTheToneAndNoNoticeUnlessAsked) {
    driver.script.outputReadyStatus = ASE_NotPresent;
    open(0, 1, ASIOSTInt16LSB, ASIOSTInt16LSB);
    driver.clearLog();
    bufferSwitch(1);
    EXPECT_EQ(driver.callCount(teltest::Op::outputReady), 0);
    const int16_t* out = reinterpret_cast<const int16_t*>(driver.buffer(false, 0, 1));
    const std::vector<double> tone = expectedTone(bufferSize);
    for (int32_t s = 0; s < bufferSize; ++s)
        ASSERT_EQ(out[s], static_cast<int16_t>(std::nearbyint(tone[s] * 32767.0))) << s;
}

TEST_F(MyBPTest, ABadBufferHalfFromTheDriverTouchesNothing) {
    open(2, 2, ASIOSTInt32LSB, ASIOSTInt32LSB);
    fillInputs(0);
    fillInputs(1);
    driver.clearLog();
    bufferSwitch(2);
    bufferSwitch(-1);
    for (int32_t half = 0; half < 2; ++half) {
        EXPECT_TRUE(allBytes(false, 0, half, untouched));
        EXPECT_TRUE(allBytes(false, 1, half, untouched));
    }
    EXPECT_EQ(driver.callCount(teltest::Op::outputReady), 2) << "the notice still goes out";
}

TEST_F(MyBPTest, AfterTheProcessorIsFreedTheDriverObjectSilencesOutputs) {
    open(2, 2, ASIOSTInt32LSB, ASIOSTInt32LSB);
    telFree(processor);
    EXPECT_EQ(object->bufferProcessor(), nullptr);
    bufferSwitch(0);
    EXPECT_TRUE(allBytes(false, 0, 0, 0));
    EXPECT_TRUE(allBytes(false, 1, 0, 0));
}

TEST_F(MyBPTest, FullSizedDriverStaysInsideTheProcessorArrays) {
    open(256, 256, ASIOSTInt16LSB, ASIOSTInt16LSB);
    fillInputs(0);
    bufferSwitch(0);
    EXPECT_EQ(std::memcmp(driver.buffer(false, 255, 0), driver.buffer(true, 255, 0), 2 * bufferSize), 0);
    EXPECT_TRUE(processor->f_outBufLooped[511]);
}

} // namespace
