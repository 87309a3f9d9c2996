#include "testdriver/streamEngine.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

#include "testdriver/captureFormat.h"
#include "testdriver/inputSignal.h"

namespace refdrv {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nanosOf(Clock::time_point point) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(point.time_since_epoch()).count();
}

// A 64-bit quantity as the driver interface hands it over: high word first.
ASIOSamples splitWords(int64_t value) {
    const uint64_t bits = static_cast<uint64_t>(value);
    return ASIOSamples{static_cast<uint32_t>(bits >> 32), static_cast<uint32_t>(bits)};
}

void raiseToAtLeast(std::atomic<uint32_t>& maximum, uint32_t value) {
    uint32_t seen = maximum.load(std::memory_order_relaxed);
    while (value > seen && !maximum.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

} // namespace

bool StreamEngine::start(const BufferSet& buffers, const ASIOCallbacks& callbacks, bool useTimeInfo,
                         const std::atomic<double>& sampleRate, CaptureRecorder* recorder) {
    stop();
    buffers_ = &buffers;
    callbacks_ = callbacks;
    useTimeInfo_ = useTimeInfo;
    sampleRate_ = &sampleRate;
    recorder_ = recorder;
    stopRequested_.store(false);
    position_.store(0);
    systemTime_.store(nanosOf(Clock::now()));
    switches_.store(0);
    lateSwitches_.store(0);
    maxCallbackMicros_.store(0);
    outputReadyCalls_.store(0);
    try {
        thread_ = std::thread(&StreamEngine::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void StreamEngine::stop() {
    if (!thread_.joinable()) return;
    stopRequested_.store(true, std::memory_order_release);
    thread_.join();
}

StreamStats StreamEngine::stats() const {
    StreamStats stats;
    stats.switches = switches_.load();
    stats.lateSwitches = lateSwitches_.load();
    stats.maxCallbackMicros = maxCallbackMicros_.load();
    stats.outputReadyCalls = outputReadyCalls_.load();
    stats.timeInfoCallbacks = useTimeInfo_;
    return stats;
}

// Switch n is due one buffer period after switch n - 1, on an absolute schedule, so
// sleeping late once does not shift every later switch.
void StreamEngine::run() {
    const int32_t frames = buffers_->frames();
    Clock::time_point deadline = Clock::now();
    for (uint32_t switchNumber = 0;; ++switchNumber) {
        double rate = sampleRate_->load(std::memory_order_relaxed);
        if (!(rate > 0.0)) rate = 44100.0;
        const auto period = std::chrono::nanoseconds(std::llround(frames * 1e9 / rate));
        deadline += period;
        std::this_thread::sleep_until(deadline);
        if (stopRequested_.load(std::memory_order_acquire)) break;

        switchBuffers(switchNumber, static_cast<int32_t>(switchNumber & 1), rate);

        // Far behind (the machine or the host stalled): restart the schedule from now
        // rather than firing a burst of switches to catch up.
        const Clock::time_point now = Clock::now();
        if (now - deadline > 2 * period) deadline = now;
    }
}

void StreamEngine::switchBuffers(uint32_t switchNumber, int32_t half, double rate) {
    const int32_t frames = buffers_->frames();
    const int64_t position = static_cast<int64_t>(switchNumber) * frames;
    for (const ChannelBuffer& buffer : buffers_->inputs())
        fillInputSignal(buffer.halves[half], buffer.type, buffer.channel, position, frames);
    for (const ChannelBuffer& buffer : buffers_->outputs())
        std::memset(buffer.halves[half], capture::sentinelByte, buffer.bytes);

    const Clock::time_point begin = Clock::now();
    systemTime_.store(nanosOf(begin), std::memory_order_release);
    position_.store(position, std::memory_order_release);

    if (useTimeInfo_ && callbacks_.bufferSwitchTimeInfo) {
        ASIOTime time{};
        time.timeInfo.speed = 1.0;
        const ASIOSamples systemTime = splitWords(nanosOf(begin));
        const ASIOSamples samplePosition = splitWords(position);
        std::memcpy(&time.timeInfo.systemTime, &systemTime, sizeof systemTime);
        std::memcpy(&time.timeInfo.samplePosition, &samplePosition, sizeof samplePosition);
        time.timeInfo.sampleRate = rate;
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
        callbacks_.bufferSwitchTimeInfo(&time, half, 1);
    } else if (callbacks_.bufferSwitch) {
        callbacks_.bufferSwitch(half, 1);
    }

    const auto elapsed = Clock::now() - begin;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    const double periodSeconds = frames / rate;
    switches_.fetch_add(1, std::memory_order_relaxed);
    if (std::chrono::duration<double>(elapsed).count() > periodSeconds)
        lateSwitches_.fetch_add(1, std::memory_order_relaxed);
    raiseToAtLeast(maxCallbackMicros_, micros > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(micros));

    if (recorder_) recorder_->record(switchNumber, half, *buffers_);
}

} // namespace refdrv
