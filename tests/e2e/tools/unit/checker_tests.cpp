// The capture checker: the tone it expects, and the host faults it must catch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "captureBuilder.h"
#include "captureFile.h"
#include "checker.h"
#include "toneGenerator.h"

using namespace capcheck;

namespace {

constexpr int32_t int16Lsb = 16, int24Lsb = 17, float32Lsb = 19;

CheckResult check(const CaptureBuilder& builder, CheckOptions options = {}) {
    Capture capture;
    std::string error;
    if (!parseCapture(builder.bytes(), capture, error)) return CheckResult{false, "parse: " + error};
    return checkCapture(capture, options);
}

// A float32 record with input k's sample s = 0.1 * (k + 1) + 0.01 * s.
std::vector<std::vector<uint8_t>> float32Inputs(const CaptureBuilder& builder) {
    std::vector<std::vector<uint8_t>> inputs;
    for (size_t k = 0; k < builder.inputTypes.size(); ++k) {
        std::vector<float> samples(builder.frames);
        for (uint32_t s = 0; s < builder.frames; ++s)
            samples[s] = 0.1f * (k + 1) + 0.01f * s;
        inputs.push_back(samplesAsBytes(samples));
    }
    return inputs;
}

// What a correct host leaves in a float32 2x2 run: input plus tone on both outputs.
CaptureBuilder correctFloat32Run(uint32_t records) {
    CaptureBuilder builder;
    builder.inputTypes = {float32Lsb, float32Lsb};
    builder.outputTypes = {float32Lsb, float32Lsb};
    ToneGenerator tone;
    for (uint32_t r = 0; r < records; ++r) {
        auto& halves = builder.addRecord(float32Inputs(builder));
        for (uint32_t s = 0; s < builder.frames; ++s) {
            const double value = tone.next();
            for (size_t k = 0; k < 2; ++k) {
                float in;
                std::memcpy(&in, &halves[k][s * 4], 4);
                const float out = static_cast<float>(in + value);
                std::memcpy(&halves[2 + k][s * 4], &out, 4);
            }
        }
    }
    return builder;
}

} // namespace

TEST(ToneGenerator, StartsAtSineOfZeroThenStepsByTheModulationCosine) {
    ToneGenerator tone;
    EXPECT_EQ(tone.next(), 0.0);
    const double modulation = static_cast<double>(0.00004L);
    EXPECT_DOUBLE_EQ(tone.next(), std::sin(std::cos(modulation)));
}

TEST(CaptureCheck, AcceptsLoopbackPlusToneAndPinpointsTheFirstWrongSample) {
    CaptureBuilder builder = correctFloat32Run(3);
    const CheckResult good = check(builder);
    EXPECT_TRUE(good.ok) << good.message;
    EXPECT_EQ(good.message, "3 switches, 2x2 float32 ok");

    float wrong = 0.5f;
    std::memcpy(&builder.records[2][3][3 * 4], &wrong, 4);
    const CheckResult bad = check(builder);
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.message.find("switch 2, output 1, sample 3"), std::string::npos) << bad.message;

    // The same capture read as a run without the tone does not hold either.
    EXPECT_FALSE(check(correctFloat32Run(3), CheckOptions{false, true, 1, 0}).ok);
}

TEST(CaptureCheck, Int16ToneSaturatesOnTheLoopedInputAndStandsAloneElsewhere) {
    CaptureBuilder builder;
    builder.inputTypes = {int16Lsb};
    builder.outputTypes = {int16Lsb, int16Lsb};
    const std::vector<int16_t> loud(builder.frames, 30000);
    auto& halves = builder.addRecord({samplesAsBytes(loud)});
    ToneGenerator tone;
    std::vector<int16_t> summed(builder.frames), alone(builder.frames), wrapped(builder.frames);
    for (uint32_t s = 0; s < builder.frames; ++s) {
        const double scaled = tone.next() * 32767.0;
        summed[s] = static_cast<int16_t>(std::clamp(std::nearbyint(30000 + scaled), -32768.0, 32767.0));
        alone[s] = static_cast<int16_t>(std::nearbyint(scaled));
        wrapped[s] = static_cast<int16_t>(static_cast<int32_t>(std::nearbyint(30000 + scaled)));
    }
    halves[1] = samplesAsBytes(summed);
    halves[2] = samplesAsBytes(alone);
    const CheckResult good = check(builder);
    EXPECT_TRUE(good.ok) << good.message;

    halves[1] = samplesAsBytes(wrapped); // a sum that overflowed instead of saturating
    EXPECT_FALSE(check(builder).ok);
    halves[1] = samplesAsBytes(summed);
    halves[2] = samplesAsBytes(summed); // tone added to a channel that had no input
    EXPECT_FALSE(check(builder).ok);
}

TEST(CaptureCheck, LoopbackCopiesRawBytesAndLeavesTheRestOfTheOutput) {
    // A 3-byte input into a 4-byte output: 3 x frames bytes copied, the rest untouched.
    CaptureBuilder builder;
    builder.inputTypes = {int24Lsb};
    builder.outputTypes = {float32Lsb};
    std::vector<uint8_t> input(builder.halfBytes(int24Lsb));
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i * 7 + 1);
    auto& halves = builder.addRecord({input});
    std::copy(input.begin(), input.end(), halves[1].begin());
    const CheckOptions noSine{false, true, 1, 0};
    const CheckResult good = check(builder, noSine);
    EXPECT_TRUE(good.ok) << good.message;
    EXPECT_EQ(good.message, "1 switches, 1x1 int24/float32 ok");

    halves[1][input.size()] = 0; // the host cleared past the copy
    const CheckResult bad = check(builder, noSine);
    EXPECT_NE(bad.message.find("output 0, byte 12"), std::string::npos) << bad.message;
}

TEST(CaptureCheck, OutputsWithoutWorkKeepTheSentinel) {
    CaptureBuilder builder;
    builder.inputTypes = {float32Lsb};
    builder.outputTypes = {float32Lsb, float32Lsb, float32Lsb};
    auto& halves = builder.addRecord(float32Inputs(builder));
    halves[1] = halves[0];
    const CheckOptions noSine{false, true, 1, 0};
    EXPECT_TRUE(check(builder, noSine).ok);
    // With /noloop the copy itself is the fault.
    EXPECT_FALSE(check(builder, CheckOptions{true, true, 1, 0}).ok);

    std::fill(halves[3].begin(), halves[3].end(), 0); // an unpaired output silenced
    const CheckResult bad = check(builder, noSine);
    EXPECT_NE(bad.message.find("output 2, byte 0: expected 0xA5, got 0x00 (untouched output)"),
              std::string::npos)
        << bad.message;
}

TEST(CaptureCheck, NoToneExpectedInAFormatTheHostCannotWrite) {
    CaptureBuilder builder;
    builder.inputTypes = {int24Lsb};
    builder.outputTypes = {int24Lsb};
    auto& halves = builder.addRecord({std::vector<uint8_t>(builder.halfBytes(int24Lsb), 0x11)});
    halves[1] = halves[0];
    const CheckResult result = check(builder);
    EXPECT_TRUE(result.ok) << result.message;
}

TEST(CaptureCheck, RejectsGapsLateSwitchesMissedNoticesAndCutFiles) {
    CaptureBuilder builder = correctFloat32Run(2);
    builder.switchNumbers = {0, 2};
    EXPECT_NE(check(builder).message.find("record 1 holds switch 2"), std::string::npos);

    builder = correctFloat32Run(2);
    builder.lateSwitches = 2;
    EXPECT_FALSE(check(builder, CheckOptions{false, false, 1, 1}).ok);
    EXPECT_TRUE(check(builder, CheckOptions{false, false, 1, 2}).ok);
    EXPECT_FALSE(check(builder, CheckOptions{false, false, 3, 2}).ok);

    builder.lateSwitches = 0;
    builder.outputReadyWanted = true;
    builder.outputReadyCalls = 1;
    EXPECT_NE(check(builder).message.find("outputReady called 1 times in 2 switches"), std::string::npos);
    builder.outputReadyCalls = 2;
    EXPECT_TRUE(check(builder).ok);

    std::vector<uint8_t> file = builder.bytes();
    file.pop_back();
    Capture capture;
    std::string error;
    EXPECT_FALSE(parseCapture(file, capture, error));
    EXPECT_FALSE(error.empty());
}
