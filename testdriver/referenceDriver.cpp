#include "testdriver/referenceDriver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "testdriver/journal.h"
#include "testdriver/lingeringCallbacks.h"
#include "testdriver/moduleCounts.h"

namespace refdrv {

namespace {

// canSampleRate and setSampleRate: the clock cannot run at that rate.
constexpr ASIOError noClock = -995;
// future: the selector is supported and was carried out.
constexpr ASIOError futureSuccess = 0x3F4847A0;
// What a caller's name and message buffers hold (getDriverName, getErrorMessage).
constexpr size_t hostTextBytes = 256;
// Longest delay JitterUs may add to a switch, in microseconds.
constexpr int32_t maxJitterMicros = 10'000'000;
// RateErrorPpm below this would stop the clock or run it backwards.
constexpr int32_t minRateErrorPpm = -990'000;

// Driver objects the module has made, and whether one of them is gone already
// (VersionCountsObjects, SilentAfterRecreate).
std::atomic<unsigned> driversMade{0};
std::atomic<bool> aDriverDestroyed{false};

// Copies at most `maxChars` characters of `text` and a zero byte.
void copyCut(const std::string& text, char* target, size_t maxChars) {
    const size_t count = text.size() < maxChars ? text.size() : maxChars;
    std::memcpy(target, text.data(), count);
    target[count] = '\0';
}

// Fills all `bytes` of `target` with `text` over and over ("X" for an empty text), with
// no zero byte: the UnterminatedNames fault.
void fillUnterminated(const std::string& text, char* target, size_t bytes) {
    const std::string source = text.empty() ? std::string("X") : text;
    for (size_t i = 0; i < bytes; ++i)
        target[i] = source[i % source.size()];
}

void sleepMillis(int32_t millis) {
    if (millis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

std::string statusText(const char* operation, int32_t status) {
    return std::string(operation) + " " + std::to_string(status);
}

} // namespace

ReferenceDriver::ReferenceDriver(const plat::Guid& clsid, DriverConfig config)
    : clsid_(clsid), config_(std::move(config)), faults_(config_.callFaults), sampleRate_(config_.sampleRate),
      currentClockSource_(config_.clockSourceCurrent), objectsBefore_(driversMade.fetch_add(1)),
      silent_(config_.contract.silentAfterRecreate && aDriverDestroyed.load()) {
    objectCreated();
    journal("created");
}

ReferenceDriver::~ReferenceDriver() {
    endStream();
    buffers_.release();
    journal("destroyed");
    aDriverDestroyed.store(true);
    if (config_.callbackAfter == CallbackAfter::release) startLingering();
    objectDestroyed();
}

void ReferenceDriver::throwIfAsked(FailPoint point) const {
#ifndef _WIN32
    if (config_.throwsAt(point)) throw std::bad_alloc();
#else
    (void)point; // an exception cannot cross into a host built with another runtime
#endif
}

// Calls the host makes from inside a callback on the stream thread are not journaled:
// that thread touches no file.
void ReferenceDriver::journal(const std::string& line) const {
    if (!engine_.onStreamThread()) appendJournal(config_.journalPath, line);
}

void ReferenceDriver::startLingering() const {
    if (handedFrames_ == 0) return; // no callbacks were ever handed over
    startLingeringCalls(
        {handedCallbacks_, handedTimeInfo_, sampleRate_.load(), handedFrames_, config_.callbackAfterMs});
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
    if (remaining == 0) {
        faults_.enter(DriverCall::release);
        if (config_.contract.releaseRunningCrashes && engine_.running()) crashNow();
        delete this;
    }
    return remaining;
}

ASIOBool ReferenceDriver::init(void* sysHandle) {
    faults_.enter(DriverCall::init);
    throwIfAsked(FailPoint::init);
    sleepMillis(config_.initMs);
    sysHandle_ = sysHandle;
    initialised_ = !config_.fails(FailPoint::init);
    journal(statusText("init", initialised_ ? 1 : 0));
    return initialised_ ? 1 : 0;
}

void ReferenceDriver::getDriverName(char* name) {
    faults_.enter(DriverCall::getDriverName);
    if (!name) return;
    if (config_.unterminatedNames)
        fillUnterminated(config_.driverName, name, hostTextBytes);
    else
        copyCut(config_.driverName, name, 31);
}

int32_t ReferenceDriver::getDriverVersion() {
    faults_.enter(DriverCall::getDriverVersion);
    const int32_t before = static_cast<int32_t>(objectsBefore_);
    return config_.driverVersion + (config_.contract.versionCountsObjects ? before : 0);
}

void ReferenceDriver::getErrorMessage(char* string) {
    faults_.enter(DriverCall::getErrorMessage);
    if (!string) return;
    if (config_.unterminatedNames)
        fillUnterminated(config_.errorText, string, hostTextBytes);
    else
        copyCut(config_.errorText, string, 123);
}

ASIOError ReferenceDriver::start() {
    faults_.enter(DriverCall::start);
    throwIfAsked(FailPoint::start);
    if (engine_.windingDown()) endStream(); // the switches after the last stop are over
    const ContractFaults& contract = config_.contract;
    const ASIOError status = [&] {
        if (config_.fails(FailPoint::start)) return config_.failCode;
        if (initialised_ && !buffers_.exists() && contract.startWithoutBuffers) return ASE_OK;
        if (!initialised_ || !buffers_.exists()) return ASE_NotPresent;
        if (engine_.running() || stalled_) return ASE_InvalidMode;
        startedSinceCreate_ = true;
        const bool subset = buffers_.inputs().size() < static_cast<size_t>(config_.inputs) ||
                            buffers_.outputs().size() < static_cast<size_t>(config_.outputs);
        if (silent_ || (contract.subsetStalls && subset)) {
            stalled_ = true;
            return ASE_OK;
        }
        return startStream();
    }();
    journal(statusText("start", status));
    return status;
}

ASIOError ReferenceDriver::startStream() {
    StreamSetup setup;
    setup.buffers = &buffers_;
    setup.callbacks = callbacks_;
    setup.useTimeInfo = useTimeInfo_;
    setup.sampleRate = &sampleRate_;
    if (!config_.capturePath.empty() && config_.captureLimit > 0 &&
        recorder_.prepare(buffers_, sampleRate_.load(), config_.captureLimit))
        setup.recorder = &recorder_;
    // The faults of every Kth start: a loop one buffer longer, a stream that waits before
    // its first switch.
    ++streamStarts_;
    auto struck = [this](int32_t every) {
        return every >= 1 && streamStarts_ % static_cast<uint32_t>(every) == 0;
    };
    WireConfig wire = config_.wire;
    if (struck(config_.faults.startExtraBufferEvery)) {
        const double extra = config_.faults.startExtraDelay.value_or(buffers_.frames());
        wire.delay += extra;
        for (WirePath& path : wire.map)
            if (path.delay) *path.delay += extra;
    }
    if (wire_.prepare(buffers_, wire, config_.faults.seed, sampleRate_.load())) setup.wire = &wire_;
    setup.plan = SwitchPlan(config_.faults, config_.wire.dropoutAt, buffers_.frames());
    setup.jitterMicros = std::min(config_.faults.jitterMicros, maxJitterMicros);
    setup.paceFactor = 1.0 + std::max(config_.faults.rateErrorPpm, minRateErrorPpm) / 1e6;
    setup.seed = config_.faults.seed;
    setup.timeInfoFlags = config_.contract.timeInfoFlags;
    setup.timeInfoRate = config_.contract.timeInfoRate;
    setup.stallAt = config_.faults.stallAt;
    setup.stallMs = config_.faults.stallMs;
    setup.stallLosesTime = config_.faults.stallLosesTime;
    if (struck(config_.faults.firstCallbackMissEvery)) {
        setup.stallAt = 0;
        setup.stallMs = firstMissMs;
        setup.stallLosesTime = true; // then it runs normally, its schedule from then on
    }
    setup.crashAt = config_.faults.crashAt;
    setup.callbackCostMicros = config_.faults.callbackCostMicros;
    setup.holdAt = config_.faults.holdAt;
    setup.holdMs = config_.faults.holdMs;
    setup.holdBusy = config_.faults.holdBusy;
    return engine_.start(std::move(setup)) ? ASE_OK : ASE_NotPresent;
}

ASIOError ReferenceDriver::stop() {
    faults_.enter(DriverCall::stop);
    throwIfAsked(FailPoint::stop);
    ASIOError status = ASE_OK;
    const ContractFaults& contract = config_.contract;
    stalled_ = false;
    if (config_.fails(FailPoint::stop)) {
        status = config_.failCode;
    } else if (engine_.onStreamThread()) {
        status = ASE_InvalidMode; // joining the stream thread from itself would never return
    } else {
        // A driver that waits in stop for the notice of the last switch, which a host
        // that skipped it never sends.
        while (contract.stopWaitsForOutputReady && config_.wantsOutputReady && engine_.running() &&
               engine_.outputReadyBehind())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (contract.stopLateSwitches > 0 && engine_.running() && !engine_.windingDown())
            engine_.windDown(contract.stopLateSwitches);
        else if (!(contract.stopInsideCallbackMs > 0 && returnInsideCallback()))
            endStream();
    }
    journal(statusText("stop", status));
    return status;
}

void ReferenceDriver::endStream() {
    if (!engine_.running()) return;
    engine_.stop();
    if (disposedWhileRunning_) {
        disposedWhileRunning_ = false;
        buffers_.release();
        callbacks_ = ASIOCallbacks{};
    }
    if (recorder_.prepared()) {
        StreamStats stats = engine_.stats();
        stats.outputReadyWanted = config_.wantsOutputReady;
        recorder_.writeFile(config_.capturePath, buffers_, stats);
    }
    const StreamCounts& counts = engine_.counts();
    char line[320];
    std::snprintf(
        line, sizeof line,
        "stream delivered=%u slots=%u dropped=%u trailingDrop=%d repeats=%u badHalves=%u messages=%u "
        "rateChanges=%u dropouts=%u",
        counts.delivered, counts.slots, counts.dropped, counts.trailingDrop ? 1 : 0, counts.repeats,
        counts.badHalves, counts.messages, counts.rateChanges, counts.dropouts);
    journal(line);
}

ASIOError ReferenceDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    faults_.enter(DriverCall::getChannels);
    throwIfAsked(FailPoint::getChannels);
    if (config_.fails(FailPoint::getChannels)) return config_.failCode;
    if (!numInputChannels || !numOutputChannels) return ASE_InvalidParameter;
    *numInputChannels = config_.reportInputs.value_or(config_.inputs);
    *numOutputChannels = config_.reportOutputs.value_or(config_.outputs);
    return ASE_OK;
}

ASIOError ReferenceDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    faults_.enter(DriverCall::getLatencies);
    throwIfAsked(FailPoint::getLatencies);
    if (config_.fails(FailPoint::getLatencies)) return config_.failCode;
    if (!inputLatency || !outputLatency) return ASE_InvalidParameter;
    // The buffers made, or before any the size a host would make them with.
    const int32_t frames =
        buffers_.exists() ? buffers_.frames() : config_.bufferLimits(sampleRate_.load()).preferred;
    *inputLatency = config_.reportedLatency(config_.inputLatency, frames);
    *outputLatency = config_.reportedLatency(config_.outputLatency, frames);
    return ASE_OK;
}

ASIOError ReferenceDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                         int32_t* granularity) {
    faults_.enter(DriverCall::getBufferSize);
    throwIfAsked(FailPoint::getBufferSize);
    if (config_.fails(FailPoint::getBufferSize)) return config_.failCode;
    if (!minSize || !maxSize || !preferredSize || !granularity) return ASE_InvalidParameter;
    const BufferLimits limits = config_.bufferLimits(sampleRate_.load());
    *minSize = limits.min;
    *maxSize = limits.max;
    *preferredSize = limits.preferred;
    *granularity = limits.granularity;
    return ASE_OK;
}

ASIOError ReferenceDriver::canSampleRate(ASIOSampleRate sampleRate) {
    faults_.enter(DriverCall::canSampleRate);
    if (config_.contract.acceptBadRates && !(std::isfinite(sampleRate) && sampleRate > 0)) return ASE_OK;
    return config_.acceptsRate(sampleRate) ? ASE_OK : noClock;
}

ASIOError ReferenceDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    faults_.enter(DriverCall::getSampleRate);
    if (!sampleRate) return ASE_InvalidParameter;
    *sampleRate = sampleRate_.load();
    return ASE_OK;
}

ASIOError ReferenceDriver::setSampleRate(ASIOSampleRate sampleRate) {
    faults_.enter(DriverCall::setSampleRate);
    throwIfAsked(FailPoint::setSampleRate);
    if (config_.fails(FailPoint::setSampleRate)) return config_.failCode;
    if (!config_.acceptsRate(sampleRate)) return noClock;
    if (!config_.contract.rateNotApplied) sampleRate_.store(sampleRate);
    return ASE_OK;
}

ASIOError ReferenceDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    faults_.enter(DriverCall::getClockSources);
    if (!clocks || !numSources || *numSources < 1) return ASE_InvalidParameter;
    const int32_t count = std::min(*numSources, static_cast<int32_t>(config_.clockSources.size()));
    const int32_t current = currentClockSource_.load();
    for (int32_t i = 0; i < count; ++i) {
        ASIOClockSource& clock = clocks[i];
        std::memset(&clock, 0, sizeof clock);
        clock.index = i;
        clock.associatedChannel = -1;
        clock.associatedGroup = config_.clockSources[i].group;
        clock.isCurrentSource = i == current ? 1 : 0;
        copyCut(config_.clockSources[i].name, clock.name, sizeof clock.name - 1);
    }
    *numSources = count;
    return ASE_OK;
}

ASIOError ReferenceDriver::setClockSource(int32_t reference) {
    faults_.enter(DriverCall::setClockSource);
    if (reference < 0 || reference >= static_cast<int32_t>(config_.clockSources.size()))
        return ASE_InvalidParameter;
    currentClockSource_.store(reference);
    return ASE_OK;
}

// StopInsideCallback: stop has the next call the host makes from inside a callback held
// there, and returns while it is; the stream ends after that switch by itself.
bool ReferenceDriver::returnInsideCallback() {
    if (!engine_.running() || engine_.windingDown()) return false;
    holdRequested_.store(true);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!held_.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!held_.load()) {
        holdRequested_.store(false); // the host calls nothing from its callbacks: a plain stop
        return false;
    }
    engine_.windDown(0);
    held_.store(false);
    return true;
}

void ReferenceDriver::holdInsideCallback() {
    if (!engine_.onStreamThread() || !holdRequested_.exchange(false)) return;
    held_.store(true);
    sleepMillis(config_.contract.stopInsideCallbackMs);
}

ASIOError ReferenceDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    faults_.enter(DriverCall::getSamplePosition);
    holdInsideCallback();
    throwIfAsked(FailPoint::getSamplePosition);
    if (config_.fails(FailPoint::getSamplePosition)) return config_.failCode;
    if (!sPos || !tStamp) return ASE_InvalidParameter;
    if (!buffers_.exists()) return ASE_NotPresent;
    uint64_t position = static_cast<uint64_t>(engine_.samplePosition());
    if (config_.contract.positionBeforeStart && !startedSinceCreate_)
        position = static_cast<uint64_t>(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - buffersCreatedAt_).count() *
            sampleRate_.load());
    const uint64_t time = static_cast<uint64_t>(engine_.systemTimeNanos());
    *sPos = ASIOSamples{static_cast<uint32_t>(position >> 32), static_cast<uint32_t>(position)};
    *tStamp = ASIOTimeStamp{static_cast<uint32_t>(time >> 32), static_cast<uint32_t>(time)};
    return ASE_OK;
}

ASIOError ReferenceDriver::getChannelInfo(ASIOChannelInfo* info) {
    faults_.enter(DriverCall::getChannelInfo);
    throwIfAsked(FailPoint::getChannelInfo);
    if (config_.fails(FailPoint::getChannelInfo)) return config_.failCode;
    if (!info) return ASE_InvalidParameter;
    const bool isInput = info->isInput != 0;
    if (info->channel < 0 || info->channel >= (isInput ? config_.inputs : config_.outputs)) {
        if (!config_.contract.answerMissingChannels) return ASE_InvalidParameter;
        info->isActive = 0;
        info->channelGroup = 0;
        info->_type = isInput ? config_.inputType : config_.outputType;
        std::memset(info->name, 0, sizeof info->name);
        copyCut("Ghost", info->name, sizeof info->name - 1);
        return ASE_OK;
    }
    info->isActive = buffers_.isActive(isInput, info->channel) ? 1 : 0;
    info->channelGroup = config_.channelGroup(info->channel);
    info->_type = config_.sampleType(isInput, info->channel);
    char name[96];
    std::snprintf(name, sizeof name, "%s%s %d", config_.channelNamePrefix.c_str(), isInput ? "In" : "Out",
                  static_cast<int>(info->channel) + 1);
    if (config_.unterminatedNames) {
        fillUnterminated(name, info->name, sizeof info->name);
    } else {
        std::memset(info->name, 0, sizeof info->name);
        copyCut(name, info->name, sizeof info->name - 1);
    }
    return ASE_OK;
}

ASIOError ReferenceDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                         ASIOCallbacks* callbacks) {
    faults_.enter(DriverCall::createBuffers);
    throwIfAsked(FailPoint::createBuffers);
    const ContractFaults& contract = config_.contract;
    const ASIOError status = [&] {
        if (config_.fails(FailPoint::createBuffers)) return config_.failCode;
        if (!initialised_) return ASE_NotPresent;
        if (!callbacks) return ASE_InvalidParameter;
        if (buffers_.exists() && contract.createTwiceAccepted) {
            for (int32_t k = 0; bufferInfos && k < numChannels; ++k)
                bufferInfos[k].buffers[0] = bufferInfos[k].buffers[1] = nullptr;
            return ASE_OK;
        }
        if (buffers_.exists()) return ASE_InvalidMode;
        if (numChannels == 0 && contract.acceptNoChannels) return ASE_OK;
        if (contract.needsHostSupport != 0 && callbacks->asioMessage &&
            callbacks->asioMessage(kAsioSelectorSupported, contract.needsHostSupport, nullptr, nullptr) == 0)
            return ASE_NotPresent;
        const double rate = sampleRate_.load();
        int32_t frames = bufferSize;
        if (contract.sizeClampedSilently && frames >= 1 && !config_.acceptsBufferSize(frames, rate))
            frames = config_.nearestBufferSize(frames, rate);
        const ASIOError created = buffers_.create(bufferInfos, numChannels, frames, config_, rate);
        if (created != ASE_OK) return created;
        callbacks_ = *callbacks;
        useTimeInfo_ = config_.timeInfoMode && hostTakesTimeInfo();
        handedCallbacks_ = callbacks_;
        handedTimeInfo_ = useTimeInfo_;
        handedFrames_ = frames;
        buffersCreatedAt_ = std::chrono::steady_clock::now();
        startedSinceCreate_ = false;
        // The driver keeps streaming through its own buffers; the host gets nothing.
        if (config_.nullBuffers)
            for (int32_t k = 0; k < numChannels; ++k)
                bufferInfos[k].buffers[0] = bufferInfos[k].buffers[1] = nullptr;
        return ASE_OK;
    }();
    journal(statusText("createBuffers", status) + " " + std::to_string(numChannels) + " " +
            std::to_string(bufferSize));
    return status;
}

bool ReferenceDriver::hostTakesTimeInfo() const {
    if (!callbacks_.asioMessage || !callbacks_.bufferSwitchTimeInfo) return false;
    return callbacks_.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
           callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
}

ASIOError ReferenceDriver::disposeBuffers() {
    faults_.enter(DriverCall::disposeBuffers);
    const ASIOError status = [this] {
        if (!buffers_.exists() || disposedWhileRunning_) return ASE_InvalidMode;
        if (config_.contract.disposeLeavesStream && engine_.running()) {
            disposedWhileRunning_ = true; // the stream goes on until stop or the last Release
            return ASE_OK;
        }
        stalled_ = false;
        endStream();
        buffers_.release();
        callbacks_ = ASIOCallbacks{};
        useTimeInfo_ = false;
        return ASE_OK;
    }();
    journal(statusText("disposeBuffers", status));
    if (status == ASE_OK && config_.callbackAfter == CallbackAfter::disposeBuffers) startLingering();
    return status;
}

// No panel to show; the configuration lives in the registry.
ASIOError ReferenceDriver::controlPanel() {
    faults_.enter(DriverCall::controlPanel);
    sleepMillis(config_.controlPanelMs);
    return ASE_OK;
}

// The optional features (time code, input monitoring, ...) answer as FutureSelectors says;
// none is carried out.
ASIOError ReferenceDriver::future(int32_t selector, void*) {
    faults_.enter(DriverCall::future);
    const auto& supported = config_.futureSelectors;
    return std::find(supported.begin(), supported.end(), selector) != supported.end() ? futureSuccess
                                                                                      : ASE_InvalidParameter;
}

ASIOError ReferenceDriver::outputReady() {
    faults_.enter(DriverCall::outputReady);
    holdInsideCallback();
    engine_.countOutputReady();
    return config_.wantsOutputReady ? ASE_OK : ASE_NotPresent;
}

} // namespace refdrv
