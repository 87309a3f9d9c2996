#include "testdriver/callFaults.h"

#include <chrono>
#include <exception>
#include <thread>

namespace refdrv {

DriverCall driverCallFromText(const std::string& text) {
    static const struct {
        const char* name;
        DriverCall call;
    } names[] = {
        {"init", DriverCall::init},
        {"getDriverName", DriverCall::getDriverName},
        {"getDriverVersion", DriverCall::getDriverVersion},
        {"getErrorMessage", DriverCall::getErrorMessage},
        {"start", DriverCall::start},
        {"stop", DriverCall::stop},
        {"getChannels", DriverCall::getChannels},
        {"getLatencies", DriverCall::getLatencies},
        {"getBufferSize", DriverCall::getBufferSize},
        {"canSampleRate", DriverCall::canSampleRate},
        {"getSampleRate", DriverCall::getSampleRate},
        {"setSampleRate", DriverCall::setSampleRate},
        {"getClockSources", DriverCall::getClockSources},
        {"setClockSource", DriverCall::setClockSource},
        {"getSamplePosition", DriverCall::getSamplePosition},
        {"getChannelInfo", DriverCall::getChannelInfo},
        {"createBuffers", DriverCall::createBuffers},
        {"disposeBuffers", DriverCall::disposeBuffers},
        {"controlPanel", DriverCall::controlPanel},
        {"future", DriverCall::future},
        {"outputReady", DriverCall::outputReady},
        {"release", DriverCall::release},
        {"create", DriverCall::create},
        {"getClassObject", DriverCall::getClassObject},
    };
    for (const auto& entry : names)
        if (text == entry.name) return entry.call;
    return DriverCall::none;
}

void crashNow() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    // Not reached where a null write traps; a platform that maps page 0 ends here.
    std::terminate();
}

void CallFaults::enter(DriverCall call) {
    if (call == DriverCall::none) return;
    if (f_config.hangAfter == DriverCall::none || call == f_config.hangAfter) f_armed.store(true);
    if (call == f_config.crashIn) crashNow();
    if (call != f_config.hangIn || !f_armed.load()) return;
    if (f_config.hangMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(f_config.hangMs));
        return;
    }
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace refdrv
