// The reference driver, created through COM from a registry file the way a host
// creates it, one registered class per configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

namespace {

using harness::create;

// Both classes capture and prefer time-info callbacks; the second also has a long name, 3
// int16 inputs, int32 outputs, power-of-two buffers of 32 to 512 frames, and does not want
// the output-ready notice.
const std::string common = "'SampleRate'=dword:bb80;'CallbackMode'='timeInfo';";
const int streaming = harness::addClass(common + "'Capture'='$DIR/streaming.cap'");
const int configured = harness::addClass(
    common + "'Capture'='$DIR/configured.cap';'DriverName'='A driver name of forty characters, cut.';"
             "'Inputs'=dword:3;'InputType'=dword:10;'OutputType'=dword:12;'OutputReady'=dword:0;"
             "'BufferMin'=dword:20;'BufferMax'=dword:200;'Granularity'=dword:ffffffff");

// Latencies of 300 and 600 at 300-sample buffers: following the size, kept stale, and an
// output latency broken at every size.
const std::string latencies = "'InputLatency'=dword:12c;'OutputLatency'=dword:258;";
const int following = harness::addClass(latencies);
const int stale = harness::addClass(latencies + "'StaleLatencies'=dword:1");
const int negative = harness::addClass("'InputLatency'=dword:20;'OutputLatency'=dword:ffffffff");

std::string capturePath(int number) {
    return harness::tempPath(number == streaming ? "streaming.cap" : "configured.cap");
}

// The callbacks carry no context: the host side lives here. With plain callbacks it
// copies inputs 0 and 1 (float32) to outputs 0 and 1 and sends the notice.
struct Host {
    IASIO* driver = nullptr;
    ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
    int32_t frames = 0;
    bool takesTimeInfo = false;
    std::atomic<int> plainSwitches{0}, timeInfoSwitches{0}, badTimeRecords{0};
} hosts[2], *host = hosts;

void TEL_CDECL onSwitch(int32_t half, ASIOBool) {
    host->plainSwitches.fetch_add(1);
    for (int32_t k = 0; k < 2; ++k)
        std::memcpy(host->infos[2 + k].buffers[half], host->infos[k].buffers[half], host->frames * 4);
    host->driver->outputReady();
}

int32_t TEL_CDECL onMessage(int32_t selector, int32_t value, void*, double*) {
    return host->takesTimeInfo && (selector == kAsioSupportsTimeInfo ||
                                   (selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo));
}

ASIOTime* TEL_CDECL onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
    const int number = host->timeInfoSwitches.fetch_add(1);
    ASIOSamples at;
    std::memcpy(&at, &time->timeInfo.samplePosition, sizeof at);
    if (time->timeInfo.speed != 1.0 || time->timeInfo.flags != 3 || time->timeInfo.sampleRate != 48000.0 ||
        at.hi != 0 || at.lo != uint32_t(number * host->frames) || half != (number & 1))
        host->badTimeRecords.fetch_add(1);
    return time;
}

ASIOCallbacks callbacks{onSwitch, [](double) {}, onMessage, onSwitchTimeInfo};

class ReferenceDriverTest : public harness::DriverTest {};

} // namespace

TEST_F(ReferenceDriverTest, ChecksEveryRequestAgainstItsConfiguration) {
    IASIO* driver = create(configured);
    char name[256];
    driver->getDriverName(name);
    EXPECT_STREQ(name, "A driver name of forty characte"); // hosts pass 32 bytes
    void* other = nullptr;
    EXPECT_EQ(driver->QueryInterface(plat::iidClassFactory, &other), plat::hrNoInterface);
    EXPECT_EQ(driver->QueryInterface(plat::iidUnknown, &other), plat::hrOk);
    EXPECT_EQ(other, static_cast<void*>(driver));
    EXPECT_EQ(driver->Release(), 1u);

    ASIOBufferInfo infos[3] = {{1, 0, {}}, {1, 2, {}}, {0, 0, {}}};
    EXPECT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_NotPresent); // before init
    ASSERT_EQ(driver->init(nullptr), 1);
    for (int32_t size : {16, 300, 1024}) // below the minimum, not a power of two, above the maximum
        EXPECT_EQ(driver->createBuffers(infos, 3, size, &callbacks), ASE_InvalidParameter) << size;
    ASIOBufferInfo outOfRange[1] = {{0, 2, {}}}, twice[2] = {{0, 0, {}}, {0, 0, {}}};
    EXPECT_EQ(driver->createBuffers(outOfRange, 1, 64, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(twice, 2, 64, &callbacks), ASE_InvalidParameter);
    ASSERT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_OK);
    // Input 2 is in use, input 1 is not, and there is no output 2.
    ASIOChannelInfo used{2, 1, 0, 0, 0, {}}, unused{1, 1, 1, 0, 0, {}}, missing{2, 0, 0, 0, 0, {}};
    EXPECT_EQ(driver->getChannelInfo(&missing), ASE_InvalidParameter);
    EXPECT_EQ(driver->getChannelInfo(&used) | driver->getChannelInfo(&unused), ASE_OK);
    EXPECT_EQ(used.isActive * 10 + unused.isActive, 10);
    EXPECT_EQ(driver->createBuffers(infos, 3, 64, &callbacks), ASE_InvalidMode);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
    EXPECT_EQ(driver->createBuffers(infos, 3, 32, &callbacks), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u); // buffers still created: releasing must clean up
}

// Each latency holds one buffer: at B samples it reports B - 300 more than configured
// (the preferred 256 before any buffers exist), never below 0; stale ones and broken ones
// stay as configured at every size.
TEST_F(ReferenceDriverTest, ReportsLatenciesThatFollowTheBufferSizeUnlessStale) {
    const struct {
        int number;
        int32_t before[2];
        std::vector<std::array<int32_t, 3>> atSize; // size, input, output
    } cases[] = {
        {following, {256, 556}, {{64, 64, 364}, {300, 300, 600}, {2048, 2048, 2348}}},
        {stale, {300, 600}, {{64, 300, 600}, {2048, 300, 600}}},
        {negative, {0, -1}, {{64, 0, -1}, {1000, 732, -1}}},
    };
    for (const auto& each : cases) {
        IASIO* driver = create(each.number);
        ASSERT_EQ(driver->init(nullptr), 1);
        int32_t input = 0, output = 0;
        ASSERT_EQ(driver->getLatencies(&input, &output), ASE_OK);
        EXPECT_EQ(input, each.before[0]) << each.number;
        EXPECT_EQ(output, each.before[1]) << each.number;
        for (const auto& [size, wantedInput, wantedOutput] : each.atSize) {
            ASIOBufferInfo infos[2] = {{1, 0, {}}, {0, 0, {}}};
            ASSERT_EQ(driver->createBuffers(infos, 2, size, &callbacks), ASE_OK);
            ASSERT_EQ(driver->getLatencies(&input, &output), ASE_OK);
            EXPECT_EQ(input, wantedInput) << each.number << " at " << size;
            EXPECT_EQ(output, wantedOutput) << each.number << " at " << size;
            EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        }
        driver->Release();
    }
}

TEST_F(ReferenceDriverTest, StreamsInRealTimeAndCapturesEverySwitch) {
    // A float32 host without time-info callbacks copies and notifies; a host that takes
    // them writes nothing, over int16 inputs and int32 outputs.
    for (bool quiet : {false, true}) {
        host = &hosts[quiet];
        host->takesTimeInfo = quiet;
        const int32_t frames = host->frames = quiet ? 256 : 64;
        IASIO* driver = host->driver = create(quiet ? configured : streaming);
        EXPECT_EQ(driver->outputReady(), quiet ? ASE_NotPresent : ASE_OK);
        EXPECT_EQ(driver->init(nullptr), 1);
        EXPECT_EQ(driver->createBuffers(host->infos, 4, frames, &callbacks), ASE_OK);
        EXPECT_EQ(driver->start(), ASE_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASIOSamples position{}, stamp{};
        EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
        EXPECT_EQ(position.lo % frames, 0u);
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);

        capcheck::Capture capture;
        std::string error;
        ASSERT_TRUE(capcheck::readCaptureFile(capturePath(quiet ? configured : streaming), capture, error));
        // 300 ms at 48000 Hz is 14400 frames; a busy machine may deliver fewer, never more.
        EXPECT_GE(capture.switches * frames, 3200u);
        EXPECT_LE(capture.switches * frames, 15360u);
        EXPECT_EQ(capture.records, capture.switches);
        EXPECT_EQ(capture.timeInfoCallbacks, quiet);
        EXPECT_EQ((quiet ? host->timeInfoSwitches : host->plainSwitches).load(), int(capture.switches));
        EXPECT_EQ((quiet ? host->plainSwitches : host->timeInfoSwitches).load(), 0);
        EXPECT_EQ(host->badTimeRecords.load(), 0);
        const capcheck::CheckResult result =
            capcheck::checkCapture(capture, {quiet, true, 1, capture.switches});
        EXPECT_TRUE(result.ok) << result.message;
        // The inputs carry the known signal at each switch's sample position, int16 rounded.
        for (uint32_t r = 0; r < capture.records; r += 7)
            for (int32_t k = 0; k < 2; ++k)
                for (int64_t s = 0, at = int64_t{r} * frames; s < frames; s += 5, at += 5)
                    ASSERT_NEAR(capcheck::decodeSample(capture.input(r, k) + s * (quiet ? 2 : 4),
                                                       capture.inputs[k].type),
                                0.5 * std::sin(2.0 * M_PI * ((at * (k + 1)) % 256) / 256.0) *
                                    (quiet ? 32767.0 : 1.0),
                                quiet ? 0.5 : 1e-7)
                        << "record " << r << ", input " << k << ", sample " << s;
    }
}
