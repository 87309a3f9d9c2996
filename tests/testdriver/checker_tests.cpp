// The capture checker: the host faults it must catch in a capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "captureFile.h"
#include "checker.h"
#include "testdriver/captureFormat.h"
#include "toneGenerator.h"

using namespace capcheck;

namespace {

constexpr int32_t int16Lsb = 16, int24Lsb = 17, float32Lsb = 19;
const CheckOptions noSine{false, true, 1, 0};
using Bytes = std::vector<uint8_t>;

template <typename T> Bytes bytesOf(const T& data) {
    const auto* first = reinterpret_cast<const uint8_t*>(std::data(data));
    return Bytes(first, first + std::size(data) * sizeof *std::data(data));
}

// A capture file of 4-frame halves in the driver's layout; each record holds its input
// halves, then its output halves.
struct Builder {
    std::vector<int32_t> inputTypes, outputTypes;
    std::vector<std::vector<Bytes>> records;

    Bytes bytes() const {
        const uint32_t n = uint32_t(records.size()), in = uint32_t(inputTypes.size()),
                       out = uint32_t(outputTypes.size());
        // Version, channels, frames, the rate's 8 bytes, records, switches, then counters left 0.
        const uint32_t header[14] = {capture::version, in, out, 4, 0, 0, n, n};
        Bytes file = bytesOf(capture::magic), more = bytesOf(header);
        auto add = [&file](const Bytes& part) { file.insert(file.end(), part.begin(), part.end()); };
        add(more);
        capture::putF64(&file[capture::offset::sampleRate], 48000.0);
        for (const auto* types : {&inputTypes, &outputTypes})
            for (int32_t channel = 0; channel < int32_t(types->size()); ++channel)
                add(bytesOf(std::array{channel, (*types)[channel]}));
        for (uint32_t r = 0; r < n; ++r) {
            add(bytesOf(std::array{r, r & 1}));
            std::for_each(records[r].begin(), records[r].end(), add);
        }
        return file;
    }
};

Capture parse(const Builder& builder) {
    Capture capture;
    std::string error;
    EXPECT_TRUE(parseCapture(builder.bytes(), capture, error)) << error;
    return capture;
}

bool reports(const CheckResult& result, const std::string& text) {
    return !result.ok && result.message.find(text) != std::string::npos;
}

// What a correct host leaves in a float32 2x2 run: each input plus the tone on its output.
Builder correctFloat32Run(uint32_t records) {
    Builder builder{{float32Lsb, float32Lsb}, {float32Lsb, float32Lsb}, {}};
    ToneGenerator tone;
    for (uint32_t r = 0; r < records; ++r) {
        std::vector<float> in[2], out[2];
        for (uint32_t s = 0; s < 4; ++s) {
            const double value = tone.next();
            for (int k = 0; k < 2; ++k) {
                in[k].push_back(0.1f * (k + 1) + 0.01f * s);
                out[k].push_back(static_cast<float>(in[k].back() + value));
            }
        }
        builder.records.push_back({bytesOf(in[0]), bytesOf(in[1]), bytesOf(out[0]), bytesOf(out[1])});
    }
    return builder;
}

} // namespace

TEST(CaptureCheck, AcceptsLoopbackPlusToneAndPinpointsTheFirstWrongSample) {
    Builder builder = correctFloat32Run(3);
    EXPECT_EQ(checkCapture(parse(builder), {}).message, "3 switches, 2x2 float32 ok");
    EXPECT_FALSE(checkCapture(parse(builder), noSine).ok); // the tone is there but was not expected
    builder.records[2][3][3 * 4 + 3] ^= 0x40;              // switch 2, output 1, sample 3 changed
    EXPECT_TRUE(reports(checkCapture(parse(builder), {}), "switch 2, output 1, sample 3"));
}

TEST(CaptureCheck, Int16ToneSaturatesOnTheLoopedInputAndStandsAloneElsewhere) {
    Builder builder{{int16Lsb}, {int16Lsb, int16Lsb}, {}};
    auto& halves = builder.records.emplace_back(3, bytesOf(std::vector<int16_t>(4, 30000)));
    ToneGenerator tone;
    std::vector<int16_t> summed, alone, wrapped;
    for (uint32_t s = 0; s < 4; ++s) {
        const double scaled = tone.next() * 32767.0, sum = std::nearbyint(30000 + scaled);
        summed.push_back(static_cast<int16_t>(std::clamp(sum, -32768.0, 32767.0)));
        alone.push_back(static_cast<int16_t>(std::nearbyint(scaled)));
        wrapped.push_back(static_cast<int16_t>(static_cast<int32_t>(sum)));
    }
    // The correct result, a sum that overflowed, and the tone added to an unlooped output.
    for (auto [first, second, ok] :
         {std::tuple{&summed, &alone, true}, {&wrapped, &alone, false}, {&summed, &summed, false}}) {
        halves[1] = bytesOf(*first);
        halves[2] = bytesOf(*second);
        EXPECT_EQ(checkCapture(parse(builder), {}).ok, ok);
    }
}

TEST(CaptureCheck, LoopbackCopiesRawBytesAndLeavesEverythingElseUntouched) {
    // A 3-byte input into a 4-byte output: 3 x 4 bytes copied, the rest sentinel, and a
    // second output that nothing may touch.
    Builder builder{{int24Lsb}, {float32Lsb, float32Lsb}, {}};
    Bytes input(12), copied, untouched(16, capture::sentinelByte);
    std::iota(input.begin(), input.end(), 1);
    (copied = input).resize(16, capture::sentinelByte);
    auto& halves = builder.records.emplace_back(std::vector<Bytes>{input, copied, untouched});
    EXPECT_EQ(checkCapture(parse(builder), noSine).message, "1 switches, 1x2 int24/float32 ok");
    EXPECT_FALSE(checkCapture(parse(builder), {true, true, 1, 0}).ok); // with /noloop the copy is the fault
    halves[2][5] = 0;
    EXPECT_TRUE(reports(checkCapture(parse(builder), noSine),
                        "output 1, byte 5: expected 0xA5, got 0x00 (untouched output)"));
    halves[2][5] = capture::sentinelByte;
    halves[1][12] = 0; // the host cleared past the copy
    EXPECT_TRUE(reports(checkCapture(parse(builder), noSine), "output 0, byte 12"));

    builder.outputTypes = {int24Lsb}; // int24 takes no tone: a plain copy passes with the tone on
    halves = {input, input};
    EXPECT_TRUE(checkCapture(parse(builder), {}).ok);
}

TEST(CaptureCheck, RejectsGapsLateSwitchesMissedNoticesAndCutFiles) {
    Capture capture = parse(correctFloat32Run(2));
    capture.data[capture.recordBytes] = 2; // record 1 holds switch 2
    EXPECT_TRUE(reports(checkCapture(capture, {}), "record 1 holds switch 2"));
    capture = parse(correctFloat32Run(2));
    capture.lateSwitches = 2;
    EXPECT_FALSE(checkCapture(capture, {false, false, 1, 1}).ok);
    EXPECT_TRUE(checkCapture(capture, {false, false, 1, 2}).ok);
    EXPECT_FALSE(checkCapture(capture, {false, false, 3, 2}).ok); // fewer switches than asked
    capture.outputReadyWanted = true;
    capture.outputReadyCalls = 1;
    EXPECT_TRUE(
        reports(checkCapture(capture, {false, false, 1, 2}), "outputReady called 1 times in 2 switches"));
    capture.outputReadyCalls = 2;
    EXPECT_TRUE(checkCapture(capture, {false, false, 1, 2}).ok);

    Bytes file = correctFloat32Run(2).bytes();
    file.pop_back();
    std::string error;
    EXPECT_FALSE(parseCapture(file, capture, error) || error.empty());
}
