#include "tests/support/scriptedDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace teltest {

namespace {

// Bytes per sample of each format, kept here on its own so the driver does not lean on
// the host code it is used to test.
int32_t bytesPerSample(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
        return 2;
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
        return 3;
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
        return 8;
    default:
        if ((type >= 2 && type <= 3) || (type >= 8 && type <= 11) || (type >= 18 && type <= 19) ||
            (type >= 24 && type <= 27))
            return 4;
        return 1;
    }
}

// Writes `text` into a driver text buffer of 256 bytes; 256 characters or more fill it
// without a terminator.
void writeDriverText(const std::string& text, char* destination) {
    constexpr size_t size = 256;
    size_t length = std::min(text.size(), size);
    std::memcpy(destination, text.data(), length);
    if (length < size) destination[length] = 0;
}

} // namespace

const char* opName(Op op) {
    static const char* const names[] = {"QueryInterface",
                                        "AddRef",
                                        "Release",
                                        "init",
                                        "getDriverName",
                                        "getDriverVersion",
                                        "getErrorMessage",
                                        "start",
                                        "stop",
                                        "getChannels",
                                        "getLatencies",
                                        "getBufferSize",
                                        "canSampleRate",
                                        "getSampleRate",
                                        "setSampleRate",
                                        "getClockSources",
                                        "setClockSource",
                                        "getSamplePosition",
                                        "getChannelInfo",
                                        "createBuffers",
                                        "disposeBuffers",
                                        "controlPanel",
                                        "future",
                                        "outputReady"};
    static_assert(sizeof(names) / sizeof(names[0]) == static_cast<size_t>(Op::count));
    return names[static_cast<int32_t>(op)];
}

void ScriptedDriver::failWith(Op op, ASIOError status) {
    f_failures[static_cast<int32_t>(op)] = status;
}

void ScriptedDriver::failChannelInfoFrom(int32_t fromCall, ASIOError status) {
    f_channelInfoFailFrom = fromCall;
    failWith(Op::getChannelInfo, status);
}

void ScriptedDriver::setChannelType(bool isInput, int32_t channel, ASIOSampleType type) {
    f_types[{isInput, channel}] = type;
}

void ScriptedDriver::setChannelActive(bool isInput, int32_t channel, bool active) {
    f_active[{isInput, channel}] = active;
}

std::vector<std::string> ScriptedDriver::callLog() const {
    std::lock_guard<std::mutex> hold(f_logLock);
    return f_log;
}

std::vector<std::string> ScriptedDriver::driverCalls() const {
    std::vector<std::string> calls = callLog();
    std::erase_if(calls, [](const std::string& name) {
        return name == opName(Op::QueryInterface) || name == opName(Op::AddRef) ||
               name == opName(Op::Release);
    });
    return calls;
}

int32_t ScriptedDriver::callCount(Op op) const {
    std::lock_guard<std::mutex> hold(f_logLock);
    return static_cast<int32_t>(std::count(f_log.begin(), f_log.end(), opName(op)));
}

void ScriptedDriver::clearLog() {
    std::lock_guard<std::mutex> hold(f_logLock);
    f_log.clear();
}

ASIOError ScriptedDriver::record(Op op) {
    std::lock_guard<std::mutex> hold(f_logLock);
    f_log.emplace_back(opName(op));
    return f_failures[static_cast<int32_t>(op)];
}

ASIOSampleType ScriptedDriver::typeOf(bool isInput, int32_t channel) const {
    auto it = f_types.find({isInput, channel});
    if (it != f_types.end()) return it->second;
    return isInput ? script.inputType : script.outputType;
}

ScriptedDriver::ChannelBuffers* ScriptedDriver::find(bool isInput, int32_t channel) {
    for (ChannelBuffers& buffers : f_buffers)
        if (buffers.isInput == isInput && buffers.channel == channel) return &buffers;
    return nullptr;
}

const ScriptedDriver::ChannelBuffers* ScriptedDriver::find(bool isInput, int32_t channel) const {
    return const_cast<ScriptedDriver*>(this)->find(isInput, channel);
}

uint8_t* ScriptedDriver::buffer(bool isInput, int32_t channel, int32_t half) {
    ChannelBuffers* buffers = find(isInput, channel);
    return buffers != nullptr && (half == 0 || half == 1) ? buffers->halves[half].data() : nullptr;
}

int32_t ScriptedDriver::bufferBytes(bool isInput, int32_t channel) const {
    const ChannelBuffers* buffers = find(isInput, channel);
    return buffers != nullptr ? static_cast<int32_t>(buffers->halves[0].size()) : 0;
}

void ScriptedDriver::fillBuffers(uint8_t byte) {
    for (ChannelBuffers& buffers : f_buffers)
        for (std::vector<uint8_t>& half : buffers.halves)
            std::fill(half.begin(), half.end(), byte);
}

// ---------------------------------------------------------------- host callbacks

void ScriptedDriver::fireBufferSwitch(int32_t index, ASIOBool processNow) {
    if (f_buffersExist && f_callbacks.bufferSwitch) f_callbacks.bufferSwitch(index, processNow);
}

pASIOTime ScriptedDriver::fireBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, ASIOBool processNow) {
    if (!f_buffersExist || !f_callbacks.bufferSwitchTimeInfo) return nullptr;
    return f_callbacks.bufferSwitchTimeInfo(timeInfo, index, processNow);
}

void ScriptedDriver::fireSampleRateChanged(double rate) {
    if (f_buffersExist && f_callbacks.sampleRateChanged) f_callbacks.sampleRateChanged(rate);
}

int32_t ScriptedDriver::fireAsioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    if (!f_buffersExist || !f_callbacks.asioMessage) return 0;
    return f_callbacks.asioMessage(selector, value, message, opt);
}

// ---------------------------------------------------------------- IASIO

int32_t TEL_STDCALL ScriptedDriver::QueryInterface(const plat::Guid& iid, void** object) {
    record(Op::QueryInterface);
    if (object == nullptr) return plat::hrPointer;
    if (!(iid == plat::iidUnknown)) {
        *object = nullptr;
        return plat::hrNoInterface;
    }
    *object = static_cast<plat::ComUnknown*>(this);
    AddRef();
    return plat::hrOk;
}

uint32_t TEL_STDCALL ScriptedDriver::AddRef() {
    record(Op::AddRef);
    return ++f_refs;
}

uint32_t TEL_STDCALL ScriptedDriver::Release() {
    record(Op::Release);
    return --f_refs;
}

ASIOBool TEL_THISCALL ScriptedDriver::init(void* sysHandle) {
    f_initArgument = sysHandle;
    bool failed = record(Op::init) != ASE_OK || !script.initSucceeds;
    return failed ? 0 : 1;
}

void TEL_THISCALL ScriptedDriver::getDriverName(char* name) {
    record(Op::getDriverName);
    writeDriverText(script.name, name);
}

int32_t TEL_THISCALL ScriptedDriver::getDriverVersion() {
    record(Op::getDriverVersion);
    return script.version;
}

void TEL_THISCALL ScriptedDriver::getErrorMessage(char* string) {
    record(Op::getErrorMessage);
    writeDriverText(script.errorText, string);
}

ASIOError TEL_THISCALL ScriptedDriver::start() {
    ASIOError status = record(Op::start);
    if (status == ASE_OK && !f_buffersExist) return ASE_InvalidMode;
    if (status == ASE_OK) f_running = true;
    return status;
}

ASIOError TEL_THISCALL ScriptedDriver::stop() {
    ASIOError status = record(Op::stop);
    if (status == ASE_OK) f_running = false;
    return status;
}

ASIOError TEL_THISCALL ScriptedDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    *numInputChannels = script.inputs;
    *numOutputChannels = script.outputs;
    return record(Op::getChannels);
}

ASIOError TEL_THISCALL ScriptedDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    *inputLatency = script.inputLatency;
    *outputLatency = script.outputLatency;
    return record(Op::getLatencies);
}

ASIOError TEL_THISCALL ScriptedDriver::getBufferSize(int32_t* minSize, int32_t* maxSize,
                                                     int32_t* preferredSize, int32_t* granularity) {
    *minSize = script.minSize;
    *maxSize = script.maxSize;
    *preferredSize = script.preferredSize;
    *granularity = script.granularity;
    return record(Op::getBufferSize);
}

ASIOError TEL_THISCALL ScriptedDriver::canSampleRate(ASIOSampleRate sampleRate) {
    ASIOError status = record(Op::canSampleRate);
    if (status != ASE_OK) return status;
    const std::vector<double>& rates = script.acceptedRates;
    return std::find(rates.begin(), rates.end(), sampleRate) != rates.end() ? ASE_OK : ASE_InvalidMode;
}

ASIOError TEL_THISCALL ScriptedDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (script.writesSampleRate) *sampleRate = script.sampleRate;
    return record(Op::getSampleRate);
}

ASIOError TEL_THISCALL ScriptedDriver::setSampleRate(ASIOSampleRate sampleRate) {
    ASIOError status = record(Op::setSampleRate);
    if (status != ASE_OK) return status;
    const std::vector<double>& rates = script.acceptedRates;
    if (std::find(rates.begin(), rates.end(), sampleRate) == rates.end()) return ASE_InvalidMode;
    script.sampleRate = sampleRate;
    return ASE_OK;
}

ASIOError TEL_THISCALL ScriptedDriver::getClockSources(ASIOClockSource*, int32_t*) {
    record(Op::getClockSources);
    return ASE_NotPresent;
}

ASIOError TEL_THISCALL ScriptedDriver::setClockSource(int32_t) {
    record(Op::setClockSource);
    return ASE_NotPresent;
}

ASIOError TEL_THISCALL ScriptedDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    ASIOError status = record(Op::getSamplePosition);
    if (status == ASE_OK) {
        *sPos = script.position;
        *tStamp = script.timeStamp;
    }
    return status;
}

ASIOError TEL_THISCALL ScriptedDriver::getChannelInfo(ASIOChannelInfo* info) {
    ASIOError status = record(Op::getChannelInfo);
    if (++f_channelInfoCalls >= f_channelInfoFailFrom && status != ASE_OK) return status;
    bool isInput = info->isInput != 0;
    int32_t count = isInput ? script.inputs : script.outputs;
    if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    auto active = f_active.find({isInput, info->channel});
    info->isActive = (active != f_active.end() ? active->second : script.channelsActive) ? 1 : 0;
    info->channelGroup = 0;
    info->_type = typeOf(isInput, info->channel);
    std::snprintf(info->name, sizeof(info->name), "%s %d", isInput ? "In" : "Out", info->channel + 1);
    return ASE_OK;
}

ASIOError TEL_THISCALL ScriptedDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                                     int32_t bufferSize, ASIOCallbacks* callbacks) {
    ASIOError status = record(Op::createBuffers);
    if (status != ASE_OK) return status;
    if (f_buffersExist) return ASE_InvalidMode;
    if (numChannels < 0 || bufferSize <= 0 || callbacks == nullptr) return ASE_InvalidParameter;
    for (int32_t k = 0; k < numChannels; ++k) {
        bool isInput = bufferInfos[k].isInput != 0;
        int32_t channel = bufferInfos[k].channelNum;
        if (channel < 0 || channel >= (isInput ? script.inputs : script.outputs)) {
            f_buffers.clear();
            return ASE_InvalidParameter;
        }
        size_t bytes = static_cast<size_t>(bytesPerSample(typeOf(isInput, channel))) * bufferSize;
        f_buffers.push_back({isInput, channel, {std::vector<uint8_t>(bytes), std::vector<uint8_t>(bytes)}});
    }
    // Pointers are handed out only once the vector stops growing.
    for (int32_t k = 0; k < numChannels; ++k) {
        bufferInfos[k].buffers[0] = f_buffers[k].halves[0].data();
        bufferInfos[k].buffers[1] = f_buffers[k].halves[1].data();
    }
    f_callbacks = *callbacks;
    f_bufferSize = bufferSize;
    f_buffersExist = true;
    return ASE_OK;
}

ASIOError TEL_THISCALL ScriptedDriver::disposeBuffers() {
    ASIOError status = record(Op::disposeBuffers);
    if (status != ASE_OK) return status;
    if (!f_buffersExist) return ASE_InvalidMode;
    f_buffers.clear();
    f_callbacks = ASIOCallbacks{};
    f_bufferSize = 0;
    f_buffersExist = false;
    f_running = false;
    return ASE_OK;
}

ASIOError TEL_THISCALL ScriptedDriver::controlPanel() {
    return record(Op::controlPanel);
}

ASIOError TEL_THISCALL ScriptedDriver::future(int32_t selector, void*) {
    f_lastFutureSelector = selector;
    return record(Op::future);
}

ASIOError TEL_THISCALL ScriptedDriver::outputReady() {
    ASIOError status = record(Op::outputReady);
    return status != ASE_OK ? status : script.outputReadyStatus;
}

} // namespace teltest
