// The driver object: lifecycle, pass-through operations, channel tables and the four
// callback handlers. The sample writer is in sampleAccess.cpp, the callback slots in
// telAsioBufferProcessor.cpp.
#include "asio/telAsioDriver.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "asio/telAsioBufferProcessor.h"
#include "util/telUtils.h"

namespace {

// Drivers write names and error texts into a buffer of this size.
constexpr int32_t driverTextBufferSize = 256;

// Length of the text in `buffer` up to its first zero byte, never past `size` bytes,
// so an unterminated text from a driver is still read safely.
size_t boundedLength(const char* buffer, size_t size) {
    const void* zero = std::memchr(buffer, 0, size);
    return zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - buffer);
}

// Channel counts as the arrays can hold them: nothing below 0, at most 256 a direction.
int32_t usableChannelCount(int32_t reported) {
    if (reported < 0) return 0;
    if (reported > telMaxChannelsPerDirection) return telMaxChannelsPerDirection;
    return reported;
}

// The driver reports 64-bit positions as two 32-bit words, high word first.
int64_t fromDriverWords(const ASIOSamples& words) {
    return static_cast<int64_t>((static_cast<uint64_t>(words.hi) << 32) | words.lo);
}

ASIOSamples toDriverWords(int64_t value) {
    ASIOSamples words;
    std::memcpy(&words, &value, sizeof(words)); // the value's bytes as the driver finds them
    return words;
}

// The host's built-in answers to driver messages.
int32_t builtInAnswer(int32_t selector, int32_t value) {
    switch (selector) {
    case kAsioSelectorSupported:
        switch (value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
        case kAsioSupportsInputMonitor:
            return 1;
        default:
            return 0;
        }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
    case kAsioResyncRequest:
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
        return 1;
    default: // buffer size change, time code, input monitor and anything unknown
        return 0;
    }
}

} // namespace

telAsioDriver::telAsioDriver(IASIO* asio) : f_asio(asio) {
    if (f_asio != nullptr) f_asio->AddRef();
}

telAsioDriver::~telAsioDriver() {
    stop(telTrue);
    release();
    // A processor may outlive this object; leave it without a dangling driver reference.
    if (bufferProcessor() != nullptr) setBufferProcessor(nullptr);
    // The driver interface goes last: the steps above still call the driver.
    IASIO* asio = f_asio;
    f_asio = nullptr;
    if (asio != nullptr) guarded(telDriverCall::release, 0u, [asio] { return asio->Release(); });
}

// ---------------------------------------------------------------- lifecycle

ASIOError telAsioDriver::init(int32_t sysref, telBool createBuffers, int32_t bufSize) {
    bool fromLoaded = f_driverState == dsLoaded;
    if (!fromLoaded && !(f_driverState == dsInitialized && createBuffers)) return ASE_InvalidMode;

    if (fromLoaded && !guarded(telDriverCall::init, ASIOBool{0}, [&] {
            return f_asio->init(reinterpret_cast<void*>(static_cast<intptr_t>(sysref)));
        })) {
        copyTextToBuffer(getDriverError(telTrue), f_driverInfo.errorMessage,
                         static_cast<int32_t>(sizeof(f_driverInfo.errorMessage)) - 1);
        return ASE_NotPresent;
    }

    f_driverInfo.asioVersion = 2;
    f_driverInfo.driverVersion =
        guarded(telDriverCall::getDriverVersion, int32_t{0}, [this] { return f_asio->getDriverVersion(); });
    char name[driverTextBufferSize] = {};
    guarded(telDriverCall::getDriverName, 0, [&] {
        f_asio->getDriverName(name);
        return 0;
    });
    copyTextToBuffer(telAnsiText(name, boundedLength(name, sizeof(name))), f_driverInfo.name,
                     static_cast<int32_t>(sizeof(f_driverInfo.name)) - 1);

    f_handle = sysref;
    std::memset(f_driverInfo.errorMessage, 0, sizeof(f_driverInfo.errorMessage));

    // A slot still held from an earlier init (stop with buffers released, no release)
    // is used again rather than taking a second one.
    if (f_di < 0) {
        int32_t slot = allocateCallbackSlot(this);
        if (slot < 0) return ASE_NoMemory;
        f_di = slot;
    }
    f_driverState = dsInitialized;
    f_callbacks = slotCallbacks[f_di];

    if (!createBuffers) return ASE_OK;
    ASIOError result = prepareBuffers(bufSize);
    future(kAsioEnableTimeCodeRead, nullptr);
    return result;
}

telBool telAsioDriver::release() {
    // Disposes the buffers also when the driver refused to stop, unless a callback was
    // found still inside on the way.
    if (stop(telTrue) != telCallbackInside) freeBuffers();
    if (f_di >= 0) {
        // A callback still inside after the wait keeps the slot in mind: every later wait
        // is on it, until the callback has been seen to leave.
        if (!freeCallbackSlot(f_di)) {
            f_callbackStillInside = true;
            f_vacatedSlot = f_di;
        }
        f_di = -1;
    }
    return telTrue;
}

bool telAsioDriver::waitForCallbacksToLeave() {
    const int32_t slot = f_di >= 0 ? f_di : f_vacatedSlot;
    if (!waitUntilSlotQuiet(slot, telCallbackLeaveWaitMs)) {
        f_callbackStillInside = true;
        return false;
    }
    // Every callback that entered this object before its slot was cleared has left.
    if (f_di < 0) f_vacatedSlot = -1;
    f_callbackStillInside = false;
    return true;
}

ASIOError telAsioDriver::start(telBool createBuffers, int32_t bufSize) {
    f_looksLike24 = telTrue;
    ASIOError prepared = createBuffers ? prepareBuffers(bufSize) : ASE_OK;
    if (prepared != ASE_OK || f_driverState != dsPrepared) return ASE_InvalidMode;
    ASIOError result = guarded(telDriverCall::start, telDriverThrew, [this] { return f_asio->start(); });
    if (result == ASE_OK) f_driverState = dsRunning;
    return result;
}

ASIOError telAsioDriver::stop(telBool releaseBuffers) {
    ASIOError result = ASE_OK;
    if (f_driverState == dsRunning) {
        result = guarded(telDriverCall::stop, telDriverThrew, [this] { return f_asio->stop(); });
        f_driverState = dsPrepared; // the buffers still exist, whatever the driver said
    }
    if (result == ASE_OK && releaseBuffers) result = freeBuffers();
    return result;
}

ASIOError telAsioDriver::readDriverFigures() {
    // The driver may write the counts even when it fails; whatever it wrote is kept,
    // limited to what the channel arrays hold.
    int32_t inputs = f_inputChannels;
    int32_t outputs = f_outputChannels;
    ASIOError status =
        guarded(telDriverCall::getChannels, telDriverThrew, [&] { return f_asio->getChannels(&inputs, &outputs); });
    f_inputChannels = usableChannelCount(inputs);
    f_outputChannels = usableChannelCount(outputs);
    if (status != ASE_OK) return -1;

    if (getBufferSize(f_minBufSize, f_maxBufSize, f_preferredBufSize, f_granularity) != ASE_OK) return -1;

    if (!f_keepRate) {
        const double rate = sampleRate();
        if (!(rate >= 1.0 && rate <= 96000.0) && setSampleRate(44100.0) != ASE_OK) return -5;
    }

    f_postOutput = toTelBool(outputReady() == ASE_OK);
    return ASE_OK;
}

ASIOError telAsioDriver::prepareBuffers(int32_t bufSize) {
    if (f_driverState != dsInitialized) return ASE_InvalidMode;
    ASIOError result = readDriverFigures();
    if (result != ASE_OK) return result;

    // Raise to the minimum first, then lower to the maximum: the maximum wins when a
    // driver reports a minimum above it.
    int32_t size = bufSize;
    if (size < 0) {
        size = f_preferredBufSize;
    } else {
        if (size < f_minBufSize) size = f_minBufSize;
        if (size > f_maxBufSize) size = f_maxBufSize;
    }
    f_actualBufSize = size;

    int32_t total = f_inputChannels + f_outputChannels;
    for (int32_t k = 0; k < total; ++k) {
        bool input = k < f_inputChannels;
        f_bufferInfo[k].isInput = input ? 1 : 0;
        f_bufferInfo[k].channelNum = input ? k : k - f_inputChannels;
        f_bufferInfo[k].buffers[0] = nullptr;
        f_bufferInfo[k].buffers[1] = nullptr;
    }

    result = guarded(telDriverCall::createBuffers, telDriverThrew,
                     [&] { return f_asio->createBuffers(f_bufferInfo, total, f_actualBufSize, &f_callbacks); });
    if (result != ASE_OK) return result;

    for (int32_t k = 0; k < total && result == ASE_OK; ++k) {
        f_channelInfo[k].channel = f_bufferInfo[k].channelNum;
        f_channelInfo[k].isInput = f_bufferInfo[k].isInput;
        result = guarded(telDriverCall::getChannelInfo, telDriverThrew,
                         [&] { return f_asio->getChannelInfo(&f_channelInfo[k]); });
    }
    if (result == ASE_OK)
        result = guarded(telDriverCall::getLatencies, telDriverThrew,
                         [this] { return f_asio->getLatencies(&f_inputLatency, &f_outputLatency); });

    f_driverState = dsPrepared; // the driver's buffers exist even when a later step failed
    f_buffersLive.store(true);  // the tables are complete: buffer switches may use them
    return result;
}

ASIOError telAsioDriver::readLatencies() {
    int32_t input = f_inputLatency, output = f_outputLatency;
    const ASIOError status = guarded(telDriverCall::getLatencies, telDriverThrew,
                                     [&] { return f_asio->getLatencies(&input, &output); });
    if (status != ASE_OK) return status;
    f_inputLatency = input;
    f_outputLatency = output;
    return status;
}

bool telAsioDriver::closeBufferGate() {
    f_buffersLive.store(false);
    return waitForCallbacksToLeave();
}

ASIOError telAsioDriver::freeBuffers() {
    if (f_driverState == dsRunning) {
        stop(telTrue); // stops, then comes back here in dsPrepared
        return ASE_OK;
    }
    ASIOError result = ASE_InvalidMode;
    if (f_driverState == dsPrepared) {
        // A driver whose stop failed may still be calling back: no switch may use the
        // tables from here on, since they are cleared once the buffers are gone. While a
        // callback is still inside, nothing it may touch is disposed or cleared.
        if (!closeBufferGate()) return telCallbackInside;
        result = guarded(telDriverCall::disposeBuffers, telDriverThrew, [this] { return f_asio->disposeBuffers(); });
    }
    if (result == ASE_OK) std::memset(f_bufferInfo, 0, sizeof(f_bufferInfo));
    // An object whose driver was never initialised stays in dsLoaded, so that a later
    // init still initialises the driver.
    if (f_driverState != dsLoaded) f_driverState = dsInitialized;
    return result;
}

// ---------------------------------------------------------------- what drivers throw

void telAsioDriver::noteThrow(telDriverCall call, const char* what) noexcept {
    bool expected = false;
    if (!f_throwClaimed.compare_exchange_strong(expected, true)) return; // the first one is kept
    f_throwCall = call;
    size_t length = 0;
    for (; what != nullptr && what[length] != '\0' && length + 1 < sizeof f_throwText; ++length)
        f_throwText[length] = what[length];
    f_throwText[length] = '\0';
    f_throwNoted.store(true, std::memory_order_release);
}

std::string telAsioDriver::driverThrow() const {
    if (!f_throwNoted.load(std::memory_order_acquire)) return {};
    return std::string(f_throwText) + " thrown by the driver's " + driverCallName(f_throwCall);
}

// ---------------------------------------------------------------- pass-through

telBool telAsioDriver::canSampleRate(double sampleRate) {
    return toTelBool(guarded(telDriverCall::canSampleRate, telDriverThrew,
                             [&] { return f_asio->canSampleRate(sampleRate); }) == ASE_OK);
}

ASIOError telAsioDriver::setSampleRate(double sampleRate) {
    return guarded(telDriverCall::setSampleRate, telDriverThrew, [&] { return f_asio->setSampleRate(sampleRate); });
}

double telAsioDriver::sampleRate() {
    double rate = 0.0; // what a driver that fails without writing is read as
    guarded(telDriverCall::getSampleRate, telDriverThrew, [&] { return f_asio->getSampleRate(&rate); });
    return rate;
}

ASIOError telAsioDriver::getSamplePosition(int64_t& sPos, int64_t& tStamp) {
    // The driver fills the caller's two values in its own word order; both are read
    // back as native integers whatever the status, so a failed call that writes
    // nothing gives the word-swapped values the caller passed in.
    ASIOSamples position = toDriverWords(sPos);
    ASIOTimeStamp stamp = toDriverWords(tStamp);
    ASIOError result = guarded(telDriverCall::getSamplePosition, telDriverThrew,
                               [&] { return f_asio->getSamplePosition(&position, &stamp); });
    sPos = fromDriverWords(position);
    tStamp = fromDriverWords(stamp);
    return result;
}

ASIOError telAsioDriver::controlPanel() {
    return guarded(telDriverCall::controlPanel, telDriverThrew, [this] { return f_asio->controlPanel(); });
}

ASIOError telAsioDriver::future(int32_t selector, void* opt) {
    return guarded(telDriverCall::future, telDriverThrew, [&] { return f_asio->future(selector, opt); });
}

ASIOError telAsioDriver::outputReady() {
    return guarded(telDriverCall::outputReady, telDriverThrew, [this] { return f_asio->outputReady(); });
}

telAnsiText telAsioDriver::getDriverError(telBool hardCall) {
    if (!hardCall)
        return telAnsiText(f_driverInfo.errorMessage,
                           boundedLength(f_driverInfo.errorMessage, sizeof(f_driverInfo.errorMessage)));
    char text[driverTextBufferSize] = {};
    guarded(telDriverCall::getErrorMessage, 0, [&] {
        f_asio->getErrorMessage(text);
        return 0;
    });
    return telAnsiText(text, boundedLength(text, sizeof(text)));
}

ASIOError telAsioDriver::getClockSources(pASIOClockSources clocks, int32_t& numSources) {
    if (clocks == nullptr || numSources < 0) return ASE_InvalidParameter;
    const int32_t room = numSources;
    ASIOError result = guarded(telDriverCall::getClockSources, telDriverThrew,
                               [&] { return f_asio->getClockSources(clocks, &numSources); });
    // A driver that claims more sources than there was room for filled no more than the room.
    if (numSources > room) numSources = room;
    if (numSources < 0) numSources = 0;
    return result;
}

ASIOError telAsioDriver::setClockSource(int32_t reference) {
    return guarded(telDriverCall::setClockSource, telDriverThrew, [&] { return f_asio->setClockSource(reference); });
}

ASIOError telAsioDriver::getChannels(int32_t& inputs, int32_t& outputs) {
    return guarded(telDriverCall::getChannels, telDriverThrew, [&] { return f_asio->getChannels(&inputs, &outputs); });
}

ASIOError telAsioDriver::getBufferSize(int32_t& minSize, int32_t& maxSize, int32_t& preferredSize,
                                       int32_t& granularity) {
    return guarded(telDriverCall::getBufferSize, telDriverThrew,
                   [&] { return f_asio->getBufferSize(&minSize, &maxSize, &preferredSize, &granularity); });
}

// ---------------------------------------------------------------- channel tables

bool telAsioDriver::validIndex(int32_t index) const {
    return index >= 0 && index < f_inputChannels + f_outputChannels;
}

pASIOBufferInfo telAsioDriver::getBufferInfoByIndex(int32_t index) {
    return validIndex(index) ? &f_bufferInfo[index] : nullptr;
}

pASIOChannelInfo telAsioDriver::getChannelInfoByIndex(int32_t index) {
    return validIndex(index) ? &f_channelInfo[index] : nullptr;
}

telAsioBufferProcessor* telAsioDriver::bufferProcessor() const {
    return std::atomic_ref<telAsioBufferProcessor*>(const_cast<telAsioBufferProcessor*&>(f_bp)).load();
}

bool telAsioDriver::setBufferProcessor(telAsioBufferProcessor* processor) {
    telAsioBufferProcessor* former = bufferProcessor();
    if (processor != nullptr) processor->setDriver(this);
    std::atomic_ref<telAsioBufferProcessor*>(f_bp).store(processor);
    // A callback that took the former processor before the store may still run in it.
    if (!waitForCallbacksToLeave()) return false;
    if (former != nullptr && former != processor) former->setDriver(nullptr);
    return true;
}

// ---------------------------------------------------------------- callback handlers
// These run on the driver's thread: no allocation, no lock, no output. The processor
// pointer is read once per callback; a detach waits until the callback has left.

void telAsioDriver::handleBufferSwitch(int32_t index, telBool processNow) {
    telAsioBufferProcessor* processor = bufferProcessor();
    if (processor != nullptr && processor->doBufferSwitch(index, processNow)) return;
    if (f_onBS) f_onBS.code(f_onBS.receiver, this, index, processNow);

    // Drivers that only call bufferSwitch get the time-info path with a record of our own.
    ASIOTime time;
    std::memset(&time, 0, sizeof(time));
    time.timeInfo.speed = 1.0;
    time.timeInfo.sampleRate = sampleRate();
    int64_t position = 0;
    int64_t systemTime = 0;
    ASIOError status = getSamplePosition(position, systemTime);
    time.timeInfo.samplePosition = position;
    time.timeInfo.systemTime = systemTime;
    time.timeInfo.flags = status == ASE_OK ? kSystemTimeValid | kSamplePositionValid : 0;
    handleBufferSwitchTimeInfo(&time, index, processNow);
}

pASIOTime telAsioDriver::handleBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow) {
    telAsioBufferProcessor* processor = bufferProcessor();
    if (processor != nullptr && processor->doBufferSwitchTimeInfo(timeInfo, index, processNow, timeInfo))
        return timeInfo;

    // Nobody filled the outputs: send silence rather than whatever the half held.
    if (index == 0 || index == 1) {
        // Within the channel table whatever counts the driver gave.
        const int32_t first = std::clamp(f_inputChannels, 0, telMaxChannels);
        const int32_t end = std::clamp(f_inputChannels + f_outputChannels, first, telMaxChannels);
        for (int32_t k = first; k < end; ++k) {
            const ASIOChannelInfo& channel = f_channelInfo[k];
            if (channel.isInput || !channel.isActive) continue;
            int32_t bytes = getBufferSizeInBytes(k);
            const ASIOBufferInfo& info = f_bufferInfo[k];
            void* buffer = index == 0 ? info.buffers[0] : info.buffers[1];
            if (bytes > 0 && buffer != nullptr) std::memset(buffer, 0, static_cast<size_t>(bytes));
        }
    }

    if (f_onBSTI) f_onBSTI.code(f_onBSTI.receiver, this, timeInfo, index, processNow, timeInfo);
    if (f_postOutput) outputReady();
    return timeInfo;
}

void telAsioDriver::handleSampleRateChanged(double rate) {
    telAsioBufferProcessor* processor = bufferProcessor();
    if (processor != nullptr && processor->doSampleRateChanged(rate)) return;
    if (f_onSRC) f_onSRC.code(f_onSRC.receiver, this, rate);
}

int32_t telAsioDriver::handleAsioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    int32_t answer = 0; // also what a processor that handles a message without answering returns
    telAsioBufferProcessor* processor = bufferProcessor();
    if (processor != nullptr && processor->doAsioMessage(selector, value, message, opt, answer))
        return answer;

    answer = builtInAnswer(selector, value);
    if (selector == kAsioResetRequest) f_shouldReset = telTrue;
    if (f_onAM) f_onAM.code(f_onAM.receiver, this, selector, value, message, opt, answer);
    return answer;
}
