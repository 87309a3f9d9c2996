// The wire: a fake host writes a known signal into the wire's output, and the wire's
// input must return it exactly 2 × buffer size + WireDelay samples later, with the
// configured gain, inversion, dropouts and noise, converted between the formats.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "driverHarness.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t frames = 64;
const std::string timeInfoAt48k = "'SampleRate'=dword:bb80;'CallbackMode'='timeInfo';";
// float32 output 2 to input 1, 0x25 = 37 samples beyond the two buffers.
const int floatWire =
    harness::addClass(timeInfoAt48k + "'WireFrom'=dword:2;'WireTo'=dword:1;'WireDelay'=dword:25");
// int16 output 1 to int24 input 1, inverted, +6 dB (so the loud samples clip), dropping
// out at switches 20 and 23.
const int integerWire = harness::addClass(
    timeInfoAt48k + "'OutputType'=dword:10;'InputTypes'='17';'WireFrom'=dword:1;'WireTo'=dword:1;"
                    "'WireGainDb'='+6';'WireInvert'=dword:1;'WireDropoutAt'='20,23'");
// Noise of -40 dB RMS on a wire the host keeps silent.
const int noisyWire = harness::addClass(
    timeInfoAt48k + "'WireFrom'=dword:1;'WireTo'=dword:1;'WireNoiseDb'='-40';'Seed'=dword:7");

// The host's signal at an output position: pseudo-random float32 values in [-1, 1), and
// an int16 ramp over the whole range.
float floatSignal(int64_t position) {
    uint32_t x = static_cast<uint32_t>(position) * 2654435761u + 12345u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return static_cast<float>(static_cast<int32_t>(x) / 2147483648.0);
}
int16_t rampSignal(int64_t position) {
    return static_cast<int16_t>(static_cast<uint16_t>(position * 97));
}

int32_t int24At(const uint8_t* at) {
    const int32_t raw = at[0] | at[1] << 8 | at[2] << 16;
    return raw >= 1 << 23 ? raw - (1 << 24) : raw;
}

// The host side: writes its signal into the wired output (the same signal 1000 samples
// on into the other output, which must not come back), keeps what input 1 carried by
// position, and checks that the float32 input 2 keeps its sine.
enum class Signal { floats, ramp, silence };
struct WireHost {
    Signal signal = Signal::floats;
    int wiredOutput = 3; // index into infos
    ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
    std::vector<double> seen = std::vector<double>(400 * frames);
    std::atomic<int64_t> seenUpTo{0};
    std::atomic<int> switches{0}, sineFaults{0};
} host;

void writeOutput(uint8_t* target, int64_t position) {
    for (int32_t s = 0; s < frames; ++s) {
        if (host.signal == Signal::ramp) {
            const int16_t sample = rampSignal(position + s);
            std::memcpy(target + 2 * s, &sample, 2);
        } else {
            const float sample = host.signal == Signal::floats ? floatSignal(position + s) : 0.0f;
            std::memcpy(target + 4 * s, &sample, 4);
        }
    }
}

ASIOTime* TEL_CDECL onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
    ASIOSamples words;
    std::memcpy(&words, &time->timeInfo.samplePosition, sizeof words);
    const int64_t position = static_cast<int64_t>((uint64_t{words.hi} << 32) | words.lo);
    const auto* wired = static_cast<const uint8_t*>(host.infos[0].buffers[half]);
    if (position + frames <= static_cast<int64_t>(host.seen.size())) {
        for (int32_t s = 0; s < frames; ++s) {
            float value;
            std::memcpy(&value, wired + 4 * s, 4);
            host.seen[position + s] = host.signal == Signal::ramp ? int24At(wired + 3 * s) : value;
        }
        host.seenUpTo = position + frames;
    }
    if (host.signal != Signal::ramp)
        for (int32_t s = 0; s < frames; ++s) {
            float value;
            std::memcpy(&value, static_cast<const uint8_t*>(host.infos[1].buffers[half]) + 4 * s, 4);
            const double sine = 0.5 * std::sin(2.0 * M_PI * (((position + s) * 2) % 256) / 256.0);
            if (std::fabs(value - sine) > 1e-7) host.sineFaults.fetch_add(1);
        }
    for (int k = 2; k < 4; ++k)
        writeOutput(static_cast<uint8_t*>(host.infos[k].buffers[half]),
                    position + (k == host.wiredOutput ? 0 : 1000));
    host.switches.fetch_add(1);
    return time;
}

int32_t TEL_CDECL onMessage(int32_t selector, int32_t value, void*, double*) {
    return selector == kAsioSupportsTimeInfo ||
           (selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo);
}

void TEL_CDECL onSwitch(int32_t, ASIOBool) {}

ASIOCallbacks callbacks{onSwitch, [](double) {}, onMessage, onSwitchTimeInfo};

// Runs the class until the host saw 40 switches and returns input 1 by position.
std::vector<double> runWire(int number, Signal signal, int wiredOutput) {
    host.signal = signal;
    host.wiredOutput = wiredOutput;
    std::fill(host.seen.begin(), host.seen.end(), 0.0);
    host.seenUpTo = 0;
    host.switches = 0;
    host.sineFaults = 0;
    IASIO* driver = harness::create(number);
    EXPECT_EQ(driver->init(nullptr), 1);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, frames, &callbacks), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_OK);
    const Clock::time_point begin = Clock::now();
    while (host.switches.load() < 40 && Clock::now() - begin < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_GE(host.switches.load(), 40);
    EXPECT_EQ(host.sineFaults.load(), 0);
    return std::vector<double>(host.seen.begin(), host.seen.begin() + host.seenUpTo.load());
}

class WireTest : public harness::DriverTest {};

} // namespace

TEST_F(WireTest, ReturnsFloatSamplesBitForBitTwoBuffersAndTheDelayLater) {
    const std::vector<double> input = runWire(floatWire, Signal::floats, 3);
    const int64_t delay = 2 * frames + 37;
    for (int64_t p = 0; p < static_cast<int64_t>(input.size()); ++p) {
        const float expected = p < delay ? 0.0f : floatSignal(p - delay);
        ASSERT_EQ(static_cast<float>(input[p]), expected) << "input position " << p;
    }
}

TEST_F(WireTest, ConvertsGainsInvertsClipsAndDropsOut) {
    const std::vector<double> input = runWire(integerWire, Signal::ramp, 2);
    const double gain = -std::pow(10.0, 6.0 / 20.0);
    // Hand-computed first: input p carries x = ramp(p - 128) as -(x / 32767) × 1.99526 ×
    // 8388607, rounded and clipped; nothing before position 128 or in switches 20 and 23.
    const struct {
        int64_t position;
        int32_t sample;
    } table[] = {{50, 0},          {129, -49548},    {228, -4954786}, // x = 97 and 9700
                 {466, 8388607},   {1128, -8388608},                  // x = -32750 and 31464 clip
                 {20 * 64 + 5, 0}, {23 * 64 + 63, 0}};
    ASSERT_GT(input.size(), 24u * frames);
    for (const auto& row : table)
        EXPECT_EQ(input[row.position], row.sample) << "input position " << row.position;
    int clipped = 0;
    for (int64_t p = 0; p < static_cast<int64_t>(input.size()); ++p) {
        const int64_t switchNumber = p / frames;
        double expected = 0.0;
        if (p >= 2 * frames && switchNumber != 20 && switchNumber != 23) {
            const double scaled = rampSignal(p - 2 * frames) / 32767.0 * gain * 8388607.0;
            expected = scaled >= 8388607.0    ? 8388607.0
                       : scaled <= -8388608.0 ? -8388608.0
                                              : std::nearbyint(scaled);
            clipped += std::fabs(scaled) > 8388607.0;
        }
        ASSERT_EQ(input[p], expected) << "input position " << p;
    }
    EXPECT_GT(clipped, 100);
}

TEST_F(WireTest, AddsReproducibleNoiseOfTheConfiguredLevel) {
    const std::vector<double> first = runWire(noisyWire, Signal::silence, 2);
    double power = 0.0, peak = 0.0;
    for (double value : first) {
        power += value * value;
        peak = std::max(peak, std::fabs(value));
    }
    EXPECT_NEAR(std::sqrt(power / first.size()), 0.01, 0.001);
    EXPECT_LE(peak, 0.01 * std::sqrt(3.0) + 1e-9);
    EXPECT_GT(peak, 0.01 * std::sqrt(3.0) * 0.9);
    const std::vector<double> second = runWire(noisyWire, Signal::silence, 2);
    const size_t common = std::min(first.size(), second.size());
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + common, second.begin()));
}
