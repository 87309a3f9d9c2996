#include "tests/hostile/run/hostileDriver.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace hostile {

namespace {

// What a driver answers for a rate its clock cannot run at.
constexpr ASIOError noClock = -995;

void busyFor(int32_t microseconds) {
    const int64_t until = plat::steadyNanoseconds() + int64_t{microseconds} * 1000;
    while (plat::steadyNanoseconds() < until) {
    }
}

void putWords(ASIOSamples* into, uint64_t value) {
    into->hi = static_cast<uint32_t>(value >> 32);
    into->lo = static_cast<uint32_t>(value);
}

} // namespace

HostileDriver::HostileDriver(const plat::Guid& clsid, Settings settings)
    : f_clsid(clsid), f_settings(std::move(settings)) {}

int32_t HostileDriver::QueryInterface(const plat::Guid& iid, void** object) {
    if (object == nullptr) return plat::hrPointer;
    if (iid == plat::iidUnknown || iid == f_clsid) {
        *object = this;
        AddRef();
        return plat::hrOk;
    }
    *object = nullptr;
    return plat::hrNoInterface;
}

uint32_t HostileDriver::AddRef() {
    return f_references.fetch_add(1) + 1;
}

uint32_t HostileDriver::Release() {
    const uint32_t left = f_references.fetch_sub(1) - 1;
    if (left == 0) {
        f_pacer.reset();
        delete this;
    }
    return left;
}

ASIOBool HostileDriver::init(void*) {
    return 1;
}

void HostileDriver::getDriverName(char* name) {
    std::snprintf(name, 32, "%s", f_settings.name.c_str());
}

int32_t HostileDriver::getDriverVersion() {
    return 1;
}

void HostileDriver::getErrorMessage(char* text) {
    text[0] = '\0';
}

ASIOError HostileDriver::start() {
    if (!f_pacer) return ASE_InvalidMode;
    f_pacer->start();
    f_running = true;
    return ASE_OK;
}

ASIOError HostileDriver::stop() {
    if (f_pacer && f_running) f_pacer->stop();
    f_running = false;
    return ASE_OK;
}

ASIOError HostileDriver::getChannels(int32_t* inputs, int32_t* outputs) {
    *inputs = f_settings.inputs;
    *outputs = f_settings.outputs;
    return ASE_OK;
}

ASIOError HostileDriver::getLatencies(int32_t* input, int32_t* output) {
    *input = f_settings.buffer;
    *output = f_settings.buffer;
    return ASE_OK;
}

ASIOError HostileDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                                       int32_t* granularity) {
    *minSize = *maxSize = *preferred = f_settings.buffer;
    *granularity = 0;
    return ASE_OK;
}

ASIOError HostileDriver::canSampleRate(ASIOSampleRate rate) {
    return rate == f_settings.rate ? ASE_OK : noClock;
}

ASIOError HostileDriver::getSampleRate(ASIOSampleRate* rate) {
    *rate = f_settings.rate;
    return ASE_OK;
}

ASIOError HostileDriver::setSampleRate(ASIOSampleRate rate) {
    return rate == f_settings.rate ? ASE_OK : noClock;
}

ASIOError HostileDriver::getClockSources(ASIOClockSource* clocks, int32_t* count) {
    std::memset(clocks, 0, sizeof *clocks);
    clocks->isCurrentSource = 1;
    std::snprintf(clocks->name, sizeof clocks->name, "Internal");
    *count = 1;
    return ASE_OK;
}

ASIOError HostileDriver::setClockSource(int32_t reference) {
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError HostileDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) {
    if (f_settings.positionCallUs > 0) busyFor(f_settings.positionCallUs);
    putWords(position, static_cast<uint64_t>(Pacer::currentPosition()));
    putWords(stamp, static_cast<uint64_t>(plat::steadyNanoseconds()));
    return ASE_OK;
}

ASIOError HostileDriver::getChannelInfo(ASIOChannelInfo* info) {
    const int32_t count = info->isInput ? f_settings.inputs : f_settings.outputs;
    if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    info->isActive = 0;
    info->channelGroup = 0;
    info->_type = ASIOSTFloat32LSB;
    std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out", info->channel + 1);
    return ASE_OK;
}

ASIOError HostileDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size,
                                       ASIOCallbacks* callbacks) {
    if (f_pacer || size != f_settings.buffer || count < 1 || callbacks == nullptr) return ASE_InvalidMode;
    if (++f_creates == f_settings.failCreateAt) return ASE_NotPresent;
    f_buffers = Buffers{};
    f_buffers.frames = size;
    for (int32_t k = 0; k < count; ++k) {
        ASIOBufferInfo& info = infos[k];
        const int32_t limit = info.isInput ? f_settings.inputs : f_settings.outputs;
        if (info.channelNum < 0 || info.channelNum >= limit) return ASE_InvalidParameter;
    }
    for (int32_t half = 0; half < 2; ++half) {
        f_buffers.inputs[half].assign(static_cast<size_t>(f_settings.inputs), std::vector<float>(size, 0.0f));
        f_buffers.outputs[half].assign(static_cast<size_t>(f_settings.outputs),
                                       std::vector<float>(size, 0.0f));
    }
    for (int32_t k = 0; k < count; ++k) {
        ASIOBufferInfo& info = infos[k];
        auto& set = info.isInput ? f_buffers.inputs : f_buffers.outputs;
        for (int32_t half = 0; half < 2; ++half)
            info.buffers[half] = set[half][static_cast<size_t>(info.channelNum)].data();
    }
    bool timeInfo = false;
    if (f_settings.timeInfo && callbacks->asioMessage != nullptr)
        timeInfo =
            callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
            callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
    f_pacer = std::make_unique<Pacer>(f_settings, f_buffers, *callbacks, timeInfo);
    return ASE_OK;
}

ASIOError HostileDriver::disposeBuffers() {
    if (!f_pacer) return ASE_InvalidMode;
    if (f_running) stop();
    f_pacer.reset();
    return ASE_OK;
}

ASIOError HostileDriver::controlPanel() {
    return ASE_OK;
}

ASIOError HostileDriver::future(int32_t, void*) {
    return ASE_InvalidParameter;
}

ASIOError HostileDriver::outputReady() {
    if (f_settings.outputReadyHoldUs > 0)
        plat::sleepUntilNs(plat::steadyNanoseconds() + f_settings.outputReadyHoldUs * int64_t{1000});
    return ASE_OK;
}

} // namespace hostile
