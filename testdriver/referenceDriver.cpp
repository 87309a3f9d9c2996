#include "testdriver/referenceDriver.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "testdriver/moduleCounts.h"

namespace refdrv {

namespace {

// canSampleRate and setSampleRate: the clock cannot run at that rate.
constexpr ASIOError noClock = -995;

// Copies at most `maxChars` characters of `text` and a zero byte.
void copyCut(const std::string& text, char* target, size_t maxChars) {
    const size_t count = text.size() < maxChars ? text.size() : maxChars;
    std::memcpy(target, text.data(), count);
    target[count] = '\0';
}

} // namespace

ReferenceDriver::ReferenceDriver(const plat::Guid& clsid, DriverConfig config)
    : clsid_(clsid), config_(std::move(config)), sampleRate_(config_.sampleRate) {
    objectCreated();
}

ReferenceDriver::~ReferenceDriver() {
    endStream();
    buffers_.release();
    objectDestroyed();
}

int32_t ReferenceDriver::QueryInterface(const plat::Guid& iid, void** object) {
    if (!object) return plat::hrPointer;
    if (iid == plat::iidUnknown || iid == clsid_) {
        *object = static_cast<IASIO*>(this);
        AddRef();
        return plat::hrOk;
    }
    *object = nullptr;
    return plat::hrNoInterface;
}

uint32_t ReferenceDriver::AddRef() {
    return references_.fetch_add(1) + 1;
}

uint32_t ReferenceDriver::Release() {
    const uint32_t remaining = references_.fetch_sub(1) - 1;
    if (remaining == 0) delete this;
    return remaining;
}

ASIOBool ReferenceDriver::init(void* sysHandle) {
    sysHandle_ = sysHandle;
    initialised_ = !config_.fails(FailPoint::init);
    return initialised_ ? 1 : 0;
}

void ReferenceDriver::getDriverName(char* name) {
    if (name) copyCut(config_.driverName, name, 31);
}

int32_t ReferenceDriver::getDriverVersion() {
    return config_.driverVersion;
}

void ReferenceDriver::getErrorMessage(char* string) {
    if (string) copyCut(config_.errorText, string, 123);
}

ASIOError ReferenceDriver::start() {
    if (config_.fails(FailPoint::start)) return config_.failCode;
    if (!initialised_ || !buffers_.exists()) return ASE_NotPresent;
    if (engine_.running()) return ASE_InvalidMode;
    CaptureRecorder* recorder = nullptr;
    if (!config_.capturePath.empty() && config_.captureLimit > 0 &&
        recorder_.prepare(buffers_, sampleRate_.load(), config_.captureLimit))
        recorder = &recorder_;
    if (!engine_.start(buffers_, callbacks_, useTimeInfo_, sampleRate_, recorder)) return ASE_NotPresent;
    return ASE_OK;
}

ASIOError ReferenceDriver::stop() {
    if (config_.fails(FailPoint::stop)) return config_.failCode;
    // Joining the stream thread from itself would never return.
    if (engine_.onStreamThread()) return ASE_InvalidMode;
    endStream();
    return ASE_OK;
}

void ReferenceDriver::endStream() {
    if (!engine_.running()) return;
    engine_.stop();
    if (recorder_.prepared()) {
        StreamStats stats = engine_.stats();
        stats.outputReadyWanted = config_.wantsOutputReady;
        recorder_.writeFile(config_.capturePath, buffers_, stats);
    }
}

ASIOError ReferenceDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    if (config_.fails(FailPoint::getChannels)) return config_.failCode;
    if (!numInputChannels || !numOutputChannels) return ASE_InvalidParameter;
    *numInputChannels = config_.inputs;
    *numOutputChannels = config_.outputs;
    return ASE_OK;
}

ASIOError ReferenceDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    if (config_.fails(FailPoint::getLatencies)) return config_.failCode;
    if (!inputLatency || !outputLatency) return ASE_InvalidParameter;
    *inputLatency = config_.inputLatency;
    *outputLatency = config_.outputLatency;
    return ASE_OK;
}

ASIOError ReferenceDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                         int32_t* granularity) {
    if (config_.fails(FailPoint::getBufferSize)) return config_.failCode;
    if (!minSize || !maxSize || !preferredSize || !granularity) return ASE_InvalidParameter;
    *minSize = config_.bufferMin;
    *maxSize = config_.bufferMax;
    *preferredSize = config_.bufferPreferred;
    *granularity = config_.granularity;
    return ASE_OK;
}

ASIOError ReferenceDriver::canSampleRate(ASIOSampleRate sampleRate) {
    return config_.acceptsRate(sampleRate) ? ASE_OK : noClock;
}

ASIOError ReferenceDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (!sampleRate) return ASE_InvalidParameter;
    *sampleRate = sampleRate_.load();
    return ASE_OK;
}

ASIOError ReferenceDriver::setSampleRate(ASIOSampleRate sampleRate) {
    if (config_.fails(FailPoint::setSampleRate)) return config_.failCode;
    if (!config_.acceptsRate(sampleRate)) return noClock;
    sampleRate_.store(sampleRate);
    return ASE_OK;
}

ASIOError ReferenceDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    if (!clocks || !numSources || *numSources < 1) return ASE_InvalidParameter;
    std::memset(clocks, 0, sizeof *clocks);
    clocks->index = 0;
    clocks->associatedChannel = -1;
    clocks->associatedGroup = -1;
    clocks->isCurrentSource = 1;
    copyCut("Internal", clocks->name, sizeof clocks->name - 1);
    *numSources = 1;
    return ASE_OK;
}

ASIOError ReferenceDriver::setClockSource(int32_t reference) {
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError ReferenceDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    if (config_.fails(FailPoint::getSamplePosition)) return config_.failCode;
    if (!sPos || !tStamp) return ASE_InvalidParameter;
    if (!buffers_.exists()) return ASE_NotPresent;
    const uint64_t position = static_cast<uint64_t>(engine_.samplePosition());
    const uint64_t time = static_cast<uint64_t>(engine_.systemTimeNanos());
    *sPos = ASIOSamples{static_cast<uint32_t>(position >> 32), static_cast<uint32_t>(position)};
    *tStamp = ASIOTimeStamp{static_cast<uint32_t>(time >> 32), static_cast<uint32_t>(time)};
    return ASE_OK;
}

ASIOError ReferenceDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (config_.fails(FailPoint::getChannelInfo)) return config_.failCode;
    if (!info) return ASE_InvalidParameter;
    const bool isInput = info->isInput != 0;
    if (info->channel < 0 || info->channel >= (isInput ? config_.inputs : config_.outputs))
        return ASE_InvalidParameter;
    info->isActive = buffers_.isActive(isInput, info->channel) ? 1 : 0;
    info->channelGroup = 0;
    info->_type = isInput ? config_.inputType : config_.outputType;
    char name[96];
    std::snprintf(name, sizeof name, "%s%s %d", config_.channelNamePrefix.c_str(), isInput ? "In" : "Out",
                  static_cast<int>(info->channel) + 1);
    std::memset(info->name, 0, sizeof info->name);
    copyCut(name, info->name, sizeof info->name - 1);
    return ASE_OK;
}

ASIOError ReferenceDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                         ASIOCallbacks* callbacks) {
    if (config_.fails(FailPoint::createBuffers)) return config_.failCode;
    if (!initialised_) return ASE_NotPresent;
    if (!callbacks) return ASE_InvalidParameter;
    if (buffers_.exists()) return ASE_InvalidMode;
    const ASIOError status = buffers_.create(bufferInfos, numChannels, bufferSize, config_);
    if (status != ASE_OK) return status;
    callbacks_ = *callbacks;
    useTimeInfo_ = config_.timeInfoMode && hostTakesTimeInfo();
    return ASE_OK;
}

bool ReferenceDriver::hostTakesTimeInfo() const {
    if (!callbacks_.asioMessage || !callbacks_.bufferSwitchTimeInfo) return false;
    return callbacks_.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
           callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
}

ASIOError ReferenceDriver::disposeBuffers() {
    if (!buffers_.exists()) return ASE_InvalidMode;
    endStream();
    buffers_.release();
    callbacks_ = ASIOCallbacks{};
    useTimeInfo_ = false;
    return ASE_OK;
}

// No panel to show; the configuration lives in the registry.
ASIOError ReferenceDriver::controlPanel() {
    return ASE_OK;
}

// No optional feature (time code, input monitoring, ...) is supported.
ASIOError ReferenceDriver::future(int32_t, void*) {
    return ASE_InvalidParameter;
}

ASIOError ReferenceDriver::outputReady() {
    engine_.countOutputReady();
    return config_.wantsOutputReady ? ASE_OK : ASE_NotPresent;
}

} // namespace refdrv
