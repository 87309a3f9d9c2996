#include "asio/driverCall.h"

#include <atomic>

namespace {

std::atomic<telDriverCallObserver> observerInUse{nullptr};

constexpr const char* callNames[] = {
    "none",           "create",          "release",        "init",          "getDriverName",
    "getDriverVersion", "getErrorMessage", "start",        "stop",          "getChannels",
    "getLatencies",   "getBufferSize",   "canSampleRate",  "getSampleRate", "setSampleRate",
    "getClockSources", "setClockSource", "getSamplePosition", "getChannelInfo", "createBuffers",
    "disposeBuffers", "controlPanel",    "future",         "outputReady",   "unload",
};

} // namespace

const char* driverCallName(telDriverCall call) {
    const auto index = static_cast<int32_t>(call);
    if (index < 0 || index >= static_cast<int32_t>(std::size(callNames))) return "none";
    return callNames[index];
}

void setDriverCallObserver(telDriverCallObserver observer) { observerInUse.store(observer); }

telDriverCallObserver driverCallObserver() { return observerInUse.load(std::memory_order_acquire); }
