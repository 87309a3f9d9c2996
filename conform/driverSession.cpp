#include "conform/driverSession.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "asio/callBeacon.h"
#include "asio/telAsioDriver.h"
#include "platform/platform.h"

namespace conform {

namespace {

// Drivers write names and error texts into a buffer of this size.
constexpr size_t driverTextBytes = 256;
// Most channels of a direction a check asks for.
constexpr int32_t channelsPerDirection = 4096;

int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t fromWords(const ASIOSamples& words) {
    return static_cast<int64_t>((static_cast<uint64_t>(words.hi) << 32) | words.lo);
}

std::string boundedText(const char* buffer, size_t size) {
    const void* zero = std::memchr(buffer, 0, size);
    return std::string(buffer,
                       zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - buffer));
}

} // namespace

DriverSession::DriverSession(const plat::Guid& clsid, SessionTally* tally)
    : f_clsid(clsid), f_tally(tally), f_begin(steadyNanos()) {}

DriverSession::~DriverSession() {
    if (f_asio != nullptr) {
        if (f_running) stop();
        if (f_haveBuffers) disposeBuffers();
        release();
    }
    if (f_tally == nullptr) return;
    f_tally->resetsHonoured += f_resetsHonoured;
    if (f_tally->thrown.empty()) f_tally->thrown = f_thrown;
}

template <class Result, class Body>
Result DriverSession::call(telDriverCall which, Result onThrow, Body&& body) {
    // Without a driver (a reset that could not create it again) every call fails as a
    // call that threw does; creation and the Release of a pointer held apart still run.
    if (f_asio == nullptr && which != telDriverCall::create && which != telDriverCall::release)
        return onThrow;
    // A call that hung before would cost the time limit again: the check stops there.
    if (f_tally != nullptr) {
        if (f_tally->barredNeeded != telDriverCall::none) return onThrow;
        for (telDriverCall barred : f_tally->barred)
            if (barred == which) {
                f_tally->barredNeeded = which;
                return onThrow;
            }
    }
    return callDriver(
        which, onThrow,
        [this](telDriverCall thrower, const char* what) noexcept {
            if (!f_thrown.empty()) return;
            try {
                f_thrown = std::string(what) + " thrown by the driver's " + driverCallName(thrower);
            } catch (...) {
            }
        },
        body);
}

int32_t DriverSession::create() {
    if (f_asio != nullptr) return plat::hrOk;
    void* object = nullptr;
    const int32_t result = call(telDriverCall::create, plat::hrUnexpected,
                                [&] { return plat::coCreateInstance(f_clsid, f_clsid, &object); });
    if (result != plat::hrOk || object == nullptr) {
        if (object != nullptr) {
            IASIO* stray = static_cast<IASIO*>(object);
            call(telDriverCall::release, 0u, [stray] { return stray->Release(); });
        }
        return result != plat::hrOk ? result : plat::hrNoInterface;
    }
    f_asio = static_cast<IASIO*>(object);
    return plat::hrOk;
}

void DriverSession::release() {
    if (f_asio == nullptr) return;
    // The driver goes: whatever calls back from now on calls back too late.
    if (callbackLog().liveSet() == f_set) callbackLog().retire();
    callbackLog().letGo(f_set);
    IASIO* asio = f_asio;
    f_asio = nullptr;
    call(telDriverCall::release, 0u, [asio] { return asio->Release(); });
    f_initialised = f_running = f_haveBuffers = false;
    f_wantsOutputReady = -1;
}

bool DriverSession::init() {
    if (f_asio == nullptr) return false;
    f_initialised = call(telDriverCall::init, ASIOBool{0}, [this] { return f_asio->init(nullptr); }) != 0;
    return f_initialised;
}

std::string DriverSession::driverName() {
    char text[driverTextBytes] = {};
    call(telDriverCall::getDriverName, 0, [&] {
        f_asio->getDriverName(text);
        return 0;
    });
    return boundedText(text, sizeof text);
}

std::string DriverSession::errorMessage() {
    char text[driverTextBytes] = {};
    call(telDriverCall::getErrorMessage, 0, [&] {
        f_asio->getErrorMessage(text);
        return 0;
    });
    return boundedText(text, sizeof text);
}

int32_t DriverSession::driverVersion() {
    return call(telDriverCall::getDriverVersion, int32_t{0}, [this] { return f_asio->getDriverVersion(); });
}

ASIOError DriverSession::getChannels(int32_t& inputs, int32_t& outputs) {
    return call(telDriverCall::getChannels, telDriverThrew,
                [&] { return f_asio->getChannels(&inputs, &outputs); });
}

ASIOError DriverSession::getBufferSize(measure::BufferSizeRule& rule) {
    return call(telDriverCall::getBufferSize, telDriverThrew, [&] {
        return f_asio->getBufferSize(&rule.min, &rule.max, &rule.preferred, &rule.granularity);
    });
}

ASIOError DriverSession::getLatencies(int32_t& input, int32_t& output) {
    return call(telDriverCall::getLatencies, telDriverThrew,
                [&] { return f_asio->getLatencies(&input, &output); });
}

ASIOError DriverSession::canSampleRate(double rate) {
    return call(telDriverCall::canSampleRate, telDriverThrew, [&] { return f_asio->canSampleRate(rate); });
}

ASIOError DriverSession::getSampleRate(double& rate) {
    return call(telDriverCall::getSampleRate, telDriverThrew, [&] { return f_asio->getSampleRate(&rate); });
}

ASIOError DriverSession::setSampleRate(double rate) {
    return call(telDriverCall::setSampleRate, telDriverThrew, [&] { return f_asio->setSampleRate(rate); });
}

ASIOError DriverSession::getClockSources(ASIOClockSource* sources, int32_t& count) {
    return call(telDriverCall::getClockSources, telDriverThrew,
                [&] { return f_asio->getClockSources(sources, &count); });
}

ASIOError DriverSession::setClockSource(int32_t index) {
    return call(telDriverCall::setClockSource, telDriverThrew, [&] { return f_asio->setClockSource(index); });
}

ASIOError DriverSession::getSamplePosition(int64_t& position, int64_t& systemTime) {
    ASIOSamples samples{};
    ASIOTimeStamp stamp{};
    const ASIOError status = call(telDriverCall::getSamplePosition, telDriverThrew,
                                  [&] { return f_asio->getSamplePosition(&samples, &stamp); });
    position = fromWords(samples);
    systemTime = fromWords(stamp);
    return status;
}

ASIOError DriverSession::getChannelInfo(ASIOChannelInfo& info) {
    return call(telDriverCall::getChannelInfo, telDriverThrew, [&] { return f_asio->getChannelInfo(&info); });
}

ASIOError DriverSession::controlPanel() {
    return call(telDriverCall::controlPanel, telDriverThrew, [this] { return f_asio->controlPanel(); });
}

ASIOError DriverSession::future(int32_t selector, void* argument) {
    return call(telDriverCall::future, telDriverThrew, [&] { return f_asio->future(selector, argument); });
}

ASIOError DriverSession::outputReady() {
    return call(telDriverCall::outputReady, telDriverThrew, [this] { return f_asio->outputReady(); });
}

std::vector<ChannelPick> DriverSession::allChannels() {
    int32_t inputs = 0, outputs = 0;
    std::vector<ChannelPick> picks;
    if (getChannels(inputs, outputs) != ASE_OK) return picks;
    for (int32_t k = 0; k < inputs && k < channelsPerDirection; ++k)
        picks.push_back({true, k});
    for (int32_t k = 0; k < outputs && k < channelsPerDirection; ++k)
        picks.push_back({false, k});
    return picks;
}

int32_t DriverSession::runSize() {
    measure::BufferSizeRule rule{};
    if (getBufferSize(rule) != ASE_OK) return 256;
    return measure::nearestLegalBufferSize(rule, rule.preferred).value_or(rule.preferred);
}

bool DriverSession::wantsOutputReady() {
    if (f_wantsOutputReady < 0) f_wantsOutputReady = outputReady() == ASE_OK ? 1 : 0;
    return f_wantsOutputReady == 1;
}

ASIOError DriverSession::createBuffers(const std::vector<ChannelPick>& channels, int32_t size) {
    BufferRequest request{channels, size, {}};
    request.callbacks.callOutputReady = wantsOutputReady();
    return createBuffers(request);
}

ASIOError DriverSession::createBuffers(const BufferRequest& request) {
    f_infos.assign(request.channels.size(), ASIOBufferInfo{});
    for (size_t k = 0; k < request.channels.size(); ++k) {
        f_infos[k].isInput = request.channels[k].input ? 1 : 0;
        f_infos[k].channelNum = request.channels[k].channel;
    }
    ASIOCallbacks* callbacks = callbackLog().takeSet(f_asio, request.callbacks);
    f_set = callbackLog().liveSet();
    const ASIOError status = call(telDriverCall::createBuffers, telDriverThrew, [&] {
        return f_asio->createBuffers(f_infos.data(), static_cast<int32_t>(f_infos.size()), request.size,
                                     callbacks);
    });
    if (status != ASE_OK) {
        callbackLog().retire();
        return status;
    }
    f_haveBuffers = true;
    f_request = request;
    return status;
}

ASIOError DriverSession::createBuffersRaw(ASIOBufferInfo* infos, int32_t count, int32_t size) {
    ASIOCallbacks* callbacks = callbackLog().takeSet(f_asio, CallbackSettings{});
    f_set = callbackLog().liveSet();
    const ASIOError status = call(telDriverCall::createBuffers, telDriverThrew,
                                  [&] { return f_asio->createBuffers(infos, count, size, callbacks); });
    if (status != ASE_OK) {
        callbackLog().retire();
        return status;
    }
    f_haveBuffers = true;
    f_request = BufferRequest{};
    f_infos.clear();
    return status;
}

bool DriverSession::nullBuffer() const {
    for (const ASIOBufferInfo& info : f_infos)
        if (info.buffers[0] == nullptr || info.buffers[1] == nullptr) return true;
    return false;
}

ASIOError DriverSession::disposeBuffers() {
    const ASIOError status =
        call(telDriverCall::disposeBuffers, telDriverThrew, [this] { return f_asio->disposeBuffers(); });
    if (status == ASE_OK) {
        // A stream that was stopped must call back no more; one disposed while running
        // is dispose-running's to judge.
        if (callbackLog().liveSet() == f_set) {
            if (f_running)
                callbackLog().retire();
            else
                callbackLog().retireDisposed();
        }
        f_haveBuffers = f_running = false;
    }
    return status;
}

ASIOError DriverSession::start() {
    const ASIOError status = call(telDriverCall::start, telDriverThrew, [this] { return f_asio->start(); });
    if (status == ASE_OK) f_running = true;
    return status;
}

ASIOError DriverSession::stop() {
    f_running = false;
    return call(telDriverCall::stop, telDriverThrew, [this] { return f_asio->stop(); });
}

double DriverSession::now() const {
    return secondsAt(steadyNanos());
}

double DriverSession::secondsAt(int64_t stamp) const {
    return static_cast<double>(stamp - f_begin) / 1e9;
}

uint32_t DriverSession::liveSwitches() const {
    return callbackLog().liveSet() == f_set && f_set >= 0 ? callbackLog().counts(f_set).switches : 0;
}

uint32_t DriverSession::notedSwitches() const {
    return callbackLog().liveSet() == f_set && f_set >= 0 ? callbackLog().counts(f_set).finished : 0;
}

bool DriverSession::waitForSwitches(uint32_t count, double limit) {
    const double until = now() + limit;
    for (;;) {
        beatCallBeacon(); // waiting is the check's plan, not a hang
        honourResetRequests();
        if (notedSwitches() >= count) return true;
        if (now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void DriverSession::pause(double seconds) {
    const double until = now() + seconds;
    while (now() < until) {
        beatCallBeacon();
        honourResetRequests();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::vector<SwitchNote> DriverSession::notesSince(uint32_t from) const {
    return callbackLog().notes(from);
}

uint32_t DriverSession::noteMark() const {
    return callbackLog().noteCount();
}

void DriverSession::honourResetRequests() {
    if (f_inReset || !callbackLog().takeResetRequest()) return;
    ASIOError status = ASE_OK;
    resetCycle(status);
    ++f_resetsHonoured;
}

std::string DriverSession::resetCycle(ASIOError& status) {
    f_inReset = true;
    const bool wasRunning = f_running, hadBuffers = f_haveBuffers, wasInitialised = f_initialised;
    const BufferRequest request = f_request;
    std::string failedStep;
    // The first step that failed is told; stop and disposeBuffers failing does not keep
    // the host from going on, a step that builds the driver up again does.
    auto note = [&](const char* name, ASIOError result) {
        if (result != ASE_OK && failedStep.empty()) {
            failedStep = name;
            status = result;
        }
        return result == ASE_OK;
    };
    if (f_running) note("stop", stop());
    if (f_haveBuffers) note("disposeBuffers", disposeBuffers());
    release();
    if (note("create", create()) && (!wasInitialised || note("init", init() ? ASE_OK : ASE_NotPresent)) &&
        (!hadBuffers || request.channels.empty() || note("createBuffers", createBuffers(request))) &&
        wasRunning)
        note("start", start());
    f_inReset = false;
    return failedStep;
}

} // namespace conform
