// The capture checker: the tone it expects, and the host faults it must catch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "captureFile.h"
#include "checker.h"
#include "testdriver/captureFormat.h"
#include "toneGenerator.h"

using namespace capcheck;

namespace {

constexpr int32_t int16Lsb = 16, int24Lsb = 17, float32Lsb = 19;
const CheckOptions noSine{false, true, 1, 0};
using Halves = std::vector<std::vector<uint8_t>>;

template <typename T> std::vector<uint8_t> asBytes(const std::vector<T>& samples) {
    std::vector<uint8_t> bytes(samples.size() * sizeof(T));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// A capture file in the driver's layout, built in memory; each record holds its input
// halves, then its output halves.
struct Builder {
    uint32_t frames = 4, lateSwitches = 0, outputReadyCalls = 0;
    bool outputReadyWanted = false;
    std::vector<int32_t> inputTypes, outputTypes;
    std::vector<Halves> records;
    std::vector<uint32_t> switchNumbers; // defaults to 0, 1, 2, ...

    // A record with the given input halves and every output half still sentinel.
    Halves& addRecord(Halves halves) {
        for (int32_t type : outputTypes)
            halves.emplace_back(capture::sampleTypeBytes(type) * frames, capture::sentinelByte);
        return records.emplace_back(std::move(halves));
    }

    std::vector<uint8_t> bytes() const {
        namespace at = capture::offset;
        std::vector<uint8_t> file(capture::headerBytes);
        std::memcpy(file.data(), capture::magic, sizeof capture::magic);
        const uint32_t count = static_cast<uint32_t>(records.size());
        for (auto [where, value] :
             std::initializer_list<std::pair<uint32_t, uint32_t>>{{at::version, capture::version},
                                                                  {at::inputs, uint32_t(inputTypes.size())},
                                                                  {at::outputs, uint32_t(outputTypes.size())},
                                                                  {at::bufferSize, frames},
                                                                  {at::records, count},
                                                                  {at::switches, count},
                                                                  {at::lateSwitches, lateSwitches},
                                                                  {at::outputReadyCalls, outputReadyCalls},
                                                                  {at::outputReadyWanted, outputReadyWanted}})
            capture::putU32(&file[where], value);
        capture::putF64(&file[at::sampleRate], 48000.0);
        auto pair = [&file](uint32_t first, uint32_t second) {
            file.resize(file.size() + 8);
            capture::putU32(&file[file.size() - 8], first);
            capture::putU32(&file[file.size() - 4], second);
        };
        for (const auto* types : {&inputTypes, &outputTypes})
            for (size_t channel = 0; channel < types->size(); ++channel)
                pair(uint32_t(channel), uint32_t((*types)[channel]));
        for (uint32_t r = 0; r < count; ++r) {
            const uint32_t number = r < switchNumbers.size() ? switchNumbers[r] : r;
            pair(number, number & 1);
            for (const auto& half : records[r])
                file.insert(file.end(), half.begin(), half.end());
        }
        return file;
    }
};

CheckResult check(const Builder& builder, CheckOptions options = {}) {
    Capture capture;
    std::string error;
    if (!parseCapture(builder.bytes(), capture, error)) return CheckResult{false, "parse: " + error};
    return checkCapture(capture, options);
}

// What a correct host leaves in a float32 2x2 run: each input plus the tone on its output.
Builder correctFloat32Run(uint32_t records) {
    Builder builder;
    builder.inputTypes = builder.outputTypes = {float32Lsb, float32Lsb};
    ToneGenerator tone;
    for (uint32_t r = 0; r < records; ++r) {
        std::vector<float> in[2], out[2];
        for (uint32_t s = 0; s < builder.frames; ++s) {
            const double value = tone.next();
            for (int k = 0; k < 2; ++k) {
                in[k].push_back(0.1f * (k + 1) + 0.01f * s);
                out[k].push_back(static_cast<float>(in[k].back() + value));
            }
        }
        builder.records.push_back({asBytes(in[0]), asBytes(in[1]), asBytes(out[0]), asBytes(out[1])});
    }
    return builder;
}

bool reports(const CheckResult& result, const std::string& text) {
    return !result.ok && result.message.find(text) != std::string::npos;
}

} // namespace

TEST(ToneGenerator, StartsAtSineOfZeroThenStepsByTheModulationCosine) {
    ToneGenerator tone;
    EXPECT_EQ(tone.next(), 0.0);
    EXPECT_DOUBLE_EQ(tone.next(), std::sin(std::cos(static_cast<double>(0.00004L))));
}

TEST(CaptureCheck, AcceptsLoopbackPlusToneAndPinpointsTheFirstWrongSample) {
    Builder builder = correctFloat32Run(3);
    EXPECT_EQ(check(builder).message, "3 switches, 2x2 float32 ok");
    EXPECT_FALSE(check(builder, noSine).ok); // the tone is there but was not expected
    const float wrong = 0.5f;
    std::memcpy(&builder.records[2][3][3 * 4], &wrong, 4);
    EXPECT_TRUE(reports(check(builder), "switch 2, output 1, sample 3")) << check(builder).message;
}

TEST(CaptureCheck, Int16ToneSaturatesOnTheLoopedInputAndStandsAloneElsewhere) {
    Builder builder;
    builder.inputTypes = {int16Lsb};
    builder.outputTypes = {int16Lsb, int16Lsb};
    auto& halves = builder.addRecord({asBytes(std::vector<int16_t>(builder.frames, 30000))});
    ToneGenerator tone;
    std::vector<int16_t> summed, alone, wrapped;
    for (uint32_t s = 0; s < builder.frames; ++s) {
        const double scaled = tone.next() * 32767.0, sum = std::nearbyint(30000 + scaled);
        summed.push_back(static_cast<int16_t>(std::clamp(sum, -32768.0, 32767.0)));
        alone.push_back(static_cast<int16_t>(std::nearbyint(scaled)));
        wrapped.push_back(static_cast<int16_t>(static_cast<int32_t>(sum)));
    }
    // The correct result, a sum that overflowed, and the tone added to an unlooped output.
    for (auto [first, second, ok] :
         {std::tuple{&summed, &alone, true}, {&wrapped, &alone, false}, {&summed, &summed, false}}) {
        halves[1] = asBytes(*first);
        halves[2] = asBytes(*second);
        EXPECT_EQ(check(builder).ok, ok) << check(builder).message;
    }
}

TEST(CaptureCheck, LoopbackCopiesRawBytesAndNoToneWhereTheHostCannotWriteOne) {
    // A 3-byte input into a 4-byte output: 3 x frames bytes copied, the rest untouched.
    Builder builder;
    builder.inputTypes = {int24Lsb};
    builder.outputTypes = {float32Lsb};
    std::vector<uint8_t> input(3 * builder.frames);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i * 7 + 1);
    auto& halves = builder.addRecord({input});
    std::copy(input.begin(), input.end(), halves[1].begin());
    EXPECT_EQ(check(builder, noSine).message, "1 switches, 1x1 int24/float32 ok");
    halves[1][input.size()] = 0; // the host cleared past the copy
    EXPECT_TRUE(reports(check(builder, noSine), "output 0, byte 12"));

    builder.outputTypes = {int24Lsb}; // int24 takes no tone: a plain copy passes with the tone on
    halves[1] = input;
    EXPECT_TRUE(check(builder).ok) << check(builder).message;
}

TEST(CaptureCheck, OutputsWithoutWorkKeepTheSentinel) {
    Builder builder;
    builder.inputTypes = {float32Lsb};
    builder.outputTypes = {float32Lsb, float32Lsb, float32Lsb};
    auto& halves = builder.addRecord({std::vector<uint8_t>(4 * builder.frames, 0x11)});
    halves[1] = halves[0];
    EXPECT_TRUE(check(builder, noSine).ok);
    EXPECT_FALSE(check(builder, CheckOptions{true, true, 1, 0}).ok); // with /noloop the copy is the fault
    std::fill(halves[3].begin(), halves[3].end(), 0);                // an unpaired output silenced
    EXPECT_TRUE(
        reports(check(builder, noSine), "output 2, byte 0: expected 0xA5, got 0x00 (untouched output)"));
}

TEST(CaptureCheck, RejectsGapsLateSwitchesMissedNoticesAndCutFiles) {
    Builder builder = correctFloat32Run(2);
    builder.switchNumbers = {0, 2};
    EXPECT_TRUE(reports(check(builder), "record 1 holds switch 2"));
    builder.switchNumbers.clear();
    builder.lateSwitches = 2;
    EXPECT_FALSE(check(builder, CheckOptions{false, false, 1, 1}).ok);
    EXPECT_TRUE(check(builder, CheckOptions{false, false, 1, 2}).ok);
    EXPECT_FALSE(check(builder, CheckOptions{false, false, 3, 2}).ok); // fewer switches than asked
    builder.lateSwitches = 0;
    builder.outputReadyWanted = true;
    builder.outputReadyCalls = 1;
    EXPECT_TRUE(reports(check(builder), "outputReady called 1 times in 2 switches"));
    builder.outputReadyCalls = 2;
    EXPECT_TRUE(check(builder).ok);

    std::vector<uint8_t> file = builder.bytes();
    file.pop_back();
    Capture capture;
    std::string error;
    EXPECT_FALSE(parseCapture(file, capture, error));
    EXPECT_FALSE(error.empty());
}
