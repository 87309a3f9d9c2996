// Faults that strike inside a chosen driver call: a crash (a write through a null
// pointer) or a hang (the call sleeps for a while or for ever). A host must survive
// both without losing what it has measured; the conformance suite and the supervised
// runs prove it. Every value is described in testdriver/README.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace refdrv {

// Every entry point a host reaches: the driver interface's operations, the last
// Release, the class factory's CreateInstance ("create") and DllGetClassObject.
enum class DriverCall {
    none,
    init,
    getDriverName,
    getDriverVersion,
    getErrorMessage,
    start,
    stop,
    getChannels,
    getLatencies,
    getBufferSize,
    canSampleRate,
    getSampleRate,
    setSampleRate,
    getClockSources,
    setClockSource,
    getSamplePosition,
    getChannelInfo,
    createBuffers,
    disposeBuffers,
    controlPanel,
    future,
    outputReady,
    release,
    create,
    getClassObject,
};

// The call named `text` (the operation's name as above); none for anything else.
DriverCall driverCallFromText(const std::string& text);

struct CallFaultConfig {
    DriverCall crashIn = DriverCall::none;
    DriverCall hangIn = DriverCall::none;
    int32_t hangMs = 0;                     // 0 or less: for ever
    DriverCall hangAfter = DriverCall::none; // none: the hang is armed from the start
};

// The faults of one driver object. enter() is called first thing in every call.
class CallFaults {
  public:
    explicit CallFaults(const CallFaultConfig& config) : f_config(config) {}

    // Crashes or hangs when the configuration says so for `call`; arms the hang once
    // the call named by hangAfter has been entered.
    void enter(DriverCall call);

  private:
    CallFaultConfig f_config;
    std::atomic<bool> f_armed{false};
};

// The crash itself: a write through a null pointer, as a faulty driver makes one.
[[noreturn]] void crashNow();

} // namespace refdrv
