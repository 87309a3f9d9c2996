#include "hostileDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "moduleLife.h"
#include "platform/platform.h"

namespace hostile {

namespace {

constexpr ASIOError noClock = -995;
constexpr ASIOError futureSuccess = 0x3F4847A0;
constexpr ASIOSampleType sampleType = ASIOSTInt32LSB;
constexpr ASIOSampleType changedType = ASIOSTFloat32LSB;
constexpr int32_t sampleBytes = 4;
// How long start-pumps keeps calling back from inside start: longer than any wait.
constexpr int64_t pumpSeconds = 600;
constexpr int32_t lateSwitchMs = 10;

// Texts with a bell, an escape sequence, bytes that are no UTF-8 (0xFF, a lone 0xC3) and
// U+FFFE, which XML cannot hold.
constexpr char oddDriverName[] = "Odd\x01Name\x1b[7m\xff\xef\xbf\xbe";
constexpr char oddErrorText[] = "Err\x07or \xc3 \xef\xbf\xbf";
constexpr char oddChannelPrefix[] = "\x07\xc3";
constexpr char oddClockName[] = "\xef\xbf\xbe Clock\x0b";

void copyText(const std::string& text, char* target, size_t room) {
    const size_t count = std::min(text.size(), room - 1);
    std::memcpy(target, text.data(), count);
    target[count] = '\0';
}

} // namespace

HostileDriver::HostileDriver(const plat::Guid& clsid, Tricks tricks)
    : clsid_(clsid), tricks_(std::move(tricks)), clockRate_(tricks_.rate), reportedRate_(tricks_.rate) {
    objectMade();
}

HostileDriver::~HostileDriver() {
    stream_.stop();
    joinLate();
    objectGone();
}

void HostileDriver::enter() const {
    if (tricks_.has(Trick::slowCalls) && tricks_.slowMs > 0)
        plat::sleepMs(static_cast<uint32_t>(tricks_.slowMs));
}

void HostileDriver::joinLate() {
    if (late_.joinable()) late_.join();
}

bool HostileDriver::legalSize(int32_t size) const {
    if (size < tricks_.bufferMin || size > tricks_.bufferMax) return false;
    if (tricks_.granularity == -1) return (size & (size - 1)) == 0;
    if (tricks_.granularity > 1) return (size - tricks_.bufferMin) % tricks_.granularity == 0;
    return true;
}

StreamSetup HostileDriver::setup() const {
    StreamSetup setup;
    setup.callbacks = callbacks_;
    setup.timeInfo = useTimeInfo_;
    setup.frames = frames_;
    setup.clockRate = clockRate_;
    setup.reportedRate = reportedRate_.load();
    setup.systemTimeMicros = tricks_.has(Trick::systemTimeMicros);
    setup.rateChangeStorm = tricks_.has(Trick::rateChangeStorm);
    return setup;
}

int32_t HostileDriver::QueryInterface(const plat::Guid& iid, void** object) {
    if (!object) return plat::hrPointer;
    if (iid == plat::iidUnknown || iid == clsid_) {
        *object = static_cast<IASIO*>(this);
        AddRef();
        return plat::hrOk;
    }
    *object = nullptr;
    return plat::hrNoInterface;
}

uint32_t HostileDriver::AddRef() {
    return references_.fetch_add(1) + 1;
}

uint32_t HostileDriver::Release() {
    const uint32_t remaining = references_.fetch_sub(1) - 1;
    if (remaining == 0) {
        enter();
        delete this;
    }
    return remaining;
}

ASIOBool HostileDriver::init(void*) {
    enter();
    initialised_ = true;
    return 1;
}

void HostileDriver::getDriverName(char* name) {
    enter();
    if (name) copyText(tricks_.has(Trick::oddNames) ? oddDriverName : "Hostile Suite", name, 32);
}

int32_t HostileDriver::getDriverVersion() {
    enter();
    return 1;
}

void HostileDriver::getErrorMessage(char* string) {
    enter();
    if (string) copyText(tricks_.has(Trick::oddNames) ? oddErrorText : "", string, 124);
}

ASIOError HostileDriver::start() {
    enter();
    if (!initialised_ || frames_ == 0) return ASE_NotPresent;
    if (stream_.running() || silent_) return ASE_InvalidMode;
    joinLate();
    const StreamSetup now = setup();
    if (tricks_.has(Trick::restartOnce) && startedOnBuffers_) {
        // The restart flushes one switch it had queued, and the device never wakes up.
        stream_.deliver(now, 0);
        silent_ = true;
        return ASE_OK;
    }
    startedOnBuffers_ = true;
    if (tricks_.has(Trick::startPumps)) {
        // The stream runs on the caller's thread until the device is stopped, which
        // nobody can do while this call lasts.
        const auto periodMs = static_cast<uint32_t>(frames_ * 1000 / clockRate_);
        for (int64_t n = 0; n * periodMs < pumpSeconds * 1000; ++n) {
            stream_.deliver(now, n);
            plat::sleepMs(periodMs > 0 ? periodMs : 1);
        }
        return ASE_OK;
    }
    return stream_.start(now) ? ASE_OK : ASE_NotPresent;
}

ASIOError HostileDriver::stop() {
    enter();
    stream_.stop();
    silent_ = false;
    return ASE_OK;
}

ASIOError HostileDriver::getChannels(int32_t* inputs, int32_t* outputs) {
    enter();
    if (!inputs || !outputs) return ASE_InvalidParameter;
    *inputs = tricks_.inputs;
    *outputs = tricks_.outputs;
    return ASE_OK;
}

ASIOError HostileDriver::getLatencies(int32_t* input, int32_t* output) {
    enter();
    if (!input || !output) return ASE_InvalidParameter;
    *input = *output = frames_ > 0 ? frames_ : tricks_.bufferPreferred;
    return ASE_OK;
}

ASIOError HostileDriver::getBufferSize(int32_t* min, int32_t* max, int32_t* preferred, int32_t* granularity) {
    enter();
    if (!min || !max || !preferred || !granularity) return ASE_InvalidParameter;
    *min = tricks_.bufferMin;
    *max = tricks_.bufferMax;
    *preferred = tricks_.bufferPreferred;
    *granularity = tricks_.granularity;
    return ASE_OK;
}

ASIOError HostileDriver::canSampleRate(ASIOSampleRate rate) {
    enter();
    return std::find(tricks_.rates.begin(), tricks_.rates.end(), rate) != tricks_.rates.end() ? ASE_OK
                                                                                              : noClock;
}

ASIOError HostileDriver::getSampleRate(ASIOSampleRate* rate) {
    enter();
    if (!rate) return ASE_InvalidParameter;
    *rate = reportedRate_.load();
    return ASE_OK;
}

ASIOError HostileDriver::setSampleRate(ASIOSampleRate rate) {
    if (canSampleRate(rate) != ASE_OK) return noClock;
    reportedRate_.store(rate);
    if (!tricks_.has(Trick::rateIgnored)) clockRate_ = rate;
    return ASE_OK;
}

ASIOError HostileDriver::getClockSources(ASIOClockSource* clocks, int32_t* count) {
    enter();
    if (!clocks || !count || *count < 1) return ASE_InvalidParameter;
    std::memset(clocks, 0, sizeof *clocks);
    clocks->associatedChannel = -1;
    clocks->associatedGroup = -1;
    clocks->isCurrentSource = 1;
    copyText(tricks_.has(Trick::oddNames) ? oddClockName : "Internal", clocks->name, sizeof clocks->name);
    *count = tricks_.has(Trick::clockCountHuge) ? 1000 : 1;
    return ASE_OK;
}

ASIOError HostileDriver::setClockSource(int32_t reference) {
    enter();
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError HostileDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) {
    enter();
    if (!position || !stamp) return ASE_InvalidParameter;
    if (frames_ == 0) return ASE_NotPresent;
    int64_t samples = 0, time = 0;
    stream_.position(samples, time);
    *position = {static_cast<uint32_t>(static_cast<uint64_t>(samples) >> 32), static_cast<uint32_t>(samples)};
    *stamp = {static_cast<uint32_t>(static_cast<uint64_t>(time) >> 32), static_cast<uint32_t>(time)};
    return ASE_OK;
}

ASIOError HostileDriver::getChannelInfo(ASIOChannelInfo* info) {
    enter();
    if (!info) return ASE_InvalidParameter;
    const int32_t count = info->isInput ? tricks_.inputs : tricks_.outputs;
    if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    info->isActive = frames_ > 0 ? 1 : 0;
    info->channelGroup = 0;
    info->_type = tricks_.has(Trick::typeChanges) && frames_ > 0 ? changedType : sampleType;
    const std::string name = (tricks_.has(Trick::oddNames) ? std::string(oddChannelPrefix) : std::string()) +
                             (info->isInput ? "In " : "Out ") + std::to_string(info->channel + 1);
    copyText(name, info->name, sizeof info->name);
    return ASE_OK;
}

ASIOError HostileDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size,
                                       ASIOCallbacks* callbacks) {
    enter();
    if (!initialised_) return ASE_NotPresent;
    if (frames_ > 0) return ASE_InvalidMode;
    if (!infos || !callbacks || count < 1 || !legalSize(size)) return ASE_InvalidParameter;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t channels = infos[k].isInput ? tricks_.inputs : tricks_.outputs;
        if (infos[k].channelNum < 0 || infos[k].channelNum >= channels) return ASE_InvalidParameter;
        for (int32_t j = 0; j < k; ++j)
            if (infos[j].channelNum == infos[k].channelNum &&
                (infos[j].isInput != 0) == (infos[k].isInput != 0))
                return ASE_InvalidParameter;
    }
    joinLate();
    // One block for every half; short-buffers lays the halves out at half their length.
    const size_t half = static_cast<size_t>(size) * sampleBytes;
    const size_t stride = tricks_.has(Trick::shortBuffers) ? half / 2 : half;
    memory_.assign(stride * 2 * static_cast<size_t>(count) + half, 0);
    int32_t firstOutput = -1, lastOutput = -1;
    for (int32_t k = 0; k < count; ++k) {
        for (int h = 0; h < 2; ++h)
            infos[k].buffers[h] =
                memory_.data() + stride * (2 * static_cast<size_t>(k) + static_cast<size_t>(h));
        if (!infos[k].isInput) {
            if (firstOutput < 0) firstOutput = k;
            lastOutput = k;
        }
    }
    if (tricks_.has(Trick::sharedBuffer) && lastOutput != firstOutput) {
        infos[lastOutput].buffers[0] = infos[firstOutput].buffers[0];
        infos[lastOutput].buffers[1] = infos[firstOutput].buffers[1];
    }
    callbacks_ = *callbacks;
    useTimeInfo_ =
        tricks_.has(Trick::timeInfoAnyway) ||
        (tricks_.timeInfo && callbacks_.asioMessage &&
         callbacks_.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
         callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1);
    frames_ = size;
    startedOnBuffers_ = false;
    return ASE_OK;
}

ASIOError HostileDriver::disposeBuffers() {
    enter();
    if (frames_ == 0) return ASE_InvalidMode;
    const bool wasRunning = stream_.running();
    stream_.stop();
    silent_ = false;
    frames_ = 0;
    if (tricks_.has(Trick::callbackAfterDispose) && !wasRunning) {
        // A switch the device had queued reaches the host after the buffers are gone.
        joinLate();
        const proc_bufferSwitch bufferSwitch = callbacks_.bufferSwitch;
        late_ = std::thread([bufferSwitch] {
            plat::sleepMs(lateSwitchMs);
            bufferSwitch(0, 1);
        });
    }
    return ASE_OK;
}

ASIOError HostileDriver::controlPanel() {
    enter();
    return ASE_NotPresent;
}

ASIOError HostileDriver::future(int32_t selector, void*) {
    enter();
    if (selector == kAsioCanTimeInfo && (tricks_.timeInfo || tricks_.has(Trick::timeInfoAnyway)))
        return futureSuccess;
    return ASE_InvalidParameter;
}

ASIOError HostileDriver::outputReady() {
    enter();
    return ASE_NotPresent;
}

} // namespace hostile
