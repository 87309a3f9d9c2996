#include "stream.h"

#include <cstring>

#include "platform/platform.h"

namespace hostile {

namespace {

// A 64-bit quantity as the driver interface carries it: the high word first.
void toWords(int64_t value, void* field) {
    const ASIOSamples words{static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32),
                            static_cast<uint32_t>(value)};
    std::memcpy(field, &words, sizeof words);
}

} // namespace

bool Stream::start(const StreamSetup& setup) {
    stop();
    setup_ = setup;
    position_.store(0);
    systemTime_.store(0);
    ending_.store(false);
    thread_ = std::thread([this] { run(); });
    return true;
}

void Stream::stop() {
    ending_.store(true);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Stream::position(int64_t& samples, int64_t& systemTime) const {
    samples = position_.load();
    systemTime = systemTime_.load();
}

void Stream::deliver(const StreamSetup& setup, int64_t n) {
    const int64_t now = plat::steadyNanoseconds();
    position_.store(n * setup.frames);
    systemTime_.store(setup.systemTimeMicros ? now / 1000 : now);
    const int32_t half = static_cast<int32_t>(n % 2);
    if (setup.rateChangeStorm && setup.callbacks.sampleRateChanged)
        setup.callbacks.sampleRateChanged(setup.reportedRate);
    if (!setup.timeInfo) {
        setup.callbacks.bufferSwitch(half, 1);
        return;
    }
    std::memset(&record_, 0, sizeof record_);
    record_.timeInfo.speed = 1.0;
    record_.timeInfo.sampleRate = setup.reportedRate;
    record_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    toWords(position_.load(), &record_.timeInfo.samplePosition);
    toWords(systemTime_.load(), &record_.timeInfo.systemTime);
    setup.callbacks.bufferSwitchTimeInfo(&record_, half, 1);
}

void Stream::run() {
    plat::raiseThreadToAudioPriority();
    plat::PreciseSleeper sleeper;
    const double periodNs = setup_.frames / setup_.clockRate * 1e9;
    const int64_t began = plat::steadyNanoseconds();
    for (int64_t n = 0; !ending_.load(); ++n) {
        sleeper.sleepUntilNs(began + static_cast<int64_t>(periodNs * static_cast<double>(n + 1)));
        if (ending_.load()) break;
        deliver(setup_, n);
    }
}

} // namespace hostile
