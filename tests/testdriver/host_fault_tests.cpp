// Faults a host must survive: entry points that answer nothing or throw, a module
// without an entry point, names without a terminator, slow calls, null buffers, and
// callbacks that keep coming after the host let go of them.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "asio/asioDriverInterface.h"
#include "driverHarness.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

const int noObject = harness::addClass("'Fail'='getClassObject'");
const int throwingFactory = harness::addClass("'Throw'='getClassObject'");
const int throwingInit = harness::addClass("'Throw'='init'");
const int noEntry = harness::addClass("", TESTDRIVER_NOENTRY_PATH);
const int unterminated = harness::addClass("'UnterminatedNames'=dword:1;'DriverName'='Ref';'Inputs'=dword:1");
// 0x50 = 80 ms each.
const int slow = harness::addClass("'InitMs'=dword:50;'ControlPanelMs'=dword:50;'NullBuffers'=dword:1");
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

TEST_F(HostFaultTest, EntryPointsAnswerNothingOrThrowAndTheNoEntryModuleHasNone) {
    // The stand-in COM keeps the driver module loaded; this finds the same copy.
    void* module = dlopen(TESTDRIVER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr);
    auto getClassObject = reinterpret_cast<plat::DllGetClassObjectProc>(dlsym(module, "DllGetClassObject"));
    ASSERT_NE(getClassObject, nullptr);
    void* object = &object;
    EXPECT_EQ(getClassObject(harness::classId(noObject), plat::iidClassFactory, &object), plat::hrOk);
    EXPECT_EQ(object, nullptr);
    EXPECT_THROW(getClassObject(harness::classId(throwingFactory), plat::iidClassFactory, &object),
                 std::bad_alloc);
    dlclose(module);

    void* noEntryModule = dlopen(TESTDRIVER_NOENTRY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(noEntryModule, nullptr);
    EXPECT_EQ(dlsym(noEntryModule, "DllGetClassObject"), nullptr);
    EXPECT_NE(dlsym(noEntryModule, "DllCanUnloadNow"), nullptr);
    dlclose(noEntryModule);
    const plat::Guid id = harness::classId(noEntry);
    EXPECT_EQ(plat::coCreateInstance(id, id, &object), static_cast<int32_t>(0x800401F9u)); // CO_E_ERRORINDLL

    IASIO* driver = harness::create(throwingInit);
    EXPECT_THROW(driver->init(nullptr), std::bad_alloc);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(HostFaultTest, NamesFillTheWholeBufferWithoutATerminator) {
    IASIO* driver = harness::create(unterminated);
    char text[300];
    std::memset(text, 0, sizeof text);
    driver->getDriverName(text);
    EXPECT_EQ(std::string(text, 9), "RefRefRef");
    EXPECT_EQ(std::strlen(text), 256u); // the canary zeros after the 256 bytes stop it
    std::memset(text, 0, sizeof text);
    driver->getErrorMessage(text);
    EXPECT_EQ(std::strlen(text), 256u);

    struct {
        ASIOChannelInfo info;
        char canary[4];
    } channel{{0, 1, 0, 0, 0, {}}, {}};
    ASSERT_EQ(driver->getChannelInfo(&channel.info), ASE_OK);
    EXPECT_EQ(std::string(channel.info.name, 32), "In 1In 1In 1In 1In 1In 1In 1In 1");
    EXPECT_EQ(channel.canary[0], 0);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(HostFaultTest, SlowCallsAndNullBuffersStillStream) {
    resetHost(false);
    IASIO* driver = harness::create(slow);
    Clock::time_point begin = Clock::now();
    EXPECT_EQ(driver->init(nullptr), 1);
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(80));
    begin = Clock::now();
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(80));

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
