// Faults a host must survive whose injection the host's side cannot prove: null buffers,
// and callbacks that keep coming after the host let go of them. (Failing entry points,
// the module without one, unterminated names and slow calls show in what the tool prints
// in the end-to-end runs.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "asio/asioDriverInterface.h"
#include "driverHarness.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

const int nullBuffers = harness::addClass("'NullBuffers'=dword:1");
const int afterDispose = harness::addClass("'CallbackAfter'='disposeBuffers';'CallbackAfterMs'=dword:64");
const int afterRelease = harness::addClass(
    "'CallbackAfter'='release';'CallbackAfterMs'=dword:64;'CallbackMode'='timeInfo';'SampleRate'=dword:bb80");

// The host's side of the callbacks.
struct Host {
    bool takesTimeInfo = false;
    std::atomic<int> switches{0}, wrongHalves{0}, badRecords{0}, resets{0}, resetsOffCycle{0};
} host;

int32_t TEL_CDECL onMessage(int32_t selector, int32_t value, void*, double*) {
    if (selector == kAsioSupportsTimeInfo ||
        (selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo))
        return host.takesTimeInfo;
    if (selector == kAsioSelectorSupported && value == kAsioResetRequest) {
        host.resets.fetch_add(1);
        if (host.switches.load() % 10 != 0) host.resetsOffCycle.fetch_add(1);
    }
    return 0;
}

void TEL_CDECL onSwitch(int32_t half, ASIOBool) {
    const int number = host.switches.fetch_add(1);
    if (half != number % 2) host.wrongHalves.fetch_add(1);
}

ASIOTime* TEL_CDECL onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
    ASIOSamples position;
    std::memcpy(&position, &time->timeInfo.samplePosition, sizeof position);
    const int number = host.switches.load();
    if (time->timeInfo.sampleRate != 48000.0 || position.lo != uint32_t(number * 64))
        host.badRecords.fetch_add(1);
    onSwitch(half, 1);
    return time;
}

ASIOCallbacks callbacks{onSwitch, [](double) {}, onMessage, onSwitchTimeInfo};

void resetHost(bool takesTimeInfo) {
    host.takesTimeInfo = takesTimeInfo;
    host.switches = host.wrongHalves = host.badRecords = host.resets = host.resetsOffCycle = 0;
}

// Waits until `condition` holds, for at most `limit`.
template <typename Condition> bool waitFor(Condition condition, std::chrono::milliseconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// After the host let go: callbacks every millisecond with alternating halves and a reset
// request after every 10th, for 100 ms (0x64) from when they began, then silence.
void expectLingeringCalls(Clock::time_point letGo) {
    EXPECT_TRUE(waitFor([] { return host.switches.load() >= 30; }, std::chrono::seconds(5)));
    int count = -1;
    EXPECT_TRUE(waitFor(
        [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            const int now = host.switches.load();
            const bool quiet = now == count;
            count = now;
            return quiet;
        },
        std::chrono::seconds(5)));
    EXPECT_GE(Clock::now() - letGo, std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(host.switches.load(), count); // stopped for good
    EXPECT_LE(count, 100);
    EXPECT_EQ(host.resets.load(), count / 10);
    EXPECT_EQ(host.resetsOffCycle.load(), 0);
    EXPECT_EQ(host.wrongHalves.load(), 0);
    EXPECT_EQ(host.badRecords.load(), 0);
}

class HostFaultTest : public harness::DriverTest {};

} // namespace

// What the end-to-end runs cannot see from the host's side: the host really got null
// buffer pointers, and the driver still streamed on its own buffers.
TEST_F(HostFaultTest, NullBuffersStillStream) {
    resetHost(false);
    IASIO* driver = harness::create(nullBuffers);
    EXPECT_EQ(driver->init(nullptr), 1);
    ASIOBufferInfo infos[2] = {{1, 0, {&infos, &infos}}, {0, 1, {&infos, &infos}}};
    ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), ASE_OK);
    for (const ASIOBufferInfo& info : infos)
        EXPECT_TRUE(info.buffers[0] == nullptr && info.buffers[1] == nullptr);
    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_TRUE(waitFor([] { return host.switches.load() >= 10; }, std::chrono::seconds(5)));
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(HostFaultTest, CallbacksKeepComingForAWhileAfterDisposeBuffers) {
    resetHost(false);
    IASIO* driver = harness::create(afterDispose);
    ASIOBufferInfo infos[1] = {{0, 0, {}}};
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(driver->createBuffers(infos, 1, 64, &callbacks), ASE_OK);
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
    expectLingeringCalls(Clock::now());
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(HostFaultTest, CallbacksKeepComingAfterTheObjectIsGone) {
    // Time-info callbacks, with the object (and its buffers) freed: under the address
    // sanitizer any touch of them fails the run.
    resetHost(true);
    IASIO* driver = harness::create(afterRelease);
    ASIOBufferInfo infos[2] = {{1, 0, {}}, {0, 0, {}}};
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
    expectLingeringCalls(Clock::now());
}
