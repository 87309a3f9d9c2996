// The reference driver's channel map (WireMap), read from the capture of a host that
// plays a known pattern on every output: a swap with its own delay, gain and polarity,
// two outputs into one input, an input left with its own signal, a path that drifts,
// and a malformed map that wires nothing; and the map's syntax.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "asio/asioDriverInterface.h"
#include "captureFile.h"
#include "checker.h"
#include "driverHarness.h"
#include "sampleCodec.h"
#include "testdriver/configLists.h"
#include "testdriver/wireKernel.h"

namespace {

constexpr int32_t frames = 64;
constexpr double rate = 48000.0;

const std::string base = "'SampleRate'=dword:bb80;'Inputs'=dword:4;'Outputs'=dword:4;";
const int mapped = harness::addClass(base + "'Capture'='$DIR/wiremap.cap';"
                                            "'WireMap'='2:1, 1:2@20.5-6i, 3:3@5, 4:3@7-20'");
const int drifting = harness::addClass(base + "'Capture'='$DIR/wiredrift.cap';'WireMap'='1:1@20~600'");
const int malformed = harness::addClass(base + "'Capture'='$DIR/wirebad.cap';'WireMap'='1:1,2:x';"
                                               "'WireFrom'=dword:1;'WireTo'=dword:1");

// What the host plays on output k (0-based) at position q.
double pattern(int k, int64_t q) {
    return q < 0 ? 0.0
                 : 0.25 * std::sin(0.013 * double((k + 1) * q) + k) + 0.05 * ((q * (k + 3)) % 7 - 3) / 3.0;
}

struct Player {
    IASIO* driver = nullptr;
    ASIOBufferInfo infos[8] = {{1, 0, {}}, {1, 1, {}}, {1, 2, {}}, {1, 3, {}},
                               {0, 0, {}}, {0, 1, {}}, {0, 2, {}}, {0, 3, {}}};
    std::atomic<int64_t> switches{0};
} player;

void TEL_CDECL onMapSwitch(int32_t half, ASIOBool) {
    const int64_t first = player.switches.load() * frames;
    for (int k = 0; k < 4; ++k) {
        auto* out = static_cast<float*>(player.infos[4 + k].buffers[half]);
        for (int32_t s = 0; s < frames; ++s)
            out[s] = static_cast<float>(pattern(k, first + s));
    }
    player.switches.fetch_add(1);
    player.driver->outputReady();
}

ASIOCallbacks mapCallbacks{onMapSwitch, [](double) {},
                        [](int32_t, int32_t, void*, double*) -> int32_t { return 0; }, nullptr};

capcheck::Capture play(int number, const std::string& file) {
    player.switches = 0;
    IASIO* driver = player.driver = harness::create(number);
    EXPECT_EQ(driver->init(nullptr), 1);
    EXPECT_EQ(driver->createBuffers(player.infos, 8, frames, &mapCallbacks), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
    capcheck::Capture capture;
    std::string error;
    EXPECT_TRUE(capcheck::readCaptureFile(harness::tempPath(file), capture, error)) << error;
    return capture;
}

// A path as the wire makes it: output `from` (0-based) delayed by two buffers and
// `extra`, the fraction by the wire's own filter, times `gain`.
double through(int from, int64_t p, double extra, double gain) {
    const int64_t whole = 2 * frames + static_cast<int64_t>(std::floor(extra));
    const double fraction = extra - std::floor(extra);
    if (fraction == 0.0) return gain * pattern(from, p - whole);
    const std::vector<double> taps = refdrv::wireFractionTaps(fraction);
    double value = 0.0;
    for (int j = -refdrv::fractionReach; j <= refdrv::fractionReach; ++j)
        value += taps[size_t(j + refdrv::fractionReach)] * pattern(from, p - whole - j);
    return gain * value;
}

double inputAt(const capcheck::Capture& capture, uint32_t record, int k, int32_t s) {
    return capcheck::decodeSample(capture.input(record, size_t(k)) + 4 * s, capture.inputs[size_t(k)].type);
}

class WireMapTest : public harness::DriverTest {};

TEST_F(WireMapTest, PathsSwapMixAndLeaveAnInputAlone) {
    const capcheck::Capture capture = play(mapped, "wiremap.cap");
    ASSERT_GT(capture.records, 20u);
    const double minus6 = std::pow(10.0, -6.0 / 20.0), minus20 = std::pow(10.0, -20.0 / 20.0);
    for (uint32_t r = 0; r < capture.records; r += 3) {
        const int64_t first = int64_t{capture.switchNumber(r)} * frames;
        for (int32_t s = 0; s < frames; s += 7) {
            const int64_t p = first + s;
            SCOPED_TRACE("record " + std::to_string(r) + ", sample " + std::to_string(s));
            ASSERT_NEAR(inputAt(capture, r, 0, s), through(1, p, 0.0, 1.0), 1e-6);
            ASSERT_NEAR(inputAt(capture, r, 1, s), through(0, p, 20.5, -minus6), 1e-6);
            ASSERT_NEAR(inputAt(capture, r, 2, s), through(2, p, 5.0, 1.0) + through(3, p, 7.0, minus20),
                        1e-6);
            // Input 4 is no path's: its own sine, period 256 / 4.
            ASSERT_NEAR(inputAt(capture, r, 3, s), 0.5 * std::sin(2.0 * M_PI * double((p * 4) % 256) / 256.0),
                        1e-6);
        }
    }
}

TEST_F(WireMapTest, ADriftingPathMovesItsDelayWithThePosition) {
    const capcheck::Capture capture = play(drifting, "wiredrift.cap");
    ASSERT_GT(capture.records, 20u);
    const double perSample = 600.0 / (60.0 * rate);
    for (uint32_t r = 0; r < capture.records; r += 2) {
        const int64_t first = int64_t{capture.switchNumber(r)} * frames;
        const double extra = 20.0 + perSample * double(first); // one delay per block
        for (int32_t s = 0; s < frames; s += 5)
            ASSERT_NEAR(inputAt(capture, r, 0, s), through(0, first + s, extra, 1.0), 1e-6) << r << ", " << s;
    }
    // After 250 ms the delay has grown by about 2.5 samples: far from the undrifted one.
    const uint32_t last = capture.records - 1;
    const int64_t first = int64_t{capture.switchNumber(last)} * frames;
    EXPECT_GT(std::abs(inputAt(capture, last, 0, 10) - through(0, first + 10, 20.0, 1.0)) +
                  std::abs(inputAt(capture, last, 0, 40) - through(0, first + 40, 20.0, 1.0)),
              1e-3);
}

TEST_F(WireMapTest, AMalformedMapWiresNothing) {
    const capcheck::Capture capture = play(malformed, "wirebad.cap");
    ASSERT_GT(capture.records, 5u);
    for (uint32_t r = 0; r < capture.records; r += 5) {
        const int64_t first = int64_t{capture.switchNumber(r)} * frames;
        for (int32_t s = 0; s < frames; s += 9)
            ASSERT_NEAR(inputAt(capture, r, 0, s),
                        0.5 * std::sin(2.0 * M_PI * double((first + s) % 256) / 256.0), 1e-6);
    }
}

TEST(WireMapSyntax, PathsAndTheirMistakes) {
    const auto paths = refdrv::parseWireMap(" 2:1 , 1:2@96.5-6i,3:3~-0.25,4:4+3");
    ASSERT_TRUE(paths);
    ASSERT_EQ(paths->size(), 4u);
    const refdrv::WirePath& swapped = (*paths)[1];
    EXPECT_EQ(swapped.from, 1);
    EXPECT_EQ(swapped.to, 2);
    EXPECT_EQ(swapped.delay, 96.5);
    EXPECT_EQ(swapped.gainDb, -6.0);
    EXPECT_TRUE(swapped.invert);
    EXPECT_FALSE((*paths)[0].delay || (*paths)[0].gainDb || (*paths)[0].invert);
    EXPECT_EQ((*paths)[2].drift, -0.25);
    EXPECT_EQ((*paths)[3].gainDb, 3.0);
    for (const char* bad :
         {"", "1", "1:", ":1", "0:1", "1:2@", "1:2@-3", "1:2x", "1:2i+3", "1:2,,2:1", "1:2@1e3"})
        EXPECT_FALSE(refdrv::parseWireMap(bad)) << bad;
}

} // namespace
