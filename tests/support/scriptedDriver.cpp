#include "tests/support/scriptedDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace teltest {

namespace {

// Bytes per sample of each format, kept here on its own so the driver does not lean on
// the host code it is used to test.
int32_t bytesPerSample(ASIOSampleType type) {
    if (type == ASIOSTInt16MSB || type == ASIOSTInt16LSB) return 2;
    if (type == ASIOSTInt24MSB || type == ASIOSTInt24LSB) return 3;
    if (type == ASIOSTFloat64MSB || type == ASIOSTFloat64LSB) return 8;
    bool fourBytes = (type >= 2 && type <= 3) || (type >= 8 && type <= 11) || (type >= 18 && type <= 19) ||
                     (type >= 24 && type <= 27);
    return fourBytes ? 4 : 1;
}

// Writes `text` into a driver text buffer of 256 bytes; 256 characters or more fill it
// without a terminator.
void writeDriverText(const std::string& text, char* destination) {
    constexpr size_t size = 256;
    size_t length = std::min(text.size(), size);
    std::memcpy(destination, text.data(), length);
    if (length < size) destination[length] = 0;
}

bool accepted(const std::vector<double>& rates, double rate) {
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

} // namespace

const char* opName(Op op) {
#define TELTEST_OP_NAME(name) #name,
    static const char* const names[] = {TELTEST_DRIVER_OPS(TELTEST_OP_NAME)};
#undef TELTEST_OP_NAME
    static_assert(sizeof(names) / sizeof(names[0]) == static_cast<size_t>(Op::count));
    return names[static_cast<int32_t>(op)];
}

void ScriptedDriver::failChannelInfoFrom(int32_t fromCall, ASIOError status) {
    f_channelInfoFailFrom = fromCall;
    failWith(Op::getChannelInfo, status);
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

uint8_t* ScriptedDriver::buffer(bool isInput, int32_t channel, int32_t half) {
    auto it = f_buffers.find({isInput, channel});
    return it != f_buffers.end() && (half == 0 || half == 1) ? it->second[half].data() : nullptr;
}

int32_t ScriptedDriver::bufferBytes(bool isInput, int32_t channel) {
    auto it = f_buffers.find({isInput, channel});
    return it != f_buffers.end() ? static_cast<int32_t>(it->second[0].size()) : 0;
}

void ScriptedDriver::fillBuffers(uint8_t byte) {
    for (auto& [channel, halves] : f_buffers)
        for (std::vector<uint8_t>& half : halves)
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

ASIOBool TEL_THISCALL ScriptedDriver::init(void*) {
    return record(Op::init) == ASE_OK && script.initSucceeds ? 1 : 0;
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
    return status == ASE_OK && !f_buffersExist ? ASE_InvalidMode : status;
}

ASIOError TEL_THISCALL ScriptedDriver::stop() {
    return record(Op::stop);
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
    return status != ASE_OK || accepted(script.acceptedRates, sampleRate) ? status : ASE_InvalidMode;
}

ASIOError TEL_THISCALL ScriptedDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (script.writesSampleRate) *sampleRate = script.sampleRate;
    return record(Op::getSampleRate);
}

ASIOError TEL_THISCALL ScriptedDriver::setSampleRate(ASIOSampleRate sampleRate) {
    ASIOError status = record(Op::setSampleRate);
    if (status != ASE_OK) return status;
    if (!accepted(script.acceptedRates, sampleRate)) return ASE_InvalidMode;
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
    if (info->channel < 0 || info->channel >= (isInput ? script.inputs : script.outputs))
        return ASE_InvalidParameter;
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
        auto& halves =
            f_buffers[{isInput, channel}] = {std::vector<uint8_t>(bytes), std::vector<uint8_t>(bytes)};
        bufferInfos[k].buffers[0] = halves[0].data(); // map nodes never move
        bufferInfos[k].buffers[1] = halves[1].data();
    }
    f_callbacks = *callbacks;
    f_buffersExist = true;
    return ASE_OK;
}

ASIOError TEL_THISCALL ScriptedDriver::disposeBuffers() {
    ASIOError status = record(Op::disposeBuffers);
    if (status != ASE_OK) return status;
    if (!f_buffersExist) return ASE_InvalidMode;
    f_buffers.clear();
    f_callbacks = ASIOCallbacks{};
    f_buffersExist = false;
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
